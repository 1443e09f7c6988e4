// records on the command line: a run's drives queried back, as JSON, CSV and yield.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>

#include "config/IniFile.h"
#include "sim/SampleData.h"
#include "support/RunCli.h"
#include "support/TempDir.h"

namespace {

using qk::test::TempDir;

qk::test::CliResult cli(const TempDir& home, const std::string& args) { return qk::test::runCliIn(home.path(), args); }

void setUp(TempDir& home, int drives) {
  ASSERT_TRUE(qk::WriteSampleData(home.path()));
  std::string bench = "[Bench]\nTimeScale=0\n[Hub1]\nParent=root\nKind=usb2\nPorts=4\n";
  for (int i = 1; i <= drives; ++i) {
    bench += "[Drive" + std::to_string(i) + "]\nAt=Hub1:" + std::to_string(i) +
             "\nToken=k404\nFlash=WBG\nChannel=4\nBank=2\nState=ready\nPersist=d" + std::to_string(i) + ".flash\n";
  }
  home.write("b.bench", bench);
  qk::IniFile ini = qk::IniFile::load(home.file("QKMassProd.ini"));
  ini.setString("Setting", "TimeOut", "60");
  ini.setString("Setting", "StationName", "line-a-1");
  ASSERT_TRUE(ini.save(home.file("QKMassProd.ini")));
}

}  // namespace

TEST(RecordsCli, ARunsDrivesComeBackFilteredAndCounted) {
  TempDir home;
  setUp(home, 2);
  auto run = cli(home, "--bench b.bench run --mask 0 --items 12");
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  // A second run: the drives fail their model check.
  run = cli(home, "--bench b.bench run --mask 0 --items 12 --set DeviceSetting.ModelNum=Wrong_Model");
  ASSERT_EQ(run.exitCode, 1) << run.out << run.err;

  auto r = cli(home, "records --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto all = nlohmann::json::parse(r.out);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0]["station"], "line-a-1");
  EXPECT_EQ(all[0]["verdict"], "Pass");
  EXPECT_EQ(all[3]["verdict"], "Fail");
  EXPECT_EQ(all[3]["resultCode"], 12);

  const std::string serial = all[0]["serial"];
  ASSERT_FALSE(serial.empty()) << all.dump(1);
  r = cli(home, "records --serial " + serial + " --csv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.rfind("id,station,slot,serial,verdict,", 0), 0u) << r.out;
  // The header and the drive's two runs.
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << r.out;
  EXPECT_NE(r.out.find("," + serial + ",Pass,"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("," + serial + ",Fail,12,"), std::string::npos) << r.out;
  // A field holding commas stays one field.
  EXPECT_NE(r.out.find(",\"0,0,"), std::string::npos) << r.out;

  r = cli(home, "records --verdict Fail --json");
  EXPECT_EQ(nlohmann::json::parse(r.out).size(), 2u);
  r = cli(home, "records --since 2000-01-01 --verdict Pass");
  EXPECT_NE(r.out.find("2 record(s)"), std::string::npos) << r.out;

  r = cli(home, "records --stats --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto st = nlohmann::json::parse(r.out);
  ASSERT_EQ(st["day"].size(), 1u);
  EXPECT_EQ(st["day"][0]["pass"], 2);
  EXPECT_EQ(st["day"][0]["fail"], 2);
  EXPECT_EQ(st["resultCode"].size(), 2u);
  r = cli(home, "records --stats");
  EXPECT_NE(r.out.find("Yield per day"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("yield 50.00%"), std::string::npos) << r.out;

  EXPECT_EQ(cli(home, "records --since yesterday").exitCode, 2);
  EXPECT_NE(cli(home, "records --verdict Maybe").exitCode, 0);
}

TEST(RecordsCli, RunRefusesWithoutAWritableDatabase) {
  TempDir home;
  setUp(home, 1);
  std::filesystem::create_directories(home.file("log/records.db"));
  auto run = cli(home, "--bench b.bench run --mask 0 --items 12");
  EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
  EXPECT_NE(run.err.find("The drive records cannot be stored"), std::string::npos) << run.err;
}
