// While a run goes, nothing in the window may change the profile under it:
// "Load INI" and "Save INI" are off with the pages and come back at its end.
#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "app/Station.h"
#include "gui/MainForm.h"
#include "config/IniFile.h"
#include "sim/SampleData.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"

namespace qk::gui {
namespace {

class RunControls : public ::testing::Test {
 protected:
  void SetUp() override {
    QApplication::setQuitOnLastWindowClosed(false);
    ASSERT_TRUE(WriteSampleData(home.path()));
    home.write("t.bench", "[Hub1]\nParent=root\nKind=usb2\nPorts=4\n"
                          "[Drive1]\nAt=Hub1:1\nToken=R20X\nFlash=WBG\nChannel=4\nBank=2\n"
                          "[Drive2]\nAt=Hub1:2\nToken=R20X\nFlash=WBG\nChannel=4\nBank=2\n");
    home.write("QKMassProd.ini",
               "[TestItems]\nEnSataTest=1\nEnDownload=1\n[DeviceSetting]\nSerialNum=000100\nSNAutoInc=1\n"
               "SNDecimal=1\nSNMinLength=6\n[FlashSetting]\nChannel=4\nBank=2\n");
    station = std::make_unique<Station>(ProgramFolder(home.path()), op);
    ASSERT_EQ(station->startUp("", home.file("t.bench"), &clock), Station::StartResult::Ok);
    form = std::make_unique<TMainForm>(*station);
    form->formShow(nullptr);
    form->show();
  }
  void TearDown() override {
    if (form) form->close();
    form.reset();
  }
  template <typename T = QWidget>
  T* child(const QString& name) {
    return form->findChild<T*>(name);
  }
  bool runEnds() {
    return QTest::qWaitFor([this] { return !form->running() && form->lastOutcome(); }, 60000);
  }

  test::TempDir home;
  test::RecordingOperator op;
  VirtualClock clock;
  std::unique_ptr<Station> station;
  std::unique_ptr<TMainForm> form;
};

}  // namespace

TEST_F(RunControls, ProfileButtonsAreOffForTheRunAndBackAfterIt) {
  auto* load = child<QPushButton>("INILoadBtn");
  auto* save = child<QPushButton>("INISaveBtn");
  auto* lock = child<QAbstractButton>("SpeedButton8");
  auto* detect = child<QAbstractButton>("SpeedButton6");
  auto* stop = child<QAbstractButton>("SpeedButton9");
  ASSERT_TRUE(load->isEnabled());
  ASSERT_TRUE(save->isEnabled());
  ASSERT_TRUE(lock->isEnabled());
  ASSERT_TRUE(detect->isEnabled());

  QTest::mouseClick(child<QPushButton>("ExecuteBtn"), Qt::LeftButton);
  ASSERT_TRUE(form->running());
  EXPECT_FALSE(load->isEnabled());
  EXPECT_FALSE(save->isEnabled());
  EXPECT_FALSE(lock->isEnabled());
  EXPECT_FALSE(detect->isEnabled());
  EXPECT_TRUE(stop->isEnabled());
  QTest::mouseClick(save, Qt::LeftButton);  // does nothing while the run goes
  QTest::mouseClick(load, Qt::LeftButton);
  ASSERT_TRUE(runEnds());
  ASSERT_TRUE(form->lastOutcome()->ran);

  EXPECT_TRUE(load->isEnabled());
  EXPECT_TRUE(save->isEnabled());
  EXPECT_TRUE(lock->isEnabled());
  EXPECT_TRUE(detect->isEnabled());
  EXPECT_EQ(child<QLineEdit>("SerialNumEdit")->text().toStdString(), "000102");
  EXPECT_EQ(readIniString(home.file("QKMassProd.ini"), "DeviceSetting", "SerialNum", ""), "000102");

  // The next run hands out the serials after them.
  QTest::mouseClick(child<QPushButton>("ExecuteBtn"), Qt::LeftButton);
  ASSERT_TRUE(runEnds());
  std::lock_guard guard(station->scanner().scanLock());
  EXPECT_EQ(station->scanner().ports()[0].serialNumber.str(), "000102");
  EXPECT_EQ(station->scanner().ports()[1].serialNumber.str(), "000103");
}

}  // namespace qk::gui

namespace qk::gui {

TEST_F(RunControls, LoadIniLeavesAnotherStationsProfileAlone) {
  test::TempDir other;
  ASSERT_TRUE(WriteSampleData(other.path()));
  other.write("t.bench", "[Hub1]\nParent=root\nKind=usb2\nPorts=1\n");
  test::RecordingOperator otherOp;
  Station holder(ProgramFolder(other.path()), otherOp);
  ASSERT_EQ(holder.startUp("", other.file("t.bench")), Station::StartResult::Ok);

  op.files = {other.file("QKMassProd.ini")};
  QTest::mouseClick(child<QPushButton>("INILoadBtn"), Qt::LeftButton);
  EXPECT_EQ(station->profile().iniFilePath, home.file("QKMassProd.ini"));
  ASSERT_FALSE(op.messages.empty());
  EXPECT_EQ(op.messages.back().text, "The profile " + other.file("QKMassProd.ini") + " is in use by another station.");

  // A profile of this station's own, in a log folder of its own, loads.
  home.write("second.ini", "[Setting]\nLogPath=second/\n");
  op.files = {home.file("second.ini")};
  QTest::mouseClick(child<QPushButton>("INILoadBtn"), Qt::LeftButton);
  EXPECT_EQ(station->profile().iniFilePath, home.file("second.ini"));
  EXPECT_EQ(station->profile().logPath, home.file("second/"));
  // ...and the first one is free again for another station.
  test::RecordingOperator thirdOp;
  Station third(ProgramFolder(home.path()), thirdOp);
  EXPECT_EQ(third.startUp("", home.file("t.bench")), Station::StartResult::Ok) << (thirdOp.messages.empty() ? "" : thirdOp.messages.back().text);
}

}  // namespace qk::gui

namespace qk::gui {

TEST_F(RunControls, TheContinuousBoxRunsEachDriveOnItsOwnUntilTheStopButton) {
  auto* box = child<QAbstractButton>("ContinuousChk");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), "Continuous");
  box->click();
  EXPECT_EQ(station->profile().settings.ContinuousMode, 1);
  child<QPushButton>("ExecuteBtn")->click();
  auto verdict = [this](int slot) {
    std::lock_guard lock(station->scanner().scanLock());
    return station->scanner().ports()[static_cast<std::size_t>(slot)].stepStatus[25];
  };
  ASSERT_TRUE(QTest::qWaitFor([&] { return verdict(0) != 0 && verdict(1) != 0; }, 60000));
  // Both drives are done, yet the station keeps waiting for the next ones.
  EXPECT_TRUE(form->running());
  child<QAbstractButton>("SpeedButton9")->click();
  ASSERT_TRUE(runEnds());
  // Each drive ran once and keeps its verdict (this bench's drives fail the download).
  EXPECT_NE(verdict(0), 0);
  EXPECT_NE(verdict(1), 0);
  EXPECT_EQ(station->profile().settings.TotalTestCount, 2);
  EXPECT_EQ(IniFile::load(home.file("QKMassProd.ini")).getInt("Setting", "ContinuousMode", 0), 1);
}

}  // namespace qk::gui
