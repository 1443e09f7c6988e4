#include "sim/SampleData.h"

#include <gtest/gtest.h>

#include <set>

#include "config/DataFiles.h"
#include "config/FlashList.h"
#include "config/IniFile.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"

using namespace qk;
using qk::test::RecordingOperator;
using qk::test::TempDir;

namespace {
const char* const kSampleFiles[] = {"Flash.ini", "QKMassProd.ini", "SYS_S.bin", "SYS_U.bin", "GDP.bin", "satatest.bin"};
}

TEST(SampleData, PassesTheStationsOwnFileChecks) {
  TempDir dir;
  ASSERT_TRUE(WriteSampleData(dir.path()));
  RecordingOperator op;
  DataFileState st;
  ProgramFolder folder(dir.path());
  EXPECT_TRUE(CheckProgramImages(folder, op, st));
  EXPECT_EQ(st.gdpVersion, kSampleGdpVersion);
  EXPECT_EQ(st.satatestVersion, kSampleTestVersion);

  FirmwareChoice both;
  both.usbChecked = true;
  auto sel = SelectFirmware(folder, both, op, st);
  EXPECT_TRUE(op.messages.empty()) << op.messages.front().text;
  EXPECT_EQ(sel.statusText, "SYS_S.bin (100205) / SYS_U.bin (100205)");
  EXPECT_EQ(st.familyText, "21");

  IniFile profile = IniFile::load(dir.file("QKMassProd.ini"));
  for (const char* section : {"Setting", "TestItems", "DeviceSetting", "FlashSetting", "FwSetting", "RDSetting"})
    EXPECT_TRUE(profile.hasSection(section)) << section;
  EXPECT_EQ(profile.getString("FlashSetting", "ExtFlashFile", ""), "Flash.ini");
  EXPECT_EQ(profile.getString("FlashSetting", "FlashUniName", ""), "WBG");
  EXPECT_EQ(profile.getInt("FlashSetting", "Channel", 0), 4);
  EXPECT_EQ(profile.getInt("FlashSetting", "Bank", 0), 2);

  FlashCatalogue cat;
  std::string error;
  ASSERT_TRUE(ParseFlashList(dir.file(profile.getString("FlashSetting", "ExtFlashFile", "")), cat, &error)) << error;
  int wbg = cat.findUnique("WBG");
  ASSERT_GE(wbg, 0);
  EXPECT_EQ(cat.types[static_cast<size_t>(wbg)].partNumber, "K9GBG08U0A");
  EXPECT_EQ(cat.types[static_cast<size_t>(wbg)].flashIdWord, 0x0281);
  EXPECT_EQ(cat.types[static_cast<size_t>(wbg)].ceCount, 2);
}

TEST(SampleData, FlashListHoldsOnlyDecodableTypesAndOneAmbiguousId) {
  FlashCatalogue cat;
  ASSERT_TRUE(ParseFlashList(IniFile::parse(SampleFlashList()), cat));
  EXPECT_EQ(cat.vendors.size(), 3u);
  std::set<std::string> ids;
  int duplicates = 0;
  for (const auto& t : cat.types) {
    unsigned w = t.flashIdWord;
    EXPECT_LE(w & 7, 2u) << t.uniqueName;             // page size code
    EXPECT_LE((w >> 3) & 7, 3u) << t.uniqueName;      // pages per block code
    EXPECT_LE((w >> 6) & 7, 4u) << t.uniqueName;      // blocks per chip enable code
    EXPECT_LE(w >> 12, 4u) << t.uniqueName;           // family code
    EXPECT_GE(t.ceCount, 1) << t.uniqueName;
    EXPECT_LE(t.tableSelect, 4) << t.uniqueName;
    std::string id(reinterpret_cast<const char*>(t.idBytes), 5);
    if (!ids.insert(id + static_cast<char>(t.ceCount)).second) ++duplicates;
  }
  EXPECT_EQ(duplicates, 1);
}

TEST(SampleData, ImagesHaveTheLayoutTheDownloadAndLoaderExpect) {
  for (char form : {'S', 'U'}) {
    std::string fw = SampleFirmwareImage(form);
    EXPECT_EQ(fw.size() % 8192, 0u);
    EXPECT_EQ(fw.substr(0x300, 5), "QKSSD");
    EXPECT_EQ(fw[0x30D], form);
    EXPECT_EQ(ExtractText(fw, kFirmwareVersionOffset, 6), "100205");
    EXPECT_EQ(ExtractText(fw, kFirmwareFamilyOffset, 2), "21");
    EXPECT_TRUE(FirmwareImageIntact(fw));
    // Only the first page announces itself, whatever the page size.
    for (size_t page = 2048; page < fw.size(); page += 2048) EXPECT_NE(fw.substr(page + 0x300, 4), "QKSS") << page;
  }
  EXPECT_NE(SampleFirmwareImage('S'), SampleFirmwareImage('U'));

  std::string gdp = SampleProgramImage("GDP_", kSampleGdpVersion);
  std::string tst = SampleProgramImage("TST_", kSampleTestVersion);
  for (const auto* img : {&gdp, &tst}) EXPECT_LE(img->size(), 64512u);
  EXPECT_EQ(gdp.substr(64, 4), "GDP_");
  EXPECT_EQ(tst.substr(64, 4), "TST_");
  EXPECT_EQ(ExtractText(gdp, kProgramVersionOffset, 6), kSampleGdpVersion);
  EXPECT_EQ(ExtractText(tst, kProgramVersionOffset, 6), kSampleTestVersion);
}

TEST(SampleData, SameBytesEveryTimeAndInTheBuildsProgramFolder) {
  TempDir a, b;
  ASSERT_TRUE(WriteSampleData(a.path()));
  ASSERT_TRUE(WriteSampleData(b.path()));
  for (const char* name : kSampleFiles) {
    EXPECT_EQ(a.read(name), b.read(name)) << name;
    if (std::string(name) == "QKMassProd.ini") continue;  // the station saves its profile there
    std::string built;
    ASSERT_TRUE(ReadWholeFile(std::string(QK_BIN_DIR) + "/" + name, built)) << name;
    EXPECT_EQ(built, a.read(name)) << name;
  }
}

TEST(SampleData, RewritingKeepsAnExistingProfile) {
  TempDir dir;
  dir.write("QKMassProd.ini", "[Setting]\nTimeOut=3\n");
  ASSERT_TRUE(WriteSampleData(dir.path()));
  EXPECT_EQ(dir.read("QKMassProd.ini"), "[Setting]\nTimeOut=3\n");
}
