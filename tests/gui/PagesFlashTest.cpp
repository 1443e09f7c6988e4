// The flash setting page: lists, FlashInfoChange, the IDEMA buttons and auto-detect with its dialog.
#include <QApplication>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "gui/FlashInfoForm.h"
#include "platform/Clock.h"
#include "tests/gui/PagesTestSupport.h"

namespace qk::gui {
namespace {

using test::PagesFixture;

TEST(PagesFlash, ListsAndTheFlashInformation) {
  PagesFixture f;
  auto* vendor = f.find<QComboBox>("FlashVendorCmbx");
  auto* type = f.find<QComboBox>("FlashCodeCmBx");
  EXPECT_EQ(vendor->count(), 3);
  EXPECT_EQ(vendor->currentText(), "Nandora");
  EXPECT_EQ(type->currentText(), "WBG  /  K9GBG08U0A (2CE)");
  EXPECT_EQ(f.find<QComboBox>("FlashChanCmBx")->count(), 4);
  EXPECT_EQ(f.find<QComboBox>("FlashBankCmBx")->count(), 8);
  EXPECT_EQ(f.find<QComboBox>("DrvCurrentCmBx")->itemText(0), " 2 mA");
  EXPECT_EQ(f.find<QComboBox>("CapacityCmBx")->itemText(10), "1024 G");

  QSignalSpy status(f.pages.get(), &SettingsPages::statusText);
  f.pages->flashInfoChange();
  QString panel0, panel2;
  for (const auto& args : status) {
    if (args[0].toInt() == 0) panel0 = args[1].toString();
    if (args[0].toInt() == 2) panel2 = args[1].toString();
  }
  EXPECT_EQ(panel0, "Flash: WBG(0x0281), Channel: 4, Bank: 2");
  EXPECT_EQ(panel2, "GDP.bin(101007) / SataTest (100903)");
  EXPECT_TRUE(f.find<QPlainTextEdit>("FlashDetailMemo")->toPlainText().startsWith("Type: "));
  const FlashInfo info = f.station->flashInfoChange();
  EXPECT_EQ(f.find<QLineEdit>("CapacityEdit")->text().toStdString(), info.capacity1000);
  EXPECT_EQ(f.find<QLineEdit>("CapacityEdit2")->text().toStdString(), info.capacity1024);
  EXPECT_NE(info.capacity1000.find('.'), std::string::npos);

  // A new vendor selects its first type.
  vendor->setCurrentIndex(2);
  f.pages->updateFlashList(true);
  EXPECT_EQ(type->currentText(), "BTA  /  BMX08G08S1 (1CE)");
  EXPECT_EQ(f.settings().FlashUniName, "BTA");

  f.op.messages.clear();
  vendor->setCurrentIndex(-1);
  f.pages->updateFlashList(true);
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_EQ(f.op.messages[0].text, "Please select a valid Flash Vendor!");
}

TEST(PagesFlash, IdemaSetRefusesTooLargeAndRestoreGoesBackTo68) {
  PagesFixture f;  // WBG: 4 channels, 2 banks, 8192 blocks of 64 pages of 8 sectors
  auto* entry = f.find<QLineEdit>("IDEMAEdit");
  f.op.messages.clear();
  entry->setText("64");
  f.find<QAbstractButton>("CalcIDEMAToRatioBn")->click();
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_EQ(f.op.messages[0].text, "Please input a correct IDEMA capacity(less than or equal to 16)");
  EXPECT_EQ(f.settings().ResPercentage, 68);

  entry->setText("12");
  f.find<QAbstractButton>("CalcIDEMAToRatioBn")->click();
  EXPECT_NE(f.settings().ResPercentage, 68);
  EXPECT_FALSE(f.find<QLineEdit>("IDEMARatio")->text().isEmpty());
  EXPECT_EQ(f.find<QLineEdit>("ResBlkRatioEdit")->text().toInt(), f.settings().ResPercentage);

  f.find<QAbstractButton>("RestoreReservedRatio")->click();
  EXPECT_EQ(f.settings().ResPercentage, 68);
  EXPECT_TRUE(entry->text().isEmpty());
  EXPECT_TRUE(f.find<QLineEdit>("IDEMARatio")->text().isEmpty());
}

// Acts on the result dialog once it is up (the detect shows it modally).
void whenDialogShows(std::function<void(TFlashInfoFrom*)> act) {
  auto* timer = new QTimer;
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, tries, act] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<TFlashInfoFrom*>(w);
      if (dialog && dialog->isVisible()) {
        timer->stop();
        timer->deleteLater();
        act(dialog);
        return;
      }
    }
    if (++*tries > 200) {
      timer->stop();
      timer->deleteLater();
      ADD_FAILURE() << "the result dialog did not show";
    }
  });
  timer->start(0);
}

TEST(PagesFlash, AutoDetectWithTwoMatchesNeedsAChoice) {
  PagesFixture f;
  f.dir.write("b.bench",
              "[Bench]\nTimeScale=0\n[Hub1]\nParent=root\nKind=usb2\nPorts=2\n"
              "[Drive1]\nAt=Hub1:1\nToken=R20X\nFlash=CLB\nChannel=4\nBank=1\n");
  VirtualClock clock;
  f.pages.reset();
  f.station = std::make_unique<Station>(ProgramFolder(f.dir.path()), f.op);
  ASSERT_EQ(f.station->startUp("", f.dir.file("b.bench"), &clock), Station::StartResult::Ok);
  f.pages = std::make_unique<SettingsPages>(*f.station);
  f.pages->refreshFlashSelection();

  bool refusedAndStayed = false;
  QStringList listed;
  whenDialogShows([&](TFlashInfoFrom* dialog) {
    for (int i = 0; i < dialog->typeList()->count(); ++i) listed << dialog->typeList()->item(i)->text();
    f.op.messages.clear();
    dialog->findChild<QAbstractButton*>("FormCloseBtn")->click();
    refusedAndStayed = dialog->isVisible() && f.op.messages.size() == 1 &&
                       f.op.messages[0].text == "Please choose one flash type";
    dialog->typeList()->setCurrentRow(1);
    dialog->findChild<QAbstractButton*>("FormCloseBtn")->click();
  });
  f.find<QAbstractButton>("FlashAutoDetectBtn")->click();
  EXPECT_TRUE(f.pages->detecting());
  EXPECT_FALSE(f.pages->pageControl()->isEnabled());  // the pages wait for the drive's answer
  ASSERT_TRUE(QTest::qWaitFor([&] { return !f.pages->detecting(); }, 60000));
  EXPECT_TRUE(f.pages->pageControl()->isEnabled());
  EXPECT_TRUE(refusedAndStayed);
  EXPECT_EQ(listed, (QStringList{"CLB  /  CLT64G08M2A (2CE)", "CLC  /  CLT64G08M2B (2CE)"}));
  EXPECT_EQ(f.settings().FlashUniName, "CLC");
  EXPECT_EQ(f.find<QComboBox>("FlashVendorCmbx")->currentText(), "Cellith");
  EXPECT_EQ(f.find<QComboBox>("FlashCodeCmBx")->currentText(), "CLC  /  CLT64G08M2B (2CE)");
  EXPECT_EQ(f.find<QComboBox>("FlashChanCmBx")->currentText(), "4");
  EXPECT_EQ(f.find<QComboBox>("FlashBankCmBx")->currentText(), "1");
  EXPECT_EQ(f.find<QComboBox>("DrvCurrentCmBx")->currentIndex(), 1);
  EXPECT_EQ(readIniString(f.dir.file("QKMassProd.ini"), "FlashSetting", "FlashUniName", ""), "CLC");
}

TEST(FlashInfoForm, FieldsAndTheSingleMatchPreselected) {
  test::PagesFixture f;
  FlashDetectView view;
  view.vendor = "Nandora";
  view.type = "WBG  /  K9GBG08U0A (x2)";
  view.channelBank = "4 / 2";
  view.driveCurrent = "4mA";
  view.matches = {"WBG  /  K9GBG08U0A (2CE)"};
  TFlashInfoFrom dialog(view, f.op);
  EXPECT_EQ(dialog.windowTitle(), "Flash Auto Detect Result");
  EXPECT_EQ(dialog.findChild<QLineEdit*>("VendorEdit")->text(), "Nandora");
  EXPECT_EQ(dialog.findChild<QLineEdit*>("TypeEdit")->text(), "WBG  /  K9GBG08U0A (x2)");
  EXPECT_EQ(dialog.findChild<QLineEdit*>("ChnnelBankEdit")->text(), "4 / 2");
  EXPECT_EQ(dialog.findChild<QLineEdit*>("DrvCurrentEdit")->text(), "4mA");
  EXPECT_EQ(dialog.typeList()->currentRow(), 0);
  f.op.messages.clear();
  dialog.formCloseBtnClick();
  EXPECT_TRUE(f.op.messages.empty());
  EXPECT_EQ(dialog.chosen(), 0u);
}

}  // namespace
}  // namespace qk::gui
