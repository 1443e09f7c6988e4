// run and table on the bench through the command line: what START applies
// and refuses before a drive is touched, and values set for one run.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "config/IniFile.h"
#include "sim/SampleData.h"
#include "support/RunCli.h"
#include "support/TempDir.h"

namespace {

using qk::test::TempDir;

qk::test::CliResult cli(const TempDir& home, const std::string& args) { return qk::test::runCliIn(home.path(), args); }

// What a booted drive of the bench's flash reports: the IDEMA size of 15 GB.
constexpr std::uint32_t kReadyLbas = 15 * 1953504 + 21168;

// Booted drives (already downloaded) on one hub; `drive` is added to each section.
void setUp(TempDir& home, int drives, const std::string& token = "k404", const std::string& drive = "",
           const std::vector<std::tuple<std::string, std::string, std::string>>& edits = {}) {
  ASSERT_TRUE(qk::WriteSampleData(home.path()));
  std::string bench = "[Bench]\nTimeScale=0\n[Hub1]\nParent=root\nKind=usb2\nPorts=4\n";
  for (int i = 1; i <= drives; ++i) {
    bench += "[Drive" + std::to_string(i) + "]\nAt=Hub1:" + std::to_string(i) + "\nToken=" + token +
             "\nFlash=WBG\nChannel=4\nBank=2\nState=ready\nPersist=d" +
             std::to_string(i) + ".flash\n" + drive;
  }
  home.write("b.bench", bench);
  qk::IniFile ini = qk::IniFile::load(home.file("QKMassProd.ini"));
  ini.setString("Setting", "TimeOut", "60");
  for (const auto& [s, k, v] : edits) ini.setString(s, k, v);
  ASSERT_TRUE(ini.save(home.file("QKMassProd.ini")));
}

nlohmann::json runJson(const TempDir& home, const std::string& args, int& exitCode) {
  auto r = cli(home, "--bench b.bench run --json " + args);
  exitCode = r.exitCode;
  auto j = nlohmann::json::parse(r.out, nullptr, false);
  EXPECT_FALSE(j.is_discarded()) << r.out << r.err;
  return j;
}

}  // namespace

TEST(RunCli, PercentageAndCapacityStepsTestWhatThePagesWouldHold) {
  TempDir home;
  setUp(home, 1, "k404", "FaultWriteError=100-200\n");
  int code = 0;
  // The percentage spin box holds at least 1: the write reaches the bad sectors.
  auto j = runJson(home, "--mask 0 --items 20", code);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(j["ports"][0]["verdict"], "Fail");
  EXPECT_EQ(j["ports"][0]["resultCode"], 20);

  // Without a value the capacity checks compare with what the pages would hold (1 GB, LBA 0)...
  j = runJson(home, "--mask 0 --items 16", code);
  EXPECT_EQ(j["ports"][0]["resultCode"], 16);
  // ...and a QC run chooses them.
  j = runJson(home,
              "--mask 0 --items 16,18 --set TestItems.IDEMACapacity=15 --set DeviceSetting.LBACapacity=" +
                  std::to_string(kReadyLbas),
              code);
  EXPECT_EQ(code, 0) << j.dump();
  EXPECT_EQ(j["ports"][0]["verdict"], "Pass");
}

TEST(RunCli, SetKeysHoldForOneRunOnly) {
  TempDir home;
  setUp(home, 1);
  const std::string before = home.read("QKMassProd.ini");
  int code = 0;
  auto j = runJson(home, "--mask 0 --items 12 --set DeviceSetting.ModelNum=Wrong_Model", code);
  EXPECT_EQ(j["ports"][0]["resultCode"], 12);
  const qk::IniFile after = qk::IniFile::load(home.file("QKMassProd.ini"));
  EXPECT_EQ(after.getString("DeviceSetting", "ModelNum", ""), "Talvery QKR2XX SSD");
  j = runJson(home, "--mask 0 --items 12", code);
  EXPECT_EQ(j["ports"][0]["verdict"], "Pass");

  auto r = cli(home, "--bench b.bench run --set NoSection.Key=1");
  EXPECT_EQ(r.exitCode, 2);
  r = cli(home, "--bench b.bench run --set DeviceSetting=1");
  EXPECT_EQ(r.exitCode, 2);
}

TEST(RunCli, HeadlessStartRepacksTheLedFields) {
  TempDir home;
  setUp(home, 1, "k404", "", {{"TestItems", "LEDLightMode", "106"}});
  int code = 0;
  runJson(home, "--mask 0 --items 12", code);
  EXPECT_EQ(qk::IniFile::load(home.file("QKMassProd.ini")).getInt("TestItems", "LEDLightMode", 0), 42);
}

TEST(RunCli, StartRefusesACorruptFirmwareImageOrAnUnusableFlashType) {
  {
    TempDir home;
    setUp(home, 1);
    std::string image = home.read("SYS_S.bin");
    image[100] = static_cast<char>(image[100] ^ 0x5A);
    home.write("SYS_S.bin", image);
    auto r = cli(home, "--bench b.bench run --mask 0 --items 12");
    EXPECT_EQ(r.exitCode, 2) << r.out;
    EXPECT_NE(r.err.find(home.file("SYS_S.bin") + " is a corrupt file, please check it."), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("Pass"), std::string::npos);
  }
  {
    TempDir home;
    setUp(home, 1, "k404", "", {{"FlashSetting", "FlashUniName", "BAD"}});
    std::string list = home.read("Flash.ini");
    const std::string last = "Name02=No\n";
    list.replace(list.find(last), last.size(),
                 "Name02=BAD, K9BAD08U0A, 0x0283, 2, 2, 0x5A, 0xD7, 0x94, 0x7A, 0x44, 0x000000, 0, 0, 0, 1\n"
                 "Name03=No\n");
    home.write("Flash.ini", list);
    auto r = cli(home, "--bench b.bench run --items 5,6");
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    EXPECT_NE(r.err.find("The flash type BAD of Flash.ini gives a page size of 0"), std::string::npos) << r.err;
  }
}

TEST(RunCli, UpdateModeKeepsTheDrivesModelThroughTheDownload) {
  TempDir home;
  setUp(home, 1, "k404", "",
        {{"Setting", "EnUpdateFirmwareMode", "1"}, {"DeviceSetting", "ModelNum", "Profile Model"}});
  int code = 0;
  // Check Tables boots the new firmware before the model is read back.
  auto j = runJson(home, "--mask 0 --items 6,8,12", code);
  EXPECT_EQ(code, 0) << j.dump();
  EXPECT_EQ(j["ports"][0]["verdict"], "Pass");
  auto detail = nlohmann::json::parse(cli(home, "--bench b.bench detail 1 --json").out);
  EXPECT_EQ(detail["model"].get<std::string>().substr(0, 19), "Talvery QKR2XX SSD ");
}

TEST(TableCliStart, TableTransfersGoThroughTheChecksOfStart) {
  {
    TempDir home;
    setUp(home, 1, "k404", "", {{"FlashSetting", "Bank", "3"}});
    auto r = cli(home, "--bench b.bench table get-def def.txt");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("Please check total bank's number, only support 1, 2, 4 and 8 bank"), std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(home.file("def.txt")));
  }
  {
    TempDir home;
    setUp(home, 2, "k404", "", {{"Setting", "ConnectDevNum", "3"}});
    home.write("def.txt", "C#00\r\n");
    auto r = cli(home, "--bench b.bench table put-def def.txt");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("Please Make sure the Connection devices Number!!"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST(RunCli, WithDumpsTheDownloadIsVerifiedOnce) {
  TempDir home;
  ASSERT_TRUE(qk::WriteSampleData(home.path()));
  home.write("b.bench", "[Bench]\nTimeScale=0\nTrace=trace.txt\n[Hub1]\nParent=root\nKind=usb2\nPorts=2\n[Drive1]\n"
                        "At=Hub1:1\nToken=R20X\nFlash=WBG\nChannel=4\nBank=2\nState=formatted\n");
  qk::IniFile ini = qk::IniFile::load(home.file("QKMassProd.ini"));
  ini.setInt("TestItems", "DownloadType", 2);
  ini.setInt("RDSetting", "DumpDebugFile", 1);
  ASSERT_TRUE(ini.save(home.file("QKMassProd.ini")));
  int code = 0;
  runJson(home, "--mask 0 --items 6", code);
  ASSERT_EQ(code, 0);
  // The read-back: every firmware page read once after the last page was written.
  const std::string trace = home.read("trace.txt");
  const std::size_t lastWrite = trace.rfind("FF 04 8A");
  ASSERT_NE(lastWrite, std::string::npos);
  int reads = 0;
  for (std::size_t at = trace.find("FF 04 89", lastWrite); at != std::string::npos; at = trace.find("FF 04 89", at + 1))
    ++reads;
  EXPECT_EQ(reads, static_cast<int>(home.read("SYS_U.bin").size() / 4096));
}
