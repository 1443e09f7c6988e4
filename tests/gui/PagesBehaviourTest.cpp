// The test-item list, key filters, lock, special mode and the service buttons of the pages.
#include <QSignalSpy>
#include <QTest>

#include "tests/gui/PagesTestSupport.h"

namespace qk::gui {
namespace {

using test::PagesFixture;

TEST(PagesList, PreformatKeepsDownloadChecked) {
  PagesFixture f;
  f.item("Preformat")->setCheckState(Qt::Checked);
  f.item("Download")->setCheckState(Qt::Unchecked);
  EXPECT_EQ(f.item("Download")->checkState(), Qt::Checked);
  ASSERT_TRUE(f.pages->pagesToProfile());
  EXPECT_EQ(f.settings().TestItemEnabled[5], 1);
  EXPECT_EQ(f.settings().TestItemEnabled[6], 1);
  f.item("Preformat")->setCheckState(Qt::Unchecked);
  f.item("Download")->setCheckState(Qt::Unchecked);
  EXPECT_EQ(f.settings().TestItemEnabled[6], 0);
}

TEST(PagesList, ItemsWithoutAnEntryKeepTheirValues) {
  PagesFixture f;  // EnFormat 0
  EXPECT_EQ(f.item("Disk Format"), nullptr);
  EXPECT_EQ(f.item("Check Temperature"), nullptr);
  EXPECT_TRUE(f.find<QWidget>("FormatGroupBox")->isHidden());
  auto& s = f.settings();
  s.TestItemEnabled[4] = 1;
  s.TestItemEnabled[9] = 0;
  for (int n = 12; n <= 23; ++n) s.TestItemEnabled[static_cast<std::size_t>(n)] = n % 2;
  f.find<QCheckBox>("CopyImageCheckBox")->setChecked(true);
  for (int i = 0; i < f.pages->testItemList()->count(); ++i)
    f.pages->testItemList()->item(i)->setCheckState(Qt::Checked);
  ASSERT_TRUE(f.pages->pagesToProfile());
  EXPECT_EQ(s.TestItemEnabled[4], 1);
  EXPECT_EQ(s.TestItemEnabled[9], 0);
  EXPECT_EQ(s.TestItemEnabled[10], 1);  // follows the copy-image box
  EXPECT_EQ(s.TestItemEnabled[24], 1);  // the capacity probe's entry is on the list
  for (int n = 12; n <= 23; ++n) EXPECT_EQ(s.TestItemEnabled[static_cast<std::size_t>(n)], n % 2) << n;
  // The rebuild order with both conditional entries.
  s.TestItemEnabled[9] = 1;
  s.TestItemEnabled[11] = 1;
  f.pages->profileToPages();
  const QStringList expected = {"Flash Module Test", "Bus Interface Test", "Flash Interface Test", "Preformat",
                                "Download", "R/W Test", "Check Tables", "Disk Format", "Check Temperature",
                                "Capacity Probe"};
  QStringList texts;
  for (int i = 0; i < f.pages->testItemList()->count(); ++i) texts << f.pages->testItemList()->item(i)->text();
  EXPECT_EQ(texts, expected);
  EXPECT_FALSE(f.find<QWidget>("FormatGroupBox")->isHidden());
}

TEST(PagesList, TheSelectedEntryShowsItsSubPage) {
  PagesFixture f;
  auto* sub = f.find<QTabWidget>("PageControl2");
  auto visible = [&] {
    QStringList out;
    for (int i = 0; i < sub->count(); ++i)
      if (sub->isTabVisible(i)) out << sub->widget(i)->objectName();
    return out;
  };
  f.pages->testItemList()->setCurrentItem(f.item("Preformat"));
  f.pages->subPageControl();
  EXPECT_EQ(visible(), QStringList{"OP_PFormat"});
  f.pages->testItemList()->setCurrentItem(f.item("Download"));
  EXPECT_EQ(visible(), QStringList{"OP_Download"});
  f.pages->testItemList()->setCurrentItem(f.item("R/W Test"));
  EXPECT_TRUE(visible().isEmpty());
  f.pages->applyMask(0b101);
  EXPECT_EQ(f.pages->testItemList()->item(0)->checkState(), Qt::Checked);
  EXPECT_EQ(f.pages->testItemList()->item(1)->checkState(), Qt::Unchecked);
  EXPECT_EQ(f.pages->testItemList()->item(2)->checkState(), Qt::Checked);
}

TEST(PagesEdits, HexFilterUpperCasesAndFourCharactersAtMost) {
  PagesFixture f;
  auto* vid = f.find<QLineEdit>("VendorIDEdit");
  QTest::keyClicks(vid, "b");
  EXPECT_EQ(vid->text(), "B");
  QTest::keyClicks(vid, "x1g2a7");  // x and g are swallowed
  EXPECT_EQ(vid->text(), "B12A");
  EXPECT_EQ(f.settings().VendorID, "B12A");
  vid->setText("12345");  // a fifth character is cut off
  EXPECT_EQ(vid->text(), "1234");
  EXPECT_EQ(f.settings().VendorID, "1234");
  auto* pid = f.find<QLineEdit>("ProductIDEdit");
  QTest::keyClicks(pid, "ff0e");
  EXPECT_EQ(f.settings().ProductID, "FF0E");
}

TEST(PagesEdits, SerialFollowsTheRadixAndTextsAreCutByTag) {
  PagesFixture f;
  auto* sn = f.find<QLineEdit>("SerialNumEdit");
  sn->clear();
  QTest::keyClicks(sn, "a9z");
  EXPECT_EQ(sn->text(), "A9");  // hexadecimal
  f.settings().SNDecimal = 1;
  QTest::keyClicks(sn, "b3");
  EXPECT_EQ(sn->text(), "A93");
  sn->setText(QString(25, '1'));
  EXPECT_EQ(sn->text().size(), 20);
  auto* fw = f.find<QLineEdit>("FirmwareVerEdit");
  fw->setText("123456789");
  EXPECT_EQ(fw->text(), "12345678");
  auto* model = f.find<QLineEdit>("ModelNumEdit");
  model->clear();
  QTest::keyClicks(model, "A\\B");
  EXPECT_EQ(model->text(), "AB");
  auto* vname = f.find<QLineEdit>("VendorNameEdit");
  vname->clear();
  QTest::keyClicks(vname, "ABCDEFGHIJ");  // typing stops at 8
  EXPECT_EQ(vname->text(), "ABCDEFGH");
  auto* temp = f.find<QLineEdit>("CheckMaxTemperatureValue");
  temp->clear();
  QTest::keyClicks(temp, "7a0");
  EXPECT_EQ(temp->text(), "70");
}

TEST(PagesEdits, Fat32LabelIsCutToElevenWithItsMessage) {
  PagesFixture f;
  f.op.messages.clear();
  auto* label = f.find<QLineEdit>("VolumeLabeledEdit");
  label->setText("ABCDEFGHIJKL");
  EXPECT_EQ(label->text(), "ABCDEFGHIJK");
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_EQ(f.op.messages[0].text, "FAT32 only support Volume label 11 characters!");
  EXPECT_EQ(f.op.messages[0].caption, "Message");
}

TEST(PagesLock, LockAndUnlockWithTheAccessCode) {
  PagesFixture f;
  auto* lock = f.find<QAbstractButton>("SpeedButton8");
  auto* save = f.find<QAbstractButton>("INISaveBtn");
  QTabWidget* tabs = f.pages->pageControl();
  lock->click();  // unlocked: locks without asking
  EXPECT_TRUE(f.op.questions.empty());
  EXPECT_FALSE(save->isEnabled());
  EXPECT_TRUE(lock->isChecked());
  for (int i = 0; i < tabs->count(); ++i) EXPECT_FALSE(tabs->widget(i)->isEnabled());

  f.op.answers.push_back(std::string("wrong"));
  lock->click();
  ASSERT_EQ(f.op.questions.size(), 1u);
  EXPECT_EQ(f.op.questions[0], "Please Input the Password|Password|hidden");
  EXPECT_FALSE(save->isEnabled());
  EXPECT_TRUE(lock->isChecked());
  EXPECT_FALSE(tabs->widget(0)->isEnabled());

  f.op.answers.push_back(std::string("vornish"));
  lock->click();
  EXPECT_TRUE(save->isEnabled());
  EXPECT_FALSE(lock->isChecked());
  for (int i = 0; i < tabs->count(); ++i) EXPECT_TRUE(tabs->widget(i)->isEnabled());
  EXPECT_TRUE(f.station->profile().settingsUnlocked);
}

TEST(PagesLock, NonZeroMPVersionLocksOnLoad) {
  PagesFixture f;
  IniFile ini = IniFile::load(f.dir.file("QKMassProd.ini"));
  ini.setInt("Setting", "MPVersion", 3);
  ASSERT_TRUE(ini.save(f.dir.file("locked.ini")));
  f.op.files.push_back(f.dir.file("locked.ini"));
  f.find<QAbstractButton>("INILoadBtn")->click();
  EXPECT_FALSE(f.station->profile().settingsUnlocked);
  EXPECT_FALSE(f.find<QAbstractButton>("INISaveBtn")->isEnabled());
  EXPECT_FALSE(f.pages->pageControl()->widget(0)->isEnabled());
  EXPECT_TRUE(f.op.questions.empty());
  // A profile with MPVersion 0 does not unlock what is locked.
  f.op.files.push_back(f.dir.file("QKMassProd.ini"));
  f.find<QAbstractButton>("INILoadBtn")->click();
  EXPECT_FALSE(f.station->profile().settingsUnlocked);
}

TEST(PagesLoad, TheFlashListFileIsRefused) {
  PagesFixture f;
  const std::string before = f.station->profile().iniFilePath;
  QSignalSpy loaded(f.pages.get(), &SettingsPages::profileLoaded);
  f.op.messages.clear();
  f.op.files.push_back(f.dir.file("FLASH.ini"));
  f.find<QAbstractButton>("INILoadBtn")->click();
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_EQ(f.op.messages[0].text,
            "The file is a setting file for flash, please choose a correct setting file for MP tool");
  EXPECT_EQ(f.station->profile().iniFilePath, before);
  EXPECT_EQ(loaded.count(), 0);
}

TEST(PagesSpecial, CtrlClickEntersSpecialModeAndPasswordGuardsDetect) {
  PagesFixture f;
  auto* tip = f.find<QWidget>("SpecialTipShape");
  auto* smart = f.find<QCheckBox>("SMARTChk");
  EXPECT_FALSE(smart->isEnabled());
  f.op.messages.clear();
  QTest::mouseClick(tip, Qt::LeftButton);  // without Ctrl nothing happens
  EXPECT_TRUE(f.op.messages.empty());
  EXPECT_FALSE(f.pages->specialMode());
  QTest::mouseClick(tip, Qt::LeftButton, Qt::ControlModifier);
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_EQ(f.op.messages[0].text, "Enter Special mode");
  EXPECT_TRUE(f.pages->specialMode());
  EXPECT_TRUE(smart->isEnabled());
  EXPECT_TRUE(f.find<QWidget>("Panel4")->isEnabled());
  EXPECT_TRUE(f.find<QWidget>("Panel5")->isEnabled());
  EXPECT_TRUE(f.find<QWidget>("Panel8")->isEnabled());
  EXPECT_EQ(f.settings().SpecialMode, 1);
  EXPECT_EQ(f.settings().EnableGetPutTable, 1);
  EXPECT_TRUE(f.pages->pageControl()->isTabVisible(5));

  f.op.messages.clear();
  f.op.answers.push_back(std::string("guess"));
  f.pages->speedButton6Click();
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_EQ(f.op.messages[0].text, "Password Fail!");
  f.op.answers.push_back(std::string("vornish"));
  f.pages->speedButton6Click();  // no devices: the detect says so
  ASSERT_TRUE(QTest::qWaitFor([&] { return !f.pages->detecting(); }, 60000));
  EXPECT_EQ(f.op.messages.back().text, "No connected device for detecting!!");
}

TEST(PagesSpecial, DramGroupTogglesOnCtrlClickOfItsLabel) {
  PagesFixture f;
  auto* group = f.find<QWidget>("DramGroupBox");
  auto* label = f.find<QWidget>("DramTypeLabel");
  EXPECT_TRUE(group->isHidden());
  QTest::mouseClick(label, Qt::LeftButton);
  EXPECT_TRUE(group->isHidden());
  QTest::mouseClick(label, Qt::LeftButton, Qt::ControlModifier);
  EXPECT_FALSE(group->isHidden());
  QTest::mouseClick(label, Qt::LeftButton, Qt::ControlModifier);
  EXPECT_TRUE(group->isHidden());
}

TEST(PagesRd, ModesFileButtonsAndTheRebuildBox) {
  PagesFixture f({{"RDSetting", "EnableGetPutTable", "1"}});
  auto* claim = f.find<QCheckBox>("ClaimNewChk");
  auto* close = f.find<QCheckBox>("RebuildCloseChk");
  EXPECT_FALSE(close->isEnabled());
  claim->setChecked(true);
  EXPECT_TRUE(close->isEnabled());
  close->setChecked(true);
  EXPECT_EQ(f.pages->runOptions().mode, RunMode::Production);  // "RD" is not the active page
  f.pages->pageControl()->setCurrentIndex(5);
  EXPECT_EQ(f.pages->runOptions().mode, RunMode::ClaimNew);
  EXPECT_TRUE(f.pages->runOptions().rebuildClose);
  claim->setChecked(false);
  EXPECT_FALSE(close->isEnabled());
  f.find<QCheckBox>("PutDefTabChk")->setChecked(true);
  EXPECT_EQ(f.pages->runOptions().mode, RunMode::TableTransfer);
  EXPECT_EQ(f.pages->runOptions().transfer, TableTransferKind::PutDefect);

  f.op.files.push_back(f.dir.file("early.txt"));
  f.find<QAbstractButton>("GetDefTabBtn")->click();
  EXPECT_EQ(f.find<QLineEdit>("TableInEdit")->text().toStdString(), f.dir.file("early.txt"));
  EXPECT_EQ(f.settings().TableIn, f.dir.file("early.txt"));
  f.op.files.push_back(f.dir.file("later.txt"));
  f.find<QAbstractButton>("PutLaterTabBtn")->click();
  EXPECT_EQ(f.settings().LaterTableOut, f.dir.file("later.txt"));
}

TEST(PagesToolBar, StopButtonShowsAndAsksTheWindowToStop) {
  PagesFixture f;
  auto* stop = f.find<QAbstractButton>("SpeedButton9");
  EXPECT_TRUE(stop->isHidden());
  f.pages->showStopButton();
  EXPECT_FALSE(stop->isHidden());
  QSignalSpy spy(f.pages.get(), &SettingsPages::stopRequested);
  stop->click();
  EXPECT_EQ(spy.count(), 1);
  EXPECT_TRUE(f.find<QAbstractButton>("SpeedButton6")->isHidden());
}

TEST(PagesFiles, FirmwareChoiceSetsStatusGroupsAndSerialLength) {
  PagesFixture f;
  QSignalSpy status(f.pages.get(), &SettingsPages::statusText);
  auto* spin = f.find<QSpinBox>("SNMinLengthSpin");
  spin->setMinimum(1);
  spin->setValue(8);
  f.find<QCheckBox>("UsbBinChk")->setChecked(true);
  f.pages->binFileChkClick();
  EXPECT_EQ(spin->value(), 12);
  EXPECT_EQ(spin->minimum(), 12);
  EXPECT_EQ(f.find<QLabel>("SerialNumLabel")->text(), "Serial Number (12-20) ");
  EXPECT_FALSE(f.find<QWidget>("USBGroupBox")->isHidden());
  EXPECT_FALSE(f.find<QWidget>("SATAGroupBox")->isHidden());
  QString panel1;
  for (const auto& args : status)
    if (args[0].toInt() == 1) panel1 = args[1].toString();
  EXPECT_EQ(panel1, "SYS_S.bin (100205) / SYS_U.bin (100205)");

  f.find<QCheckBox>("UsbBinChk")->setChecked(false);
  f.find<QCheckBox>("SataBinChk")->setChecked(false);
  status.clear();
  f.pages->binFileChkClick();
  EXPECT_EQ(spin->minimum(), 1);
  EXPECT_EQ(f.find<QLabel>("SerialNumLabel")->text(), "Serial Number (20) ");
  EXPECT_TRUE(f.find<QWidget>("CommonGroupBox")->isHidden());
  EXPECT_TRUE(f.find<QWidget>("SATAGroupBox")->isHidden());
  ASSERT_FALSE(status.isEmpty());
  EXPECT_EQ(status.last()[1].toString(), "");
}

TEST(PagesFiles, KeyFileButtonWritesTheFileAndSaysWhere) {
  PagesFixture f({{"DeviceSetting", "EncryptionEnable", "1"}});
  f.op.messages.clear();
  f.find<QAbstractButton>("BnKeyFile")->click();
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_EQ(f.op.messages[0].text, "Generate the key file (" + f.dir.file("KeyFile.dat") + ") successfully");
  EXPECT_EQ(f.dir.read("KeyFile.dat").size(), 128u);
}

}  // namespace
}  // namespace qk::gui
