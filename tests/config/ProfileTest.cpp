#include "config/Profile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "config/IniFile.h"
#include "support/ProfileFixtures.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"

using namespace qk;
using qk::test::RecordingOperator;
using qk::test::TempDir;

namespace {

struct Loaded {
  LoadResult result;
  Profile profile;
  RecordingOperator op;
};

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override { test::writeMinimalFlashList(dir); }
  Loaded load(const std::string& content, bool write = true) {
    Loaded l;
    if (write) dir.write("QKMassProd.ini", content);
    l.result = LoadProfile(dir.file("QKMassProd.ini"), l.profile, ProgramFolder(dir.path()), l.op);
    return l;
  }
  TempDir dir;
};

}  // namespace

TEST_F(ProfileTest, MissingFileWarnsAndLoadsEveryDefault) {
  Loaded l = load("", false);
  ASSERT_EQ(l.result, LoadResult::Ok);
  ASSERT_EQ(l.op.messages.size(), 1u);
  EXPECT_EQ(l.op.messages[0].text,
            "The " + dir.file("QKMassProd.ini") + " file cann't be found, and MP will create the file!\n");
  EXPECT_EQ(l.op.messages[0].caption, "Error");
  const auto& s = l.profile.settings;
  EXPECT_EQ(s.ProductModel, "QK");
  EXPECT_EQ(s.TimeOut, 600000);
  EXPECT_EQ(s.TestItemEnabled[1], 1);
  EXPECT_EQ(s.CheckFlashMask, 31);
  EXPECT_EQ(s.DownloadType, 1);
  EXPECT_EQ(s.SataLBA48, 1);
  EXPECT_EQ(s.DiskLabel, "SSD Disk");
  EXPECT_EQ(s.SerialNum, "QK_0123456789");
  EXPECT_EQ(s.ModelNum, "Talvery QKR2XX SSD");
  EXPECT_EQ(s.SNMinLength, 12);
  EXPECT_EQ(s.EncryptionString, "Pelvane");
  EXPECT_EQ(s.FlashUniName, "WBG");
  EXPECT_EQ(s.Channel, 8);
  EXPECT_EQ(s.DefPercentage, 48);
  EXPECT_EQ(s.ResPercentage, 68);
  EXPECT_EQ(s.WearLevelFrequency, 128);
  EXPECT_EQ(s.EnLaterBad, 1);
  EXPECT_EQ(s.EnTrimCmd, 1);
  EXPECT_EQ(s.TMC0, 17);
  EXPECT_EQ(l.profile.logPath, dir.path() + "log/");
  EXPECT_TRUE(directoryExists(dir.path() + "log"));
  EXPECT_EQ(l.profile.catalogue.vendors.size(), 1u);
}

TEST_F(ProfileTest, TimeOutIsMinutesOnDiskAndMillisecondsInMemory) {
  EXPECT_EQ(load("[Setting]\nTimeOut=0\n").profile.settings.TimeOut, 300000);
  EXPECT_EQ(load("[Setting]\nTimeOut=-4\n").profile.settings.TimeOut, 300000);
  Loaded three = load("[Setting]\nTimeOut=3\n");
  EXPECT_EQ(three.profile.settings.TimeOut, 180000);
  ASSERT_TRUE(SaveProfile(dir.file("QKMassProd.ini"), three.profile.settings, ProgramFolder(dir.path())));
  EXPECT_EQ(readIniInt(dir.file("QKMassProd.ini"), "Setting", "TimeOut", 0), 3);
  // A value beyond 32-bit milliseconds must not wrap into a tiny or negative time-out.
  EXPECT_GT(load("[Setting]\nTimeOut=99999999\n").profile.settings.TimeOut, 2000000000);
}

TEST_F(ProfileTest, SaveKeepsKeysItNeverWritesAndRoundTrips) {
  std::string hand =
      "; line engineer's notes\n[Setting]\nShowTitle=1\nLogPath=log\nTimeOut=7\n"
      "[TestItems]\nEnFlashModule=0\nEnDramTest=1\nEnRWTest=1\n"
      "[FwSetting]\nWearLevelFrequency=64\nTMC0=3\nEnModifyTMCvalue=1\n";
  Loaded first = load(hand);
  ASSERT_EQ(first.result, LoadResult::Ok);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(SaveProfile(dir.file("QKMassProd.ini"), first.profile.settings, ProgramFolder(dir.path())));
  }
  std::string text = dir.read("QKMassProd.ini");
  EXPECT_EQ(text.rfind("; line engineer's notes\n", 0), 0u);
  IniFile ini = IniFile::load(dir.file("QKMassProd.ini"));
  EXPECT_EQ(ini.getInt("TestItems", "EnFlashModule", 9), 0);
  EXPECT_EQ(ini.getInt("TestItems", "EnDramTest", 9), 1);
  EXPECT_EQ(ini.getInt("FwSetting", "WearLevelFrequency", 0), 64);
  EXPECT_EQ(ini.getInt("FwSetting", "TMC0", 0), 3);
  EXPECT_FALSE(ini.hasKey("FwSetting", "InterleaveWay"));
  EXPECT_FALSE(ini.hasKey("Setting", "EnSaveDefectTable"));

  Loaded second = load("", false);
  const auto& a = first.profile.settings;
  const auto& b = second.profile.settings;
  EXPECT_EQ(b.TimeOut, 420000);
  EXPECT_EQ(a.TestItemEnabled, b.TestItemEnabled);
  EXPECT_EQ(a.SerialNum, b.SerialNum);
  EXPECT_EQ(a.ModelNum, b.ModelNum);
  EXPECT_EQ(a.ResPercentage, b.ResPercentage);
  EXPECT_EQ(a.WearLevelFrequency, b.WearLevelFrequency);
  EXPECT_EQ(a.TMC0, b.TMC0);
}

TEST_F(ProfileTest, FreshSaveWritesSectionsAndKeysInTheirOrder) {
  Loaded l = load("", false);
  ASSERT_TRUE(SaveProfile(dir.file("out.ini"), l.profile.settings, ProgramFolder(dir.path())));
  IniFile ini = IniFile::load(dir.file("out.ini"));
  EXPECT_EQ(ini.keys("Setting"),
            (std::vector<std::string>{"ProductModel", "MPVersion", "TimeOut", "ConnectDevNum", "EnBarCode"}));
  EXPECT_EQ(ini.keys("TestItems"),
            (std::vector<std::string>{"CheckFlashMask", "EnSataTest", "EnFlashTest", "EnPreFormat", "EnDownload",
                                      "DownloadType", "SataLBA48", "LEDLightMode", "EnCheckTables", "EnRWTest",
                                      "EnFormat", "DiskFormat", "DiskLabel"}));
  EXPECT_EQ(ini.keys("DeviceSetting"),
            (std::vector<std::string>{"ModelNum", "FirmwareVer", "SerialNum", "SNAutoInc", "SNDecimal",
                                      "SNMinLength", "SNErrReuse"}));
  EXPECT_EQ(ini.keys("FlashSetting"), (std::vector<std::string>{"ExtFlashFile", "Capacity", "FlashUniName",
                                                                 "Channel", "Bank", "DrvCurrent"}));
  EXPECT_EQ(ini.keys("FwSetting"),
            (std::vector<std::string>{"DefPercentage", "ResPercentage", "Bch16ReadErrorThreshold",
                                      "Bch24ReadErrorThreshold", "Bch16EccErrorCopyThreshold",
                                      "Bch24EccErrorCopyThreshold", "ScrambleEnable", "RemapEnable",
                                      "SecurityCounter", "DirtyDepth", "EnTrimCmd"}));
  EXPECT_FALSE(ini.hasSection("RDSetting"));
  std::string text = dir.read("out.ini");
  EXPECT_LT(text.find("[Setting]"), text.find("[TestItems]"));
  EXPECT_LT(text.find("[FwSetting]"), text.size());
}

TEST_F(ProfileTest, ConditionalKeysAreWrittenOnlyWhenTheirSwitchIsOn) {
  Loaded l = load("", false);
  auto s = l.profile.settings;
  s.CopyImagePath = "img.bin";
  s.TestItemEnabled[11] = 0;
  s.CheckMaxTemperatureValue = 70;
  s.EncryptionString = "secret";
  s.EncryptionEnable = 1;
  s.TableIn = "t.txt";
  ProgramFolder folder(dir.path());
  ASSERT_TRUE(SaveProfile("a.ini", s, folder));  // relative: into the program folder
  IniFile a = IniFile::load(dir.file("a.ini"));
  EXPECT_FALSE(a.hasKey("TestItems", "CopyImagePath"));
  EXPECT_FALSE(a.hasKey("TestItems", "CheckMaxTemperatureValue"));
  EXPECT_FALSE(a.hasKey("TestItems", "EnCheckTemperature"));
  EXPECT_FALSE(a.hasKey("RDSetting", "TableIn"));
  EXPECT_FALSE(a.hasKey("DeviceSetting", "IDE_UDMA5"));
  EXPECT_EQ(a.getString("DeviceSetting", "EncryptionString", ""), "secret");

  s.TestItemEnabled[10] = 1;
  s.TestItemEnabled[11] = 1;
  s.EnableGetPutTable = 1;
  s.IDE_UDMA5 = 1;
  dir.write("pc.ini", "");  // the marker keeps the encryption string out of the file
  ASSERT_TRUE(SaveProfile("b.ini", s, folder));
  IniFile b = IniFile::load(dir.file("b.ini"));
  EXPECT_EQ(b.getString("TestItems", "CopyImagePath", ""), "img.bin");
  EXPECT_EQ(b.getInt("TestItems", "CheckMaxTemperatureValue", 0), 70);
  EXPECT_EQ(b.getString("RDSetting", "TableIn", ""), "t.txt");
  EXPECT_EQ(b.keys("RDSetting"), (std::vector<std::string>{"TableIn", "TableOut", "LaterTableIn", "LaterTableOut"}));
  EXPECT_EQ(b.getInt("DeviceSetting", "IDE_UDMA5", 0), 1);
  EXPECT_FALSE(b.hasKey("DeviceSetting", "EncryptionString"));
}

TEST_F(ProfileTest, DecimalSerialWithLettersIsResetToZeros) {
  Loaded l = load("[DeviceSetting]\nSNDecimal=1\n");
  EXPECT_EQ(l.profile.settings.SerialNum, std::string(13, '0'));
  ASSERT_EQ(l.op.messages.size(), 1u);
  EXPECT_EQ(l.op.messages[0].text,
            "Please check the loading serial numbers, the format are not Hex.\n. Reset ther serial number to "
            "default value");
  Loaded ok = load("[DeviceSetting]\nSNDecimal=1\nSerialNum=000123\n");
  EXPECT_EQ(ok.profile.settings.SerialNum, "000123");
  EXPECT_TRUE(ok.op.messages.empty());
}

TEST_F(ProfileTest, OverlongSerialIsCutToItsBuffer) {
  Loaded l = load("[DeviceSetting]\nSerialNum=" + std::string(500, '7') + "\n");
  EXPECT_EQ(l.profile.settings.SerialNum, std::string(79, '7'));
}

TEST_F(ProfileTest, FlashListProblemsFailTheLoadWithTheirMessages) {
  Loaded empty = load("[FlashSetting]\nExtFlashFile=\n");
  // An empty value reads as the empty text, not the default.
  EXPECT_EQ(empty.result, LoadResult::Failed);
  EXPECT_EQ(empty.op.messages.back().text, "Please make sure the flash file  exist!\n");
  Loaded missing = load("[FlashSetting]\nExtFlashFile=Nope.ini\n");
  EXPECT_EQ(missing.result, LoadResult::Failed);
  EXPECT_EQ(missing.op.messages.back().text, "Please make sure the flash file Nope.ini format correct!\n");
  EXPECT_EQ(missing.op.messages.back().caption, "Error");
}

TEST_F(ProfileTest, LogPathAndLogFolderCreation) {
  Loaded other = load("[Setting]\nLogPath=" + dir.path() + "runs\n");
  EXPECT_EQ(other.result, LoadResult::Ok);
  EXPECT_EQ(other.profile.logPath, dir.path() + "runs");  // used as written: names are glued on
  Loaded deep = load("[Setting]\nLogPath=" + dir.path() + "no/such/parent/\n");
  EXPECT_EQ(deep.result, LoadResult::LogFolderFailed);
}

TEST_F(ProfileTest, VersionLockAndYieldCounters) {
  dir.write("log/QKSSD.log", "[TestRecord]\nTotalTestCount=12\nNumberOfPass=10\n");
  Loaded locked = load("[Setting]\nMPVersion=2\n");
  EXPECT_FALSE(locked.profile.settingsUnlocked);
  EXPECT_EQ(YieldText(locked.profile.settings), "10 / 12");
  Loaded open = load("[Setting]\nMPVersion=0\n");
  EXPECT_TRUE(open.profile.settingsUnlocked);

  auto s = open.profile.settings;
  s.TotalTestCount = 13;
  s.NumberOfPass = 11;
  ASSERT_TRUE(WriteYieldCounters(open.profile.logPath, s));
  ProfileSettings back;
  ReadYieldCounters(open.profile.logPath, back);
  EXPECT_EQ(back.TotalTestCount, 13);
  EXPECT_EQ(back.NumberOfPass, 11);
}

TEST_F(ProfileTest, LoadTimeMirrors) {
  Loaded l = load("[Setting]\nEnSaveDefectTable=1\n[FwSetting]\nLEDControl=2\nInterleaveWay=4\nDirtyDepth=90\n"
                  "[RDSetting]\nDumpDebugFile=1\n[TestItems]\nCheckFlashMask=5\n");
  EXPECT_EQ(l.profile.mirrors.ledInterleave, 0x24);
  EXPECT_EQ(l.profile.mirrors.dirtyDepth, 90);
  EXPECT_EQ(l.profile.mirrors.dumpDebugFile, 1);
  EXPECT_EQ(l.profile.mirrors.enSaveDefectTable, 1);
  EXPECT_EQ(l.profile.mirrors.checkFlashMask, 5);
}

TEST_F(ProfileTest, ExitSavesBothProfilesAndTheCounters) {
  dir.write("line2.ini", "[Setting]\nTimeOut=4\n");
  Profile p;
  RecordingOperator op;
  ProgramFolder folder(dir.path());
  ASSERT_EQ(LoadProfile(dir.file("line2.ini"), p, folder, op), LoadResult::Ok);
  p.settings.TotalTestCount = 5;
  p.settings.NumberOfPass = 4;
  ASSERT_TRUE(SaveAtExit(p, folder));
  EXPECT_EQ(readIniInt(dir.file("QKMassProd.ini"), "Setting", "TimeOut", 0), 4);
  EXPECT_EQ(readIniInt(dir.file("log/QKSSD.log"), "TestRecord", "NumberOfPass", 0), 4);
}

TEST_F(ProfileTest, ARelativeLogFolderBelongsToTheProgramFolder) {
  // Started from anywhere, the station finds the same log folder.
  const std::string cwd = std::filesystem::current_path();
  TempDir elsewhere;
  std::filesystem::current_path(elsewhere.path());
  Loaded l = load("[Setting]\nLogPath=runs/\n");
  std::filesystem::current_path(cwd);
  EXPECT_EQ(l.result, LoadResult::Ok);
  EXPECT_EQ(l.profile.logPath, dir.path() + "runs/");
  EXPECT_TRUE(directoryExists(dir.path() + "runs/"));
  EXPECT_FALSE(directoryExists(elsewhere.path() + "runs/"));
}

TEST_F(ProfileTest, AbsurdCountersAreReportedNotWrapped) {
  dir.write("log/QKSSD.log", "[TestRecord]\nTotalTestCount=5000000000\nNumberOfPass=4999999999\n");
  Loaded big = load("");
  EXPECT_EQ(big.profile.settings.TotalTestCount, 5000000000LL);
  EXPECT_EQ(YieldText(big.profile.settings), "4999999999 / 5000000000");
  EXPECT_TRUE(big.op.messages.empty());

  for (const char* bad : {"TotalTestCount=-2147483000\nNumberOfPass=1\n", "TotalTestCount=12x\nNumberOfPass=1\n",
                          "TotalTestCount=99999999999999999999\nNumberOfPass=1\n",
                          "TotalTestCount=3\nNumberOfPass=4\n"}) {
    dir.write("log/QKSSD.log", std::string("[TestRecord]\n") + bad);
    Loaded l = load("");
    EXPECT_EQ(l.result, LoadResult::Ok) << bad;
    EXPECT_EQ(YieldText(l.profile.settings), "0 / 0") << bad;
    ASSERT_EQ(l.op.messages.size(), 1u) << bad;
    EXPECT_NE(l.op.messages[0].text.find("QKSSD.log cannot be read"), std::string::npos) << l.op.messages[0].text;
  }
  std::filesystem::remove(dir.file("log/QKSSD.log"));
  std::filesystem::create_directory(dir.file("log/QKSSD.log"));
  Loaded unreadable = load("");
  ASSERT_EQ(unreadable.op.messages.size(), 1u);
  EXPECT_NE(unreadable.op.messages[0].text.find("QKSSD.log: not a regular file"), std::string::npos);
}
