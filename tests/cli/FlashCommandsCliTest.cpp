// autodetect, params and idema through the command line, on the bench.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "config/IniFile.h"
#include "sim/SampleData.h"
#include "support/RunCli.h"
#include "support/TempDir.h"

namespace {

using qk::test::TempDir;

std::string bench(const std::string& drive) {
  return "[Bench]\nTimeScale=0\n[Hub1]\nParent=root\nKind=usb2\nPorts=2\n" + drive;
}

qk::test::CliResult cli(const TempDir& home, const std::string& args) { return qk::test::runCliIn(home.path(), args); }

}  // namespace

TEST(AutoDetectCli, FindsTheFlashTypeAndWritesOnlyItsFourKeys) {
  for (const char* token : {"R20X", "k404"}) {
    TempDir home;
    ASSERT_TRUE(qk::WriteSampleData(home.path()));
    home.write("b.bench", bench(std::string("[Drive1]\nAt=Hub1:2\nToken=") + token + "\nFlash=WBG\nChannel=2\nBank=4\n"));
    const std::string before = home.read("QKMassProd.ini");
    auto r = cli(home, "--bench b.bench --json autodetect");
    ASSERT_EQ(r.exitCode, 0) << token << r.err;
    auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["slot"], 2);
    ASSERT_EQ(j["matches"].size(), 1u);
    const auto& m = j["matches"][0];
    EXPECT_EQ(m["vendor"], "Nandora");
    EXPECT_EQ(m["uniqueName"], "WBG");
    EXPECT_EQ(m["partNumber"], "K9GBG08U0A");
    EXPECT_EQ(m["chipEnables"], 2);
    EXPECT_EQ(m["channel"], 2);
    EXPECT_EQ(m["bank"], 4);
    EXPECT_EQ(m["driveCurrent"], 2);  // four banks of two-CE packages
    EXPECT_EQ(r.err.find("Flash Auto Detect Result") != std::string::npos, true);

    auto ini = qk::IniFile::load(home.file("QKMassProd.ini"));
    EXPECT_EQ(ini.getString("FlashSetting", "FlashUniName", ""), "WBG");
    EXPECT_EQ(ini.getInt("FlashSetting", "Channel", 0), 2);
    EXPECT_EQ(ini.getInt("FlashSetting", "Bank", 0), 4);
    EXPECT_EQ(ini.getInt("FlashSetting", "DrvCurrent", 0), 2);
    // Every other line stays as it was.
    auto other = qk::IniFile::parse(before);
    other.setInt("FlashSetting", "Channel", 2);
    other.setInt("FlashSetting", "Bank", 4);
    other.setInt("FlashSetting", "DrvCurrent", 2);
    EXPECT_EQ(home.read("QKMassProd.ini"), other.text());
  }
}

TEST(AutoDetectCli, SeveralMatchesNeedAChoice) {
  TempDir home;
  ASSERT_TRUE(qk::WriteSampleData(home.path()));
  // CLB and CLC carry the same ID bytes and chip-enable count.
  home.write("b.bench", bench("[Drive1]\nAt=Hub1:1\nToken=R20X\nFlash=CLB\nChannel=4\nBank=1\n"));
  auto none = cli(home, "--bench b.bench --json autodetect");
  EXPECT_EQ(none.exitCode, 2) << none.err;
  EXPECT_EQ(nlohmann::json::parse(none.out)["matches"].size(), 2u);

  auto wrong = cli(home, "--bench b.bench autodetect --choose 3");
  EXPECT_EQ(wrong.exitCode, 2);
  EXPECT_NE(wrong.err.find("Please choose one flash type"), std::string::npos);

  auto picked = cli(home, "--bench b.bench --json autodetect --choose 1");
  ASSERT_EQ(picked.exitCode, 0) << picked.err;
  auto j = nlohmann::json::parse(picked.out);
  EXPECT_EQ(j["FlashUniName"], "CLB");
  EXPECT_EQ(j["matches"][0]["chosen"], true);
  EXPECT_EQ(qk::readIniString(home.file("QKMassProd.ini"), "FlashSetting", "FlashUniName", ""), "CLB");
  EXPECT_EQ(qk::readIniInt(home.file("QKMassProd.ini"), "FlashSetting", "DrvCurrent", 0), 1);
}

TEST(AutoDetectCli, NothingToDetectOrNothingFound) {
  TempDir home;
  ASSERT_TRUE(qk::WriteSampleData(home.path()));
  home.write("empty.bench", bench(""));
  auto r = cli(home, "--bench empty.bench autodetect");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("No connected device for detecting!!"), std::string::npos);

  home.write("odd.bench", bench("[Drive1]\nAt=Hub1:1\nToken=k404\nFlash=WBG\nChannel=4\nBank=2\n"
                                "FaultFlashId=0:0 11 22 33 44 55\n"));
  const std::string before = home.read("QKMassProd.ini");
  r = cli(home, "--bench odd.bench autodetect");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Not found, check your flash list!!"), std::string::npos);
  EXPECT_NE(r.err.find("Flash's CE:2\nFlash's Maker Code:11\nFlash's Device Code:22\nFlash's 3rd Code:33\n"
                       "Flash's 4th Code:44\nFlash's 5th Code:55\nSSD's total channel:4\nSSD's total bank:2\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(home.read("QKMassProd.ini"), before);
}

TEST(ParamsCli, JsonCarriesEveryFieldAndTheCapacities) {
  TempDir home;
  ASSERT_TRUE(qk::WriteSampleData(home.path()));
  auto r = cli(home, "--json params");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  // WBG: 0x0281, two dies, 8192 blocks, 64 pages, 4 KiB pages; 4 channels, 2 banks.
  EXPECT_EQ(j["FlashIdWord"], 0x0281);
  EXPECT_EQ(j["CEMap"], nlohmann::json::parse("[0,1,0,0,0,0,0,0]"));
  EXPECT_EQ(j["TmcBytes"].size(), 7u);
  EXPECT_EQ(j["HalfDieBlocks"], 2048);
  ASSERT_EQ(j["Details"].size(), 3u);
  EXPECT_EQ(j["Details"][0], "Type: SLC, Die: 2");
  EXPECT_EQ(j["StatusText"], "Flash: WBG(0x0281), Channel: 4, Bank: 2");
  // H = 4096, R = 278, T = 3818 x 8 x 2 x 64 x 8 - 320 = 31277504 -> 15 IDEMA GB
  EXPECT_EQ(j["UsableLbas"], 15u * 1953504 + 21168);
  EXPECT_EQ(j["Capacity1000"], "15.01");
  EXPECT_EQ(j["IdemaMaximum"], 16);
  for (const char* key : {"ReservedRatio", "DirtyDepth", "FeatureFlags", "PartNumber", "ModelNumber", "FlashExtra"})
    EXPECT_TRUE(j.contains(key)) << key;
}

TEST(IdemaCli, RatioOrRefusal) {
  TempDir home;
  ASSERT_TRUE(qk::WriteSampleData(home.path()));
  auto r = cli(home, "idema 64");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("Please input a correct IDEMA capacity(less than or equal to 16)"), std::string::npos);
  r = cli(home, "idema 0");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("(not equal to 0)"), std::string::npos);
  r = cli(home, "--json idema 15");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // L = 29323728, S = 4 x 2 x 64 x 8 x 8192 = 33554432
  EXPECT_EQ(nlohmann::json::parse(r.out)["ResPercentage"], 126);
}
