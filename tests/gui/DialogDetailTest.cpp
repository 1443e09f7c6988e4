// "Manual Setting" on bench drives: a drive running its firmware and one in
// loader mode.
#include <QLabel>
#include <QLineEdit>
#include <QScreen>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <thread>

#include "app/Station.h"
#include "gui/DetailForm.h"
#include "sim/SampleData.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"

namespace qk::gui {
namespace {

class DialogDetail : public ::testing::Test {
 protected:
  // The station's path is one for all its drives: bridged and native drives
  // go on separate benches.
  void start(bool native) {
    ASSERT_TRUE(WriteSampleData(home.path()));
    std::string bench = "[Bench]\nTimeScale=0\n[Hub1]\nParent=root\nKind=usb2\nPorts=3\n";
    if (native) {
      bench += "[Drive1]\nAt=Hub1:1\nToken=R20X\nFlash=WBG\nState=ready\n";
    } else {
      bench +=
          "[Drive1]\nAt=Hub1:1\nToken=k404\nFlash=WBG\nState=ready\n"
          "[Drive2]\nAt=Hub1:2\nToken=k404\nFlash=WBG\nState=blank\nUsbSerial=SNBLANK02\n"
          "[Drive3]\nAt=Hub1:3\nToken=k404\nFlash=WBG\nState=ready\nFaultFail=A1\n";
    }
    home.write("b.bench", bench);
    station = std::make_unique<Station>(ProgramFolder(home.path()), op);
    ASSERT_EQ(station->startUp("", home.file("b.bench"), &clock), Station::StartResult::Ok);
    station->flashInfoChange();
    form = std::make_unique<TDetailForm>(*station);
  }
  QString text(const char* name) { return form->findChild<QLineEdit*>(name)->text(); }
  bool hidden(const char* name) { return form->findChild<QWidget*>(name)->isHidden(); }

  test::TempDir home;
  test::RecordingOperator op;
  VirtualClock clock;
  std::unique_ptr<Station> station;
  std::unique_ptr<TDetailForm> form;

  // The read runs on its own thread; the test waits for its answer.
  void load(int port) {
    form->loadPort(port);
    form->waitForLoad();
  }
};

TEST_F(DialogDetail, RunningDriveShowsItsIdentity) {
  ASSERT_NO_FATAL_FAILURE(start(false));
  EXPECT_EQ(form->windowTitle(), "Manual Setting");
  EXPECT_GE(form->width(), 532);
  EXPECT_GE(form->height(), 315);
  load(1);
  EXPECT_FALSE(text("ModNumEdit").isEmpty());
  EXPECT_FALSE(text("SNEdit").isEmpty());
  EXPECT_FALSE(text("FWVerEdit").isEmpty());
  EXPECT_TRUE(text("CapEdit").endsWith(" MB")) << text("CapEdit").toStdString();
  EXPECT_EQ(text("FWInfoEdit"), "QKSSD");
  EXPECT_FALSE(hidden("FWInfoEdit"));
  EXPECT_TRUE(hidden("Label1"));
  EXPECT_TRUE(hidden("BadBlockMemo"));
  // A bridged drive has no USB identity fields.
  EXPECT_EQ(text("VIDEdit"), "");
}

TEST_F(DialogDetail, ModelShowsFortyCharactersAndTheDialogOpensMidScreen) {
  ASSERT_NO_FATAL_FAILURE(start(false));
  QWidget window;
  window.setGeometry(0, 0, 300, 200);  // a window in the screen's corner
  window.show();
  TDetailForm dialog(*station, &window);
  dialog.show();
  auto* model = dialog.findChild<QLineEdit*>("ModNumEdit");
  const QString forty = "SATA SSD 512GB QK2612 REV B ZXYW 9876543";
  ASSERT_EQ(forty.size(), 40);
  model->setText(forty);
  EXPECT_GE(model->contentsRect().width() - 4, model->fontMetrics().horizontalAdvance(forty));
  const QPoint mid = dialog.screen()->availableGeometry().center();
  EXPECT_LE((dialog.frameGeometry().center() - mid).manhattanLength(), 2);
  dialog.close();
}

TEST_F(DialogDetail, FieldsFillInThroughTheEventLoopOnceTheReadIsBack) {
  ASSERT_NO_FATAL_FAILURE(start(false));
  form->loadPort(1);
  // The window's thread goes on while the drive is read; the answer arrives as a queued call.
  for (int i = 0; i < 100000 && text("SNEdit").isEmpty(); ++i) {
    QCoreApplication::processEvents();
    std::this_thread::yield();
  }
  EXPECT_FALSE(text("SNEdit").isEmpty());
  EXPECT_FALSE(form->loading());
  // A read for a port that is no longer wanted is dropped: the newest port wins.
  form->loadPort(2);
  form->loadPort(1);
  form->waitForLoad();
  EXPECT_TRUE(hidden("Label1"));
  EXPECT_NE(text("SNEdit").trimmed(), "SNBLANK02");
}

TEST_F(DialogDetail, NativeUsbDriveShowsItsUsbIdentity) {
  ASSERT_NO_FATAL_FAILURE(start(true));
  load(1);
  // On USB the serial comes from the identity's string descriptor; model and
  // firmware version stay empty.
  EXPECT_EQ(text("SNEdit"), "000000Drive1");
  EXPECT_EQ(text("ModNumEdit"), "");
  EXPECT_EQ(text("FWVerEdit"), "");
  EXPECT_TRUE(text("CapEdit").endsWith(" MB"));
  EXPECT_EQ(text("VIDEdit"), "0000");  // the default profile leaves the IDs at 0
  EXPECT_EQ(text("PIDEdit"), "0000");
  EXPECT_EQ(text("VendorNameEdit").size(), 8);
  EXPECT_EQ(text("FWInfoEdit"), "QKSSD");
}

TEST_F(DialogDetail, LoaderModeReplacesTheFirmwareInformation) {
  ASSERT_NO_FATAL_FAILURE(start(false));
  load(2);
  // IDENTIFY's serial field keeps its blank padding.
  EXPECT_EQ(text("SNEdit").trimmed(), "SNBLANK02");
  EXPECT_FALSE(text("ModNumEdit").isEmpty());
  EXPECT_TRUE(text("CapEdit").endsWith(" MB"));
  EXPECT_TRUE(hidden("FWInfoEdit"));
  EXPECT_FALSE(hidden("Label1"));
  EXPECT_EQ(form->findChild<QLabel*>("Label1")->text(), "Loader Mode! ");
  EXPECT_EQ(text("FWInfoEdit"), "");

  // The next port starts from empty fields, and the label goes again.
  load(1);
  EXPECT_TRUE(hidden("Label1"));
  EXPECT_FALSE(hidden("FWInfoEdit"));
  EXPECT_NE(text("SNEdit").trimmed(), "SNBLANK02");
  EXPECT_EQ(text("FWInfoEdit"), "QKSSD");
}

TEST_F(DialogDetail, SilentDriveShowsFailAndAPortOutOfRangeNothing) {
  ASSERT_NO_FATAL_FAILURE(start(false));
  load(3);
  for (const char* name : {"ModNumEdit", "SNEdit", "FWVerEdit", "CapEdit"}) EXPECT_EQ(text(name), "Fail") << name;
  EXPECT_EQ(text("FWInfoEdit"), "");
  load(0);
  load(51);
  EXPECT_EQ(text("SNEdit"), "");
}

}  // namespace
}  // namespace qk::gui
