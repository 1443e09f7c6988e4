// download, detail and table on the bench through the command line: a drive
// is downloaded, boots, and its tables go to files and back.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "config/IniFile.h"
#include "sim/SampleData.h"
#include "support/RunCli.h"
#include "support/TempDir.h"

namespace {

using qk::test::TempDir;

qk::test::CliResult cli(const TempDir& home, const std::string& args) { return qk::test::runCliIn(home.path(), args); }

// A preformatted drive whose flash lives in a file between the commands.
void setUp(TempDir& home, const std::string& token, int downloadType = 1, const std::string& extra = "") {
  ASSERT_TRUE(qk::WriteSampleData(home.path()));
  home.write("b.bench", "[Bench]\nTimeScale=0\n[Hub1]\nParent=root\nKind=usb2\nPorts=2\n[Drive1]\nAt=Hub1:1\nToken=" +
                            token + "\nFlash=WBG\nChannel=4\nBank=2\nState=formatted\nPersist=d1.flash\n" + extra);
  qk::IniFile ini = qk::IniFile::load(home.file("QKMassProd.ini"));
  ini.setInt("TestItems", "DownloadType", downloadType);
  ini.setString("DeviceSetting", "SerialNum", "SN0000000042");
  ASSERT_TRUE(ini.save(home.file("QKMassProd.ini")));
}

}  // namespace

TEST(TableCli, DownloadBootsAndShowsTheDetail) {
  for (const char* token : {"R20X", "k404"}) {
    // A native drive runs the USB image, a bridged one the SATA image; 3 downloads both.
    const bool native = std::string(token) == "R20X";
    for (int type : {native ? 2 : 1, 3}) {
      TempDir home;
      ASSERT_NO_FATAL_FAILURE(setUp(home, token, type));
      auto r = cli(home, "--bench b.bench download 1");
      ASSERT_EQ(r.exitCode, 0) << token << r.err;
      EXPECT_EQ(r.out, "Port1: Download Pass\n");
      r = cli(home, "--bench b.bench detail 1 --json");
      ASSERT_EQ(r.exitCode, 0) << r.err;
      auto j = nlohmann::json::parse(r.out);
      EXPECT_EQ(j["loaderMode"], false);
      EXPECT_EQ(j["fwInfo"], "QKSSD");
      EXPECT_GT(j["capacityMB"].get<int>(), 0);
      if (std::string(token) == "R20X") {
        EXPECT_EQ(j["serial"], "SN0000000042") << type;
        EXPECT_EQ(j["model"], "");
      } else {
        EXPECT_EQ(j["serial"].get<std::string>().substr(0, 12), "SN0000000042") << type;
        EXPECT_EQ(j["vid"], "");
      }
    }
  }
}

TEST(TableCli, TablesGoToFilesAndBack) {
  for (const char* token : {"R20X", "k404"}) {
    TempDir home;
    ASSERT_NO_FATAL_FAILURE(setUp(home, token, std::string(token) == "R20X" ? 2 : 1, "FactoryBad=1:0:0x123\n"));
    ASSERT_EQ(cli(home, "--bench b.bench download 1").exitCode, 0);

    auto r = cli(home, "--bench b.bench table get-def def.txt");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Port1: Get Def. Table O.K.\n");
    EXPECT_NE(r.err.find("Get Def. Table O.K."), std::string::npos);
    const std::string def = home.read("def.txt");
    EXPECT_NE(def.find("C#01\r\nB#00U#0123,00,0"), std::string::npos) << def;

    r = cli(home, "--bench b.bench table get-later later.txt");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string later = home.read("later.txt");
    // The first channel's item follows its block line directly.
    const std::string empty = "B#00D#0S#0002C#00T#0000,\r\nC#01T#0000,";
    ASSERT_NE(later.find(empty), std::string::npos) << later;
    later.replace(later.find(empty), empty.size(), "B#00D#0S#0002C#00T#0000,\r\nC#01T#0002,U#0123,1U#0456,2");
    home.write("later.txt", later);
    r = cli(home, "--bench b.bench table put-later later.txt");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Port1: Put Later Table O.K.\n");
    ASSERT_EQ(cli(home, "--bench b.bench table get-later again.txt").exitCode, 0);
    EXPECT_EQ(home.read("again.txt"), later);
    // The drive still boots its firmware after the later table was put.
    EXPECT_EQ(nlohmann::json::parse(cli(home, "--bench b.bench detail 1 --json").out)["loaderMode"], false);

    r = cli(home, "--bench b.bench table put-def def.txt");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Port1: Put Def. Table O.K.\n");
    ASSERT_EQ(cli(home, "--bench b.bench table get-def def2.txt").exitCode, 0);
    EXPECT_EQ(home.read("def2.txt"), def);
  }
}

TEST(TableCli, FailuresAreReportedAndLeaveNoPartialFile) {
  TempDir home;
  ASSERT_NO_FATAL_FAILURE(setUp(home, "k404"));
  ASSERT_EQ(cli(home, "--bench b.bench download 1").exitCode, 0);
  auto r = cli(home, "--bench b.bench table put-def missing.txt");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Port1: Put Def. Table Fail\n");
  home.write("bad.txt", "V#21\r\nC#09B#00U#0001,00,0\r\n");
  EXPECT_EQ(cli(home, "--bench b.bench table put-def bad.txt").exitCode, 1);
  home.write("bad.txt", "V#21\r\nB#00D#0S#0002\r\nC#00T#0002,U#0001,1\r\n");  // count and entries differ
  EXPECT_EQ(cli(home, "--bench b.bench table put-later bad.txt").exitCode, 1);
  r = cli(home, "--bench b.bench table get-later no/such/folder/x.txt");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Port1: Get Later Table Fail\n");
  // A failed put left the drive's tables alone: they still export.
  EXPECT_EQ(cli(home, "--bench b.bench table get-def def.txt").exitCode, 0);

  // On a blank drive there is no system area to read: nothing is left behind.
  TempDir blank;
  ASSERT_TRUE(qk::WriteSampleData(blank.path()));
  blank.write("b.bench", "[Bench]\nTimeScale=0\n[Hub1]\nParent=root\nKind=usb2\nPorts=2\n[Drive1]\nAt=Hub1:1\n"
                         "Token=k404\nFlash=WBG\nChannel=4\nBank=2\n");
  r = cli(blank, "--bench b.bench table get-later out.txt");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(std::ifstream(blank.file("out.txt")).good());

  TempDir none;
  ASSERT_TRUE(qk::WriteSampleData(none.path()));
  none.write("b.bench", "[Bench]\nTimeScale=0\n[Hub1]\nParent=root\nKind=usb2\nPorts=2\n");
  EXPECT_EQ(cli(none, "--bench b.bench table get-def x.txt").exitCode, 2);
  EXPECT_EQ(cli(none, "--bench b.bench detail 1").exitCode, 2);
}

TEST(TableCli, ADefectTableCutShortIsRefusedAndTheDriveKeepsItsTable) {
  TempDir home;
  setUp(home, "k404", 1, "FactoryBad=3:0:0x321\n");
  ASSERT_EQ(cli(home, "--bench b.bench download 1").exitCode, 0);
  ASSERT_EQ(cli(home, "--bench b.bench table get-def def.txt").exitCode, 0);
  const std::string def = home.read("def.txt");
  // Cut at the line boundary before the last channel.
  const std::size_t last = def.rfind("\r\nC#03");
  ASSERT_NE(last, std::string::npos) << def;
  home.write("cut.txt", def.substr(0, last + 2));
  auto r = cli(home, "--bench b.bench table put-def cut.txt");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Port1: Put Def. Table Fail\n");
  ASSERT_EQ(cli(home, "--bench b.bench table get-def again.txt").exitCode, 0);
  EXPECT_EQ(home.read("again.txt"), def);
  EXPECT_NE(def.find("C#03\r\nB#00U#0321"), std::string::npos) << def;
}
