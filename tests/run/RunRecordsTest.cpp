// What a run leaves behind must stay true whatever else happens: the serial
// book never hands a serial out twice, the profile and counters are stored
// before any drive is touched, and the run log's rows are whole and unique.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "config/IniFile.h"
#include "run/RunEngine.h"
#include "run/RunLog.h"
#include "sim/SampleData.h"
#include "support/RecordingOperator.h"
#include "support/ScriptedOps.h"
#include "support/TempDir.h"

using namespace qk;

namespace {

class Records : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(WriteSampleData(home.path())); }

  void start(int drives, const std::string& profile, const std::string& profilePath = "") {
    std::string bench = "[Hub1]\nParent=root\nKind=usb2\nPorts=7\n";
    for (int d = 1; d <= drives; ++d) {
      bench += "[Drive" + std::to_string(d) + "]\nAt=Hub1:" + std::to_string(d) + "\nToken=R20X\nFlash=WBG\n";
    }
    home.write("t.bench", bench);
    const std::string ini = profilePath.empty() ? home.file("QKMassProd.ini") : profilePath;
    std::ofstream(ini) << profile;
    station = std::make_unique<Station>(ProgramFolder(home.path()), op);
    ASSERT_EQ(station->startUp(profilePath, home.file("t.bench"), &clock), Station::StartResult::Ok);
    engine = std::make_unique<RunEngine>(
        *station,
        [](int, const PortContext&, const GlobalParameter&, std::stop_token) {
          return std::make_unique<test::ScriptedOps>();
        },
        observer);
  }

  std::vector<std::string> serials() {
    std::vector<std::string> out;
    std::lock_guard lock(station->scanner().scanLock());
    for (const PortContext& p : station->scanner().ports()) {
      if (p.active) out.push_back(p.serialNumber.str());
    }
    return out;
  }

  test::TempDir home;
  test::RecordingOperator op;
  VirtualClock clock;
  RunObserver observer;
  std::unique_ptr<Station> station;
  std::unique_ptr<RunEngine> engine;
};

// Download on, decimal serials counted on from `serial`, of its own length.
std::string counting(const std::string& serial) {
  return "[TestItems]\nEnDownload=1\n[DeviceSetting]\nSNAutoInc=1\nSNDecimal=1\nSNMinLength=" +
         std::to_string(serial.size()) + "\nSerialNum=" + serial + "\n";
}

}  // namespace

TEST_F(Records, NoSaveStoresASerialAlreadyHandedOut) {
  start(3, counting("000100"));
  ASSERT_TRUE(engine->start({}).ran);
  EXPECT_EQ(serials(), (std::vector<std::string>{"000100", "000101", "000102"}));

  // The pages still hold the serial they showed before the run ("Save INI"
  // mid-run copies it back): neither a save nor the next START goes back to it.
  Profile& p = station->profile();
  p.settings.SerialNum = "000100";
  ASSERT_TRUE(SaveProfile(home.file("saved.ini"), p, station->folder()));
  EXPECT_EQ(readIniString(home.file("saved.ini"), "DeviceSetting", "SerialNum", ""), "000103");
  ASSERT_TRUE(SaveAtExit(p, station->folder()));
  EXPECT_EQ(readIniString(home.file("QKMassProd.ini"), "DeviceSetting", "SerialNum", ""), "000103");
  p.settings.SerialNum = "000101";
  ASSERT_TRUE(engine->start({}).ran);
  EXPECT_EQ(serials(), (std::vector<std::string>{"000103", "000104", "000105"}));

  // A serial of another form is the operator's new range, and is kept.
  p.settings.SerialNum = "AB0001";
  ASSERT_TRUE(engine->start({}).ran);
  EXPECT_EQ(serials(), (std::vector<std::string>{"AB0001", "AB0002", "AB0003"}));
}

TEST_F(Records, ARangeThatRunsOutIsRefusedBeforeAnySerial) {
  start(4, counting("7"));
  RunOutcome out = engine->start({});
  ASSERT_TRUE(out.refusal);
  EXPECT_NE(out.refusal->find("runs out"), std::string::npos) << *out.refusal;
  EXPECT_FALSE(out.ran);
  EXPECT_EQ(serials(), (std::vector<std::string>(4, "")));
  EXPECT_EQ(station->profile().settings.SerialNum, "7");
  EXPECT_EQ(readIniString(home.file("QKMassProd.ini"), "DeviceSetting", "SerialNum", ""), "7");

  // Three drives fit exactly when the serial after them is not a repeat.
  engine.reset();
  station.reset();
  start(2, counting("7"));
  out = engine->start({});
  EXPECT_FALSE(out.refusal);
  EXPECT_EQ(serials(), (std::vector<std::string>{"7", "8"}));
  EXPECT_EQ(station->profile().settings.SerialNum, "9");
}

TEST_F(Records, AProfileThatCannotBeStoredRefusesStart) {
  std::filesystem::create_directory(home.file("line"));
  start(2, counting("000100"), home.file("line/p.ini"));
  std::filesystem::remove_all(home.file("line"));  // the folder went away (or the disk is full)

  RunOutcome out = engine->start({});
  ASSERT_TRUE(out.refusal);
  EXPECT_NE(out.refusal->find(home.file("line/p.ini")), std::string::npos) << *out.refusal;
  EXPECT_NE(out.refusal->find("No such file"), std::string::npos) << *out.refusal;
  EXPECT_FALSE(out.ran);
  EXPECT_EQ(serials(), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(station->profile().settings.SerialNum, "000100");
  EXPECT_EQ(engine->serials().next(), "000100");
}

TEST_F(Records, YieldCountersThatCannotBeStoredRefuseStart) {
  start(2, counting("000100"));
  // QKSSD.log cannot be replaced when a folder stands in its place.
  std::filesystem::remove(home.file("log/QKSSD.log"));
  std::filesystem::create_directory(home.file("log/QKSSD.log"));
  RunOutcome out = engine->start({});
  ASSERT_TRUE(out.refusal);
  EXPECT_NE(out.refusal->find("QKSSD.log"), std::string::npos) << *out.refusal;
  EXPECT_FALSE(out.ran);
  EXPECT_EQ(readIniString(home.file("QKMassProd.ini"), "DeviceSetting", "SerialNum", ""), "000100");
}

TEST_F(Records, RowNumbersNeverRepeatAcrossRollOversAndRestarts) {
  start(3, counting("000100"));
  // Rows already ran ahead of the counter (timed-out ports get a row but no count).
  ASSERT_TRUE(WriteLogRowCount(station->profile().logPath, 350));
  RunOutcome out = engine->start({});
  ASSERT_TRUE(out.ran);
  const std::string first = out.logFile;
  EXPECT_NE(home.read("log/" + bareFileName(first)).find("000353\t000003\t"), std::string::npos);

  // The next file of the day (roll-over) and a new process continue the count.
  station->logFile().sizeLimit = 1;
  out = engine->start({});
  EXPECT_NE(out.logFile, first);
  EXPECT_NE(home.read("log/" + bareFileName(out.logFile)).find("000354\t000001\t"), std::string::npos);
  engine.reset();
  station.reset();
  start(3, counting("000200"));
  station->logFile().sizeLimit = 1;
  out = engine->start({});
  EXPECT_NE(home.read("log/" + bareFileName(out.logFile)).find("000357\t000001\t"), std::string::npos);
  EXPECT_EQ(ReadLogRowCount(station->profile().logPath), 359);
}

TEST_F(Records, CountersBeyond32BitsStayExact) {
  start(2, counting("000100"));
  ProfileSettings& s = station->profile().settings;
  s.TotalTestCount = 2147483647;
  s.NumberOfPass = 2147483646;
  ASSERT_TRUE(engine->start({}).ran);
  EXPECT_EQ(s.TotalTestCount, 2147483649LL);
  EXPECT_EQ(YieldText(s), "2147483648 / 2147483649");
  ProfileSettings back;
  EXPECT_EQ(ReadYieldCounters(station->profile().logPath, back), "");
  EXPECT_EQ(back.TotalTestCount, 2147483649LL);
}
