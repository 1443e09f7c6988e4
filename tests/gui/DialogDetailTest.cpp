// "Manual Setting" on bench drives: a drive running its firmware and one in
// loader mode.
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

#include "app/Station.h"
#include "dialogs/gui/DetailForm.h"
#include "sim/SampleData.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"

namespace qk::gui {
namespace {

class DialogDetail : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteSampleData(home.path()));
    home.write("b.bench",
               "[Bench]\nTimeScale=0\n[Hub1]\nParent=root\nKind=usb2\nPorts=3\n"
               "[Drive1]\nAt=Hub1:1\nToken=k404\nFlash=WBG\nState=ready\nUsbSerial=SNREADY01\n"
               "[Drive2]\nAt=Hub1:2\nToken=k404\nFlash=WBG\nState=blank\nUsbSerial=SNBLANK02\n"
               "[Drive3]\nAt=Hub1:3\nToken=k404\nFlash=WBG\nState=ready\nFaultFail=A1\n");
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
};

TEST_F(DialogDetail, RunningDriveShowsItsIdentity) {
  EXPECT_EQ(form->windowTitle(), "Manual Setting");
  EXPECT_EQ(form->size(), QSize(532, 315));
  form->loadPort(1);
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

TEST_F(DialogDetail, LoaderModeReplacesTheFirmwareInformation) {
  form->loadPort(2);
  EXPECT_EQ(text("SNEdit"), "SNBLANK02");
  EXPECT_FALSE(text("ModNumEdit").isEmpty());
  EXPECT_TRUE(text("CapEdit").endsWith(" MB"));
  EXPECT_TRUE(hidden("FWInfoEdit"));
  EXPECT_FALSE(hidden("Label1"));
  EXPECT_EQ(form->findChild<QLabel*>("Label1")->text(), "Loader Mode! ");
  EXPECT_EQ(text("FWInfoEdit"), "");

  // The next port starts from empty fields, and the label goes again.
  form->loadPort(1);
  EXPECT_TRUE(hidden("Label1"));
  EXPECT_FALSE(hidden("FWInfoEdit"));
  EXPECT_NE(text("SNEdit"), "SNBLANK02");
}

TEST_F(DialogDetail, SilentDriveShowsFailAndAPortOutOfRangeNothing) {
  form->loadPort(3);
  for (const char* name : {"ModNumEdit", "SNEdit", "FWVerEdit", "CapEdit"}) EXPECT_EQ(text(name), "Fail") << name;
  EXPECT_EQ(text("FWInfoEdit"), "");
  form->loadPort(0);
  form->loadPort(51);
  EXPECT_EQ(text("SNEdit"), "");
}

}  // namespace
}  // namespace qk::gui
