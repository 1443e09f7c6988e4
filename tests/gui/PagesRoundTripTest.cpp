// Every mapped control: pages -> profile -> INI -> restart -> profile -> pages.
#include <QPlainTextEdit>
#include <QTest>

#include "tests/gui/PagesTestSupport.h"

namespace qk::gui {
namespace {

using test::PagesFixture;

TEST(PagesRoundTrip, EveryStoredControlSurvivesSaveRestartAndLoad) {
  // Hand-edited keys that show the optional controls.
  PagesFixture f({{"TestItems", "EnFormat", "1"},
                  {"TestItems", "EnCheckTemperature", "1"},
                  {"TestItems", "EnCopyImage", "1"},
                  {"DeviceSetting", "EncryptionEnable", "1"},
                  {"RDSetting", "EnableGetPutTable", "1"}});
  ASSERT_NE(f.item("Disk Format"), nullptr);
  ASSERT_NE(f.item("Check Temperature"), nullptr);

  f.pages->connectionCheck()->setCurrentIndex(3);
  f.item("Bus Interface Test")->setCheckState(Qt::Checked);
  f.item("R/W Test")->setCheckState(Qt::Checked);
  f.item("Disk Format")->setCheckState(Qt::Checked);
  f.find<QCheckBox>("CheckID2")->setChecked(false);
  f.find<QCheckBox>("CheckID4")->setChecked(false);
  f.find<QCheckBox>("UsbBinChk")->setChecked(true);
  f.find<QRadioButton>("SataLBA28")->setChecked(true);
  f.find<QComboBox>("LightIdleComboBox")->setCurrentIndex(2);
  f.find<QComboBox>("LightReadComboBox")->setCurrentIndex(1);
  f.find<QComboBox>("LightWriteComboBox")->setCurrentIndex(2);
  f.find<QLineEdit>("VolumeLabeledEdit")->setText("FIELD DISK");
  f.find<QLineEdit>("ImagePathEdit")->setText("img/base.img");
  f.find<QLineEdit>("CheckMaxTemperatureValue")->setText("71");
  f.find<QLineEdit>("ModelNumEdit")->setText("QK Model 7");
  f.find<QLineEdit>("FirmwareVerEdit")->setText("FW0007");
  f.find<QLineEdit>("SerialNumEdit")->setText("00000000000017");
  f.find<QCheckBox>("SNIncChk")->setChecked(true);
  f.find<QRadioButton>("SNDecimal")->setChecked(true);
  f.find<QSpinBox>("SNMinLengthSpin")->setValue(14);
  f.find<QLineEdit>("LeEncryption")->setText("Secret7");
  f.find<QComboBox>("FlashVendorCmbx")->setCurrentIndex(1);  // Cellith
  f.pages->updateFlashList(true);
  f.find<QComboBox>("FlashCodeCmBx")->setCurrentIndex(1);  // CLB
  f.find<QComboBox>("FlashChanCmBx")->setCurrentIndex(1);
  f.find<QComboBox>("FlashBankCmBx")->setCurrentIndex(3);
  f.find<QComboBox>("DrvCurrentCmBx")->setCurrentIndex(5);
  f.find<QComboBox>("CapacityCmBx")->setCurrentIndex(4);
  f.find<QLineEdit>("Bch16RdErrThldEdit")->setText("11");
  f.find<QLineEdit>("Bch24RdErrThldEdit")->setText("22");
  f.find<QLineEdit>("Bch16EccErrCpyThldEdit")->setText("5");
  f.find<QLineEdit>("Bch24EccErrCpyThldEdit")->setText("14");
  f.find<QCheckBox>("ScrambleChk")->setChecked(true);
  f.find<QCheckBox>("RemapChk")->setChecked(true);
  f.find<QLineEdit>("TableInEdit")->setText("defin.txt");
  f.find<QLineEdit>("TableOutEdit")->setText("defout.txt");
  f.find<QLineEdit>("LaterTableInEdit")->setText("latin.txt");
  f.find<QLineEdit>("LaterTableOutEdit")->setText("latout.txt");
  // Kept only while the program runs.
  f.find<QLineEdit>("VendorIDEdit")->setText("1D6B");
  f.find<QLineEdit>("ProductIDEdit")->setText("0104");
  f.find<QLineEdit>("VendorNameEdit")->setText("Talvery");
  f.find<QLineEdit>("ProductNameEdit")->setText("QK Drive");
  f.find<QLineEdit>("ManufStrEdit")->setText("Talvery Co");
  f.find<QLineEdit>("ProdStrEdit")->setText("QK Flash Disk");
  f.find<QSpinBox>("IDEMA_Capacity")->setValue(64);
  f.find<QSpinBox>("RWTestPercentageValue")->setValue(30);
  f.find<QLineEdit>("LBA_Capacity")->setText("125045424");
  f.find<QCheckBox>("KeepPreviousEraseCountChk")->setChecked(true);
  f.find<QRadioButton>("EraseChk")->setChecked(true);

  // Saved over the profile that holds the hand-edited keys: they stay.
  const std::string file = f.dir.file("QKMassProd.ini");
  f.op.files.push_back(file);
  f.find<QAbstractButton>("INISaveBtn")->click();
  EXPECT_EQ(f.station->profile().iniFilePath, file);
  const ProfileSettings saved = f.settings();
  EXPECT_EQ(saved.ConnectDevNum, 3);
  EXPECT_EQ(saved.CheckFlashMask, 0b10101);
  EXPECT_EQ(saved.DownloadType, 3);
  EXPECT_EQ(saved.LEDLightMode, 2 | (1 << 2) | (2 << 4));
  EXPECT_EQ(saved.FlashUniName, "CLB");
  EXPECT_EQ(saved.EnEraseReBuildBad, 1);
  EXPECT_EQ(saved.EnLaterBad, 0);

  // Load INI in the running program: everything comes back, the unsaved fields too.
  f.op.files.push_back(file);
  f.find<QAbstractButton>("INILoadBtn")->click();
  auto check = [&](bool runtimeFields) {
    EXPECT_EQ(f.pages->connectionCheck()->currentIndex(), 3);
    EXPECT_EQ(f.item("Bus Interface Test")->checkState(), Qt::Checked);
    EXPECT_EQ(f.item("R/W Test")->checkState(), Qt::Checked);
    EXPECT_EQ(f.item("Flash Interface Test")->checkState(), Qt::Unchecked);
    EXPECT_EQ(f.item("Disk Format")->checkState(), Qt::Checked);
    EXPECT_TRUE(f.find<QCheckBox>("CheckID1")->isChecked());
    EXPECT_FALSE(f.find<QCheckBox>("CheckID2")->isChecked());
    EXPECT_FALSE(f.find<QCheckBox>("CheckID4")->isChecked());
    EXPECT_TRUE(f.find<QCheckBox>("UsbBinChk")->isChecked());
    EXPECT_TRUE(f.find<QCheckBox>("UsbBinChk")->isHidden());
    EXPECT_TRUE(f.find<QCheckBox>("SataBinChk")->isChecked());
    EXPECT_TRUE(f.find<QRadioButton>("SataLBA28")->isChecked());
    EXPECT_EQ(f.find<QComboBox>("LightIdleComboBox")->currentIndex(), 2);
    EXPECT_EQ(f.find<QComboBox>("LightReadComboBox")->currentIndex(), 1);
    EXPECT_EQ(f.find<QComboBox>("LightWriteComboBox")->currentIndex(), 2);
    EXPECT_EQ(f.find<QLineEdit>("VolumeLabeledEdit")->text(), "FIELD DISK");
    EXPECT_FALSE(f.find<QWidget>("FormatGroupBox")->isHidden());
    EXPECT_TRUE(f.find<QCheckBox>("CopyImageCheckBox")->isChecked());
    EXPECT_EQ(f.find<QLineEdit>("ImagePathEdit")->text(), "img/base.img");
    EXPECT_EQ(f.find<QLineEdit>("CheckMaxTemperatureValue")->text(), "71");
    EXPECT_EQ(f.find<QLineEdit>("ModelNumEdit")->text(), "QK Model 7");
    EXPECT_EQ(f.find<QLineEdit>("FirmwareVerEdit")->text(), "FW0007");
    EXPECT_EQ(f.find<QLineEdit>("SerialNumEdit")->text(), "00000000000017");
    EXPECT_TRUE(f.find<QCheckBox>("SNIncChk")->isChecked());
    EXPECT_TRUE(f.find<QRadioButton>("SNDecimal")->isChecked());
    EXPECT_EQ(f.find<QSpinBox>("SNMinLengthSpin")->value(), 14);
    EXPECT_EQ(f.find<QLineEdit>("LeEncryption")->text(), "Secret7");
    EXPECT_FALSE(f.find<QWidget>("GroupBox7")->isHidden());
    EXPECT_EQ(f.find<QComboBox>("FlashVendorCmbx")->currentText(), "Cellith");
    EXPECT_EQ(f.find<QComboBox>("FlashCodeCmBx")->currentText(), "CLB  /  CLT64G08M2A (2CE)");
    EXPECT_EQ(f.find<QComboBox>("FlashChanCmBx")->currentText(), "2");
    EXPECT_EQ(f.find<QComboBox>("FlashBankCmBx")->currentText(), "4");
    EXPECT_EQ(f.find<QComboBox>("DrvCurrentCmBx")->currentText(), " 12 mA");
    EXPECT_EQ(f.find<QComboBox>("CapacityCmBx")->currentText(), "16 G");
    EXPECT_EQ(f.find<QLineEdit>("Bch16RdErrThldEdit")->text(), "11");
    EXPECT_EQ(f.find<QLineEdit>("Bch24RdErrThldEdit")->text(), "22");
    EXPECT_EQ(f.find<QLineEdit>("Bch16EccErrCpyThldEdit")->text(), "5");
    EXPECT_EQ(f.find<QLineEdit>("Bch24EccErrCpyThldEdit")->text(), "14");
    EXPECT_TRUE(f.find<QCheckBox>("ScrambleChk")->isChecked());
    EXPECT_TRUE(f.find<QCheckBox>("RemapChk")->isChecked());
    EXPECT_EQ(f.find<QLineEdit>("TableInEdit")->text(), "defin.txt");
    EXPECT_EQ(f.find<QLineEdit>("TableOutEdit")->text(), "defout.txt");
    EXPECT_EQ(f.find<QLineEdit>("LaterTableInEdit")->text(), "latin.txt");
    EXPECT_EQ(f.find<QLineEdit>("LaterTableOutEdit")->text(), "latout.txt");
    EXPECT_TRUE(f.pages->pageControl()->isTabVisible(5));
    if (!runtimeFields) return;
    EXPECT_EQ(f.find<QLineEdit>("VendorIDEdit")->text(), "1D6B");
    EXPECT_EQ(f.find<QLineEdit>("ProductIDEdit")->text(), "0104");
    EXPECT_EQ(f.find<QLineEdit>("VendorNameEdit")->text(), "Talvery");
    EXPECT_EQ(f.find<QLineEdit>("ProductNameEdit")->text(), "QK Drive");
    EXPECT_EQ(f.find<QLineEdit>("ManufStrEdit")->text(), "Talvery Co");
    EXPECT_EQ(f.find<QLineEdit>("ProdStrEdit")->text(), "QK Flash Disk");
    EXPECT_EQ(f.find<QSpinBox>("IDEMA_Capacity")->value(), 64);
    EXPECT_EQ(f.find<QSpinBox>("RWTestPercentageValue")->value(), 30);
    EXPECT_EQ(f.find<QLineEdit>("LBA_Capacity")->text(), "125045424");
  };
  check(true);
  // The pre-format choices have no key the save writes: they come back from the file.
  EXPECT_TRUE(f.find<QRadioButton>("LaterChk")->isChecked());
  EXPECT_FALSE(f.find<QCheckBox>("KeepPreviousEraseCountChk")->isChecked());

  // A restart on the saved file: the stored fields come back, the others start afresh.
  f.reopen();
  check(false);
  EXPECT_EQ(f.find<QLineEdit>("VendorIDEdit")->text(), "");
  EXPECT_EQ(f.find<QLineEdit>("LBA_Capacity")->text(), "0");
}

TEST(PagesRoundTrip, RefreshOnlyFieldsShowTheProfile) {
  PagesFixture f({{"FwSetting", "EnSkipEraseGood", "1"},
                  {"FwSetting", "EnEarlyBad", "1"},
                  {"TestItems", "EnGenImage", "1"},
                  {"Setting", "ProductModel", "QK-Pro"}});
  EXPECT_FALSE(f.find<QWidget>("SkipEraseGoodChkBox")->isHidden());
  EXPECT_TRUE(f.find<QCheckBox>("SkipEraseGoodChkBox")->isChecked());
  EXPECT_TRUE(f.find<QRadioButton>("EarlyChk")->isChecked());
  EXPECT_FALSE(f.find<QWidget>("GenImageBn")->isHidden());
  EXPECT_FALSE(f.find<QWidget>("ProdModalPanel")->isHidden());
  EXPECT_EQ(f.find<QLabel>("ProdModalPanel")->text(), "QK-Pro");
  EXPECT_EQ(f.find<QLineEdit>("DefBlkRatioEdit")->text(), "48");
  EXPECT_EQ(f.find<QLineEdit>("ResBlkRatioEdit")->text(), "68");
  EXPECT_TRUE(f.find<QWidget>("UpdateFirmwareChk")->isHidden());
  EXPECT_TRUE(f.find<QWidget>("GroupBox7")->isHidden());
  EXPECT_FALSE(f.pages->pageControl()->isTabVisible(5));  // "RD" needs EnableGetPutTable
  EXPECT_FALSE(f.pages->pageControl()->isTabVisible(2));  // "Dram Setting" never shows
  // Typed ratios do not reach the profile.
  f.find<QLineEdit>("DefBlkRatioEdit")->setText("99");
  ASSERT_TRUE(f.pages->pagesToProfile());
  EXPECT_EQ(f.settings().DefPercentage, 48);
}

TEST(PagesRoundTrip, TabsInOrderWithTheirCaptions) {
  PagesFixture f;
  QTabWidget* tabs = f.pages->pageControl();
  ASSERT_EQ(tabs->count(), 6);
  const char* captions[] = {"Test Items", "Flash Setting", "Dram Setting", "Device Setting", "F/W Setting", "RD"};
  const char* names[] = {"TabSheet1", "TabSheet2", "TabSheet6", "TabSheet3", "TabSheet4", "TabSheet5"};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(tabs->tabText(i), captions[i]);
    EXPECT_EQ(tabs->widget(i)->objectName(), names[i]);
  }
  auto* sub = f.find<QTabWidget>("PageControl2");
  ASSERT_EQ(sub->count(), 9);
  for (int i = 0; i < sub->count(); ++i) EXPECT_TRUE(sub->isTabVisible(i));  // until the list is first used
}

TEST(PagesRoundTrip, MalformedNumberStopsTheCopyWithAMessage) {
  PagesFixture f;
  f.find<QLineEdit>("Bch16RdErrThldEdit")->setText("1x3");
  f.find<QLineEdit>("LBA_Capacity")->setText("77");
  f.op.messages.clear();
  EXPECT_FALSE(f.pages->pagesToProfile());
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_EQ(f.op.messages[0].text, "'1x3' is not a valid integer value");
  EXPECT_EQ(f.settings().Bch16ReadErrorThreshold, 13);
  EXPECT_EQ(f.settings().LBACapacity, 0);  // the copy stopped before it
  // An empty wear-level box is skipped, not refused.
  f.find<QLineEdit>("Bch16RdErrThldEdit")->setText("9");
  f.find<QLineEdit>("WearLevFreqEdit")->setText("");
  EXPECT_TRUE(f.pages->pagesToProfile());
  EXPECT_EQ(f.settings().WearLevelFrequency, 128);
  EXPECT_EQ(f.settings().LBACapacity, 77);
}

}  // namespace
}  // namespace qk::gui
