#pragma once
// A station on a temporary program folder with the sample data, and the pages over it.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <tuple>
#include <vector>

#include "app/Station.h"
#include "gui/SettingsPages.h"
#include "config/IniFile.h"
#include "sim/SampleData.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"

namespace qk::gui::test {

struct PagesFixture {
  qk::test::TempDir dir;
  qk::test::RecordingOperator op;
  std::unique_ptr<Station> station;
  std::unique_ptr<SettingsPages> pages;

  // edit: hand edits of QKMassProd.ini before the load (section, key, value).
  explicit PagesFixture(const std::vector<std::tuple<std::string, std::string, std::string>>& edits = {}) {
    EXPECT_TRUE(WriteSampleData(dir.path()));
    if (!edits.empty()) {
      IniFile ini = IniFile::load(dir.file("QKMassProd.ini"));
      for (const auto& [s, k, v] : edits) ini.setString(s, k, v);
      EXPECT_TRUE(ini.save(dir.file("QKMassProd.ini")));
    }
    reopen();
  }

  // A new station and new pages on the same folder: the program restarted.
  void reopen(const std::string& profile = {}) {
    pages.reset();
    station = std::make_unique<Station>(ProgramFolder(dir.path()), op);
    EXPECT_EQ(station->loadSettings(profile), Station::StartResult::Ok);
    pages = std::make_unique<SettingsPages>(*station);
    pages->refreshFlashSelection();
    pages->applyLock();
  }

  ProfileSettings& settings() { return station->profile().settings; }

  template <typename T>
  T* find(const char* name) {
    T* w = pages->findChild<T*>(name);
    if (!w) {
      for (QAbstractButton* b : pages->toolBarButtons())
        if (b->objectName() == name) w = qobject_cast<T*>(b);
    }
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  QListWidgetItem* item(const char* name) {
    auto found = pages->testItemList()->findItems(name, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.first();
  }
};

}  // namespace qk::gui::test
