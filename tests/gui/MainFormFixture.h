#pragma once
// The main window on a bench of one hub, started the way the program starts it.
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/Station.h"
#include "gui/MainForm.h"
#include "gui/SlotPanel.h"
#include "config/IniFile.h"
#include "sim/SampleData.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"

namespace qk::gui {

// One hub of `ports` ports; drives on the first ports, the second one faulty
// when asked: its flash interface test answers kind 7 for the first chip.
inline std::string benchText(int ports, int drives, bool faulty) {
  std::string b = "[Hub1]\nParent=root\nKind=usb2\nPorts=" + std::to_string(ports) + "\n";
  for (int d = 1; d <= drives; ++d) {
    b += "[Drive" + std::to_string(d) + "]\nAt=Hub1:" + std::to_string(d) + "\nToken=R20X\nFlash=WBG\nChannel=4\nBank=2\n";
    if (faulty && d == 2) b += "FaultInterface=7:0:0\n";
  }
  return b;
}

// The sample profile with items 0..2 (flash module, bus and flash interface) checked.
inline const char* const kItemsProfile = "";

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QApplication::setQuitOnLastWindowClosed(false);
    ASSERT_TRUE(WriteSampleData(home.path()));
    writeIniString(home.file("QKMassProd.ini"), "TestItems", "EnSataTest", "1");
    writeIniString(home.file("QKMassProd.ini"), "TestItems", "EnFlashTest", "1");
  }
  void TearDown() override {
    if (form) form->close();
    form.reset();
  }

  void start(const std::string& bench, const std::string& profile, MainFormOptions options = {}) {
    home.write("t.bench", bench);
    if (!profile.empty()) home.write("QKMassProd.ini", profile);
    station = std::make_unique<Station>(ProgramFolder(home.path()), op);
    ASSERT_EQ(station->startUp("", home.file("t.bench"), &clock), Station::StartResult::Ok);
    form = std::make_unique<TMainForm>(*station, options);
    form->setDialogRunner([this](QDialog& d) { shown.push_back(&d); });
    form->formShow(nullptr);
    form->show();
  }

  template <typename T = QWidget>
  T* child(const QString& name) {
    return form->findChild<T*>(name);
  }
  bool runEnds() {
    return QTest::qWaitFor([this] { return !form->running() && form->lastOutcome(); }, 60000);
  }
  std::string yield() { return child<QLineEdit>("YieldEdit")->text().toStdString(); }
  // "Refresh" scans on a thread of its own; its verdict is drawn by a queued call.
  bool refreshed() {
    QTest::mouseClick(child<QPushButton>("RefreshBtn"), Qt::LeftButton);
    return QTest::qWaitFor([this] { return !form->scanning(); }, 60000);
  }

  // Every slot lies inside the slot area as it stands, without scrolling.
  bool everySlotShows() {
    auto* box = child<QScrollArea>("StyleScrollBox");
    const QRect view(QPoint(0, 0), box->maximumViewportSize());
    for (int i = 0; i < form->slotCount(); ++i) {
      const QRect r = form->slotPanel(i)->geometry();
      if (!view.contains(r)) {
        ADD_FAILURE() << "Port" << i + 1 << " at " << r.x() << "," << r.y() << " " << r.width() << "x" << r.height()
                      << " outside " << view.width() << "x" << view.height();
        return false;
      }
    }
    return true;
  }

  test::TempDir home;
  test::RecordingOperator op;
  VirtualClock clock;
  std::unique_ptr<Station> station;
  std::unique_ptr<TMainForm> form;
  std::vector<QDialog*> shown;
};

}  // namespace qk::gui
