// The line database on a real server: records arrive once, even across an
// outage; serials never collide between stations starting at the same moment.
#include <gtest/gtest.h>

#include <signal.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "config/IniFile.h"
#include "records/PgServer.h"
#include "records/RecordStore.h"
#include "run/RunEngine.h"
#include "sim/SampleData.h"
#include "support/RecordingOperator.h"
#include "support/ScriptedOps.h"
#include "support/RunCli.h"
#include "support/TempDir.h"
#include "support/Wait.h"

using namespace qk;

namespace {

// The server binaries are a CI dependency; without them the tests say so and skip.
#define QK_NEED_SERVER(server)                                        \
  do {                                                                \
    if ((server).binariesMissing()) GTEST_SKIP() << (server).missing(); \
    ASSERT_EQ((server).missing(), "");                                \
  } while (0)

DriveRecord record(const std::string& serial) {
  DriveRecord r;
  r.station = "line-a-1";
  r.serial = serial;
  r.verdict = "Pass";
  r.endTime = "2026-12-08 10:00:00";
  return r;
}

// One station of the line: its own program folder and bench of drives.
struct LineStation {
  test::TempDir home;
  test::RecordingOperator op;
  VirtualClock clock;
  RunObserver observer;
  std::unique_ptr<Station> station;
  std::unique_ptr<RunEngine> engine;

  void start(const std::string& url, int drives, const std::string& name) {
    ASSERT_TRUE(WriteSampleData(home.path()));
    std::string bench = "[Hub1]\nParent=root\nKind=usb2\nPorts=" + std::to_string(drives) + "\n";
    for (int d = 1; d <= drives; ++d) {
      bench += "[Drive" + std::to_string(d) + "]\nAt=Hub1:" + std::to_string(d) + "\nToken=R20X\nFlash=WBG\n";
    }
    home.write("t.bench", bench);
    std::ofstream(home.file("QKMassProd.ini"))
        << "[Setting]\nStationName=" << name << "\n[Records]\nUrl=" << url
        << "\n[TestItems]\nEnDownload=1\n[DeviceSetting]\nSNAutoInc=1\nSNDecimal=1\nSNMinLength=6\nSerialNum=000100\n";
    station = std::make_unique<Station>(ProgramFolder(home.path()), op);
    ASSERT_EQ(station->startUp("", home.file("t.bench"), &clock), Station::StartResult::Ok);
    engine = std::make_unique<RunEngine>(
        *station,
        [](int, const PortContext&, const GlobalParameter&, std::stop_token) {
          return std::make_unique<test::ScriptedOps>();
        },
        observer);
  }
};

}  // namespace

TEST(LineDatabase, RecordsKeptThroughAnOutageArriveOnce) {
  test::PgServer server;
  QK_NEED_SERVER(server);
  test::TempDir log;
  auto store = OpenRecordStore(server.url(), log.path(), nullptr);
  ASSERT_TRUE(store);
  std::string error;
  ASSERT_TRUE(store->check(&error)) << error;
  ASSERT_TRUE(store->write(record("A"), &error)) << error;

  const std::string spool = log.file(kSpoolFileName);
  auto sent = [&] { return OpenSqliteRecordStore(spool)->query({}, nullptr).empty(); };
  ASSERT_TRUE(test::waitUntil(sent));

  ASSERT_TRUE(server.stop());
  // Mid-run the drives' records wait locally: nothing is reported lost.
  EXPECT_TRUE(store->write(record("B"), &error)) << error;
  EXPECT_TRUE(store->write(record("C"), &error)) << error;
  // A START now is refused.
  EXPECT_FALSE(store->check(&error));
  EXPECT_NE(error.find("record database"), std::string::npos) << error;
  // What waits is shown, marked as not yet sent, with the reason the rest is not.
  error.clear();
  auto waiting = OpenRecordStore(server.url(), log.path(), nullptr)->query({}, &error);
  EXPECT_NE(error.find("record database"), std::string::npos) << error;
  ASSERT_EQ(waiting.size(), 2u);
  EXPECT_TRUE(waiting[0].pending && waiting[1].pending);

  ASSERT_TRUE(server.start());
  ASSERT_TRUE(store->check(&error)) << error;  // the spool goes first
  DriveRecord d = record("D");
  d.key = "fixed-key";
  ASSERT_TRUE(store->write(d, &error)) << error;
  ASSERT_TRUE(store->write(d, &error)) << error;  // sent again: still one record
  ASSERT_TRUE(test::waitUntil(sent));

  error.clear();
  auto all = store->query({}, &error);
  EXPECT_EQ(error, "");
  std::multiset<std::string> serials;
  for (const auto& r : all) {
    serials.insert(r.serial);
    EXPECT_FALSE(r.pending) << r.serial;
  }
  EXPECT_EQ(serials, (std::multiset<std::string>{"A", "B", "C", "D"}));
  auto stats = store->stats(&error);
  ASSERT_TRUE(stats) << error;
  ASSERT_EQ(stats->perDay.size(), 1u);
  EXPECT_EQ(stats->perDay[0].pass, 4);
}

// A record learns its failure report after it was stored; wherever it is by
// then (spooled or sent), the line database ends with one record that has it.
TEST(LineDatabase, ARewrittenRecordArrivesOnceInItsNewestForm) {
  test::PgServer server;
  QK_NEED_SERVER(server);
  test::TempDir log;
  auto store = OpenRecordStore(server.url(), log.path(), nullptr);
  std::string error;
  ASSERT_TRUE(store->check(&error)) << error;
  const std::string spool = log.file(kSpoolFileName);
  auto sent = [&] { return OpenSqliteRecordStore(spool)->query({}, nullptr).empty(); };
  DriveRecord sentFirst = record("E"), spooledFirst = record("F");
  sentFirst.key = "key-e";
  spooledFirst.key = "key-f";
  ASSERT_TRUE(store->write(sentFirst, &error)) << error;
  ASSERT_TRUE(test::waitUntil(sent));
  ASSERT_TRUE(server.stop());
  ASSERT_TRUE(store->write(spooledFirst, &error)) << error;
  sentFirst.failureReport = "Error_E.txt";
  spooledFirst.failureReport = "Error_F.txt";
  ASSERT_TRUE(store->write(sentFirst, &error)) << error;
  ASSERT_TRUE(store->write(spooledFirst, &error)) << error;
  EXPECT_EQ(OpenSqliteRecordStore(spool)->query({}, nullptr).size(), 2u);

  ASSERT_TRUE(server.start());
  ASSERT_TRUE(store->check(&error)) << error;
  ASSERT_TRUE(test::waitUntil(sent));
  std::map<std::string, std::string> reports;
  for (const auto& r : store->query({}, &error)) EXPECT_TRUE(reports.emplace(r.serial, r.failureReport).second);
  EXPECT_EQ(reports, (std::map<std::string, std::string>{{"E", "Error_E.txt"}, {"F", "Error_F.txt"}})) << error;
}

TEST(LineDatabase, StartRefusesWhenTheDatabaseIsAway) {
  test::PgServer server;
  QK_NEED_SERVER(server);
  LineStation st;
  ASSERT_NO_FATAL_FAILURE(st.start(server.url(), 2, "line-a-1"));
  ASSERT_TRUE(server.stop());
  const RunOutcome out = st.engine->start({});
  EXPECT_FALSE(out.ran);
  ASSERT_TRUE(out.refusal);
  EXPECT_NE(out.refusal->find("The drive records cannot be stored"), std::string::npos) << *out.refusal;
  EXPECT_EQ(st.station->profile().settings.SerialNum, "000100");
}

// Four stations of ten drives each start together, several times over.
TEST(LineDatabase, StationsStartingTogetherNeverShareASerial) {
  test::PgServer server;
  QK_NEED_SERVER(server);
  constexpr int kStations = 4, kDrives = 10, kRounds = 3;
  std::vector<std::unique_ptr<LineStation>> line;
  for (int i = 0; i < kStations; ++i) {
    line.push_back(std::make_unique<LineStation>());
    ASSERT_NO_FATAL_FAILURE(line.back()->start(server.url(), kDrives, "line-a-" + std::to_string(i + 1)));
  }
  for (int round = 0; round < kRounds; ++round) {
    std::atomic<int> waiting{kStations};
    std::vector<std::jthread> threads;
    std::vector<RunOutcome> outs(kStations);
    for (int i = 0; i < kStations; ++i) {
      threads.emplace_back([&, i] {
        --waiting;
        while (waiting > 0) std::this_thread::yield();  // all press START at once
        outs[static_cast<std::size_t>(i)] = line[static_cast<std::size_t>(i)]->engine->start({});
      });
    }
    threads.clear();
    for (const auto& out : outs) ASSERT_TRUE(out.ran) << out.refusal.value_or("");
  }
  std::string error;
  auto line_db = OpenRecordStore(server.url(), "", nullptr);
  std::vector<DriveRecord> all;
  // Each station's sender delivers in the background.
  test::waitUntil([&] {
    all = line_db->query({}, &error);
    return all.size() >= static_cast<std::size_t>(kStations * kDrives * kRounds);
  });
  ASSERT_EQ(all.size(), static_cast<std::size_t>(kStations * kDrives * kRounds)) << error;
  std::set<std::string> serials;
  for (const auto& r : all) EXPECT_TRUE(serials.insert(r.serial).second) << "serial handed out twice: " << r.serial;
  EXPECT_EQ(*serials.begin(), "000100");
}

namespace {

// The line's next serial as the database holds it; empty before the first take.
std::string lineNext(const std::string& url) {
  std::string next;
  auto store = OpenRecordStore(url, "", nullptr);
  // A take that changes nothing reads the value under the same row lock the stations use.
  store->takeSerials("000100", [&](const std::string& n) { return next = n; }, nullptr);
  return next;
}

}  // namespace

// A station killed with -9 after taking its serials: the others go on, and none
// of its serials comes round again.
TEST(LineDatabase, AKilledStationsSerialsAreNeverReissued) {
  test::PgServer server;
  QK_NEED_SERVER(server);
  test::TempDir home, capture;
  ASSERT_TRUE(WriteSampleData(home.path()));
  std::string bench = "[Bench]\nTimeScale=1\n[Hub1]\nParent=root\nKind=usb2\nPorts=4\n";
  for (int i = 1; i <= 4; ++i) {
    bench += "[Drive" + std::to_string(i) + "]\nAt=Hub1:" + std::to_string(i) + "\nToken=k404\nFlash=WBG\n";
  }
  home.write("b.bench", bench);
  IniFile ini = IniFile::load(home.file("QKMassProd.ini"));
  ini.setString("Setting", "TimeOut", "60");
  ini.setString("Setting", "StationName", "line-a-9");
  ini.setString("TestItems", "EnDownload", "1");
  for (const auto& [k, v] : std::vector<std::pair<std::string, std::string>>{
           {"SNAutoInc", "1"}, {"SNDecimal", "1"}, {"SNMinLength", "6"}, {"SerialNum", "000100"}}) {
    ini.setString("DeviceSetting", k, v);
  }
  ASSERT_TRUE(ini.save(home.file("QKMassProd.ini")));

  test::CliProcess victim({"--home", home.path(), "--bench", "b.bench", "--records", server.url(), "run"},
                          capture.path());
  ASSERT_TRUE(test::waitUntil([&] { return !lineNext(server.url()).empty() && lineNext(server.url()) != "000100"; }))
      << victim.err();
  kill(victim.pid(), SIGKILL);
  ASSERT_TRUE(victim.waitEnd(60000));
  const std::string after = lineNext(server.url());
  EXPECT_GE(after, "000104");

  LineStation other;
  ASSERT_NO_FATAL_FAILURE(other.start(server.url(), 4, "line-a-1"));
  ASSERT_TRUE(other.engine->start({}).ran);
  std::string error;
  std::vector<DriveRecord> mine;
  auto line_db = OpenRecordStore(server.url(), "", nullptr);
  ASSERT_TRUE(test::waitUntil([&] {
    mine.clear();
    for (auto& r : line_db->query({}, &error)) {
      if (r.station == "line-a-1") mine.push_back(r);
    }
    return mine.size() == 4;
  })) << error;
  for (const auto& r : mine) EXPECT_GE(r.serial, after) << "a serial of the killed station came round again";
}

// `records` on a station whose line database is away: what waits in its spool
// is shown, marked, and the exit code says the rest is missing.
TEST(LineDatabase, RecordsShowWhatStillWaitsToBeSent) {
  test::PgServer server;
  QK_NEED_SERVER(server);
  test::TempDir home;
  ASSERT_TRUE(WriteSampleData(home.path()));
  std::filesystem::create_directories(home.file("log"));
  const std::string logFolder = home.file("log") + "/";
  auto store = OpenRecordStore(server.url(), logFolder, nullptr);
  std::string error;
  ASSERT_TRUE(store->check(&error)) << error;
  ASSERT_TRUE(server.stop());
  ASSERT_TRUE(store->write(record("W1"), &error)) << error;

  auto r = test::runCliIn(home.path(), "--records " + server.url() + " records");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("W1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("(not yet sent)"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("record database"), std::string::npos) << r.err;

  ASSERT_TRUE(server.start());
  ASSERT_TRUE(test::waitUntil([&] { return OpenSqliteRecordStore(logFolder + kSpoolFileName)->query({}, nullptr).empty(); }));
  r = test::runCliIn(home.path(), "--records " + server.url() + " records --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto all = nlohmann::json::parse(r.out);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0]["pending"], false);
}
