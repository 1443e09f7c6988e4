#include "config/IniFile.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"

using qk::IniFile;

TEST(IniFile, ReadsKeysWithoutRegardToCaseAndFallsBackToDefaults) {
  IniFile ini = IniFile::parse("; profile\r\n[Setting]\r\nTimeOut = 3 \r\nProductModel=QK\r\n[TestItems]\r\nEnRWTest=1\r\n");
  EXPECT_EQ(ini.getInt("setting", "TIMEOUT", 10), 3);
  EXPECT_EQ(ini.getString("SETTING", "productmodel", "x"), "QK");
  EXPECT_EQ(ini.getInt("Setting", "Missing", 10), 10);
  EXPECT_EQ(ini.getInt("Nowhere", "TimeOut", 7), 7);
  EXPECT_EQ(ini.getInt("TestItems", "EnRWTest", 0), 1);
}

TEST(IniFile, IntegersReadLikeTheClassicProfileReader) {
  IniFile ini = IniFile::parse(
      "[S]\nsigned=-42\nplus=+5\njunk=12abc\nword=abc\nempty=\nhuge=99999999999999\nneghuge=-99999999999\nhex=0x10\n");
  EXPECT_EQ(ini.getInt("S", "signed", 0), -42);
  EXPECT_EQ(ini.getInt("S", "plus", 0), 5);
  EXPECT_EQ(ini.getInt("S", "junk", 0), 12);
  EXPECT_EQ(ini.getInt("S", "word", 9), 0);   // present but not a number: 0, not the default
  EXPECT_EQ(ini.getInt("S", "empty", 9), 0);
  EXPECT_EQ(ini.getInt("S", "huge", 0), INT32_MAX);
  EXPECT_EQ(ini.getInt("S", "neghuge", 0), INT32_MIN);
  EXPECT_EQ(ini.getInt("S", "hex", 0), 0);  // decimal only
}

TEST(IniFile, WriteTouchesOnlyItsKeyAndKeepsEverythingElse) {
  std::string original =
      "; hand-written comment\r\n[Setting]\r\nShowTitle=1\r\n  TimeOut=10\r\n\r\n[FwSetting]\r\nTMC0=17\r\n";
  IniFile ini = IniFile::parse(original);
  ini.setInt("setting", "timeout", 3);
  ini.setString("Setting", "ConnectDevNum", "2");  // missing key goes to the end of its section
  ini.setString("RDSetting", "TableIn", "a.txt");  // missing section goes to the end of the file
  EXPECT_EQ(ini.text(),
            "; hand-written comment\r\n[Setting]\r\nShowTitle=1\r\nTimeOut=3\r\nConnectDevNum=2\r\n\r\n"
            "[FwSetting]\r\nTMC0=17\r\n\r\n[RDSetting]\r\nTableIn=a.txt\r\n");
}

TEST(IniFile, ValuesCannotInjectLinesOrSections) {
  IniFile ini;
  ini.setString("S", "k", "a\r\n[Evil]\r\nx=1");
  EXPECT_FALSE(ini.hasSection("Evil"));
  EXPECT_EQ(ini.getString("S", "k", ""), "a  [Evil]  x=1");
}

TEST(IniFile, FirstOccurrenceWinsForDuplicatesAndQuotesAreStripped) {
  IniFile ini = IniFile::parse("[A]\nk=1\nk=2\nq=\"SSD Disk\"\n[a]\nk=3\n");
  EXPECT_EQ(ini.getInt("A", "k", 0), 1);
  EXPECT_EQ(ini.getString("A", "q", ""), "SSD Disk");
  EXPECT_EQ(ini.keys("A"), (std::vector<std::string>{"k", "q"}));
}

TEST(IniFile, AByteOrderMarkHidesNoSectionAndSurvivesASave) {
  IniFile ini = IniFile::parse("\xEF\xBB\xBF[Setting]\r\nTimeOut=3\r\n[TestItems]\r\nEnDownload=1\r\n");
  EXPECT_TRUE(ini.hasSection("Setting"));
  EXPECT_EQ(ini.getInt("Setting", "TimeOut", 10), 3);
  ini.setInt("Setting", "TimeOut", 5);
  EXPECT_EQ(ini.text(), "\xEF\xBB\xBF[Setting]\r\nTimeOut=5\r\n[TestItems]\r\nEnDownload=1\r\n");
}

TEST(IniFile, EraseSectionRemovesItsLinesOnly) {
  IniFile ini = IniFile::parse("[Style]\nPortPanel0=Left 1\n\n[Main]\nLeft=5\n");
  ini.eraseSection("style");
  EXPECT_EQ(ini.text(), "[Main]\nLeft=5\n");
}

TEST(IniFile, SaveIsAtomicAndMissingFileGivesDefaults) {
  qk::test::TempDir dir;
  std::string path = dir.file("p.ini");
  IniFile missing = IniFile::load(path);
  EXPECT_FALSE(missing.loadedFromFile());
  EXPECT_EQ(missing.getString("S", "k", "def"), "def");
  ASSERT_TRUE(qk::writeIniString(path, "S", "k", "v"));
  EXPECT_EQ(qk::readIniString(path, "s", "K", ""), "v");
  // No temporary file is left behind.
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) (void)e, ++files;
  EXPECT_EQ(files, 1);
  // A folder that cannot take the file fails cleanly.
  EXPECT_FALSE(IniFile::parse("[S]\nk=1\n").save(dir.file("no/such/folder/x.ini")));
}

TEST(IniFile, GarbageAndBinaryInputNeverCrash) {
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919) & 0xFF);
  garbage += "\n[" + std::string(100000, 'x') + "\n=\n[]\n==\n[S]\nk=\0v\n";
  IniFile ini = IniFile::parse(garbage);
  EXPECT_EQ(ini.getInt("Nope", "k", 4), 4);
  ini.setString("S", "k", "1");
  EXPECT_NO_THROW((void)ini.text());
}

TEST(ParseIntAuto, DecimalHexAndJunk) {
  EXPECT_EQ(qk::parseIntAuto("0x0281"), 641);
  EXPECT_EQ(qk::parseIntAuto("x10"), 16);
  EXPECT_EQ(qk::parseIntAuto("  -12z"), -12);
  EXPECT_EQ(qk::parseIntAuto("0X1f"), 31);
  EXPECT_EQ(qk::parseIntAuto("abc"), 0);
  EXPECT_GT(qk::parseIntAuto("99999999999999999999999"), 0);
}
