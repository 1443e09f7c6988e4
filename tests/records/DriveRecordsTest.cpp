// The run and its records: every drive that ends is in the store before its
// verdict is counted, and a run without a store starts no drive.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "records/RecordStore.h"
#include "run/RunEngine.h"
#include "run/SlotView.h"
#include "sim/SampleData.h"
#include "support/RecordingOperator.h"
#include "support/ScriptedOps.h"
#include "support/TempDir.h"
#include "support/Wait.h"

using namespace qk;

namespace {

// At each refresh: how many drives showed a verdict, and how many records the database held then.
class CountingObserver : public RunObserver {
 public:
  std::string dbPath;
  std::mutex mutex;
  std::set<std::size_t> verdicts;
  std::vector<std::pair<std::size_t, std::size_t>> seen;  // verdicts shown, records stored

  void slots(const std::vector<SlotView>& views) override {
    std::lock_guard lock(mutex);
    for (std::size_t i = 0; i < views.size(); ++i) {
      const auto& t = views[i].panelText;
      if (t && (t->rfind("Pass", 0) == 0 || t->rfind("Fail", 0) == 0)) verdicts.insert(i);
    }
    if (verdicts.empty() || dbPath.empty()) return;
    seen.emplace_back(verdicts.size(), OpenSqliteRecordStore(dbPath)->query({}, nullptr).size());
  }
};

class DriveRecords : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(WriteSampleData(home.path())); }

  void start(int drives, const std::string& profile, std::set<int> failingSlots = {},
             std::map<int, std::string> failingStep = {}, std::map<int, std::array<std::uint32_t, 5>> badTotals = {}) {
    std::string bench = "[Hub1]\nParent=root\nKind=usb2\nPorts=7\n";
    for (int d = 1; d <= drives; ++d) {
      bench += "[Drive" + std::to_string(d) + "]\nAt=Hub1:" + std::to_string(d) + "\nToken=R20X\nFlash=WBG\n";
    }
    home.write("t.bench", bench);
    std::ofstream(home.file("QKMassProd.ini")) << profile;
    station = std::make_unique<Station>(ProgramFolder(home.path()), op);
    ASSERT_EQ(station->startUp("", home.file("t.bench"), &clock), Station::StartResult::Ok);
    engine = std::make_unique<RunEngine>(
        *station,
        [failingSlots, failingStep, badTotals](int slot, const PortContext&, const GlobalParameter&, std::stop_token) {
          auto ops = std::make_unique<test::ScriptedOps>();
          if (failingSlots.count(slot)) ops->failing.insert("download");
          if (failingStep.count(slot)) ops->failing.insert(failingStep.at(slot));
          ops->badTotals = badTotals.count(slot) ? badTotals.at(slot) : std::array<std::uint32_t, 5>{12, 0, 0, 0, 0};
          return ops;
        },
        observer);
  }

  std::string dbPath() const { return station->profile().logPath + kRecordsFileName; }

  test::TempDir home;
  test::RecordingOperator op;
  VirtualClock clock;
  CountingObserver observer;
  std::unique_ptr<Station> station;
  std::unique_ptr<RunEngine> engine;
};

const char* kProfile =
    "[Setting]\nStationName=line-a-3\n[TestItems]\nEnDownload=1\nEnCheckTables=1\n[DeviceSetting]\nSNAutoInc=1\nSNDecimal=1\n"
    "SNMinLength=6\nSerialNum=000100\n";

}  // namespace

TEST_F(DriveRecords, EveryEndedDriveIsStoredBeforeItIsCounted) {
  start(3, kProfile, {1});
  observer.dbPath = dbPath();
  const RunOutcome out = engine->start({});
  ASSERT_TRUE(out.ran);
  EXPECT_FALSE(out.recordsFailed);

  auto records = OpenSqliteRecordStore(dbPath())->query({}, nullptr);
  ASSERT_EQ(records.size(), 3u);
  std::map<int, DriveRecord> bySlot;
  for (auto& r : records) bySlot[r.slot] = r;
  EXPECT_EQ(bySlot[1].serial, "000100");
  EXPECT_EQ(bySlot[1].verdict, "Pass");
  EXPECT_EQ(bySlot[1].badBlocks, "12,0,0,0,0");
  EXPECT_EQ(bySlot[2].serial, "000101");
  EXPECT_EQ(bySlot[2].badBlocks, "") << "the failed drive never reached the table check";
  EXPECT_EQ(bySlot[2].verdict, "Fail");
  EXPECT_NE(bySlot[2].resultCode, 0);
  EXPECT_FALSE(bySlot[2].failureText.empty());
  EXPECT_EQ(bySlot[3].station, "line-a-3");
  EXPECT_EQ(bySlot[3].flashType, "WBG");
  EXPECT_EQ(bySlot[3].profileFile, home.file("QKMassProd.ini"));
  EXPECT_EQ(bySlot[3].profileHash.size(), 16u);

  std::lock_guard lock(observer.mutex);
  ASSERT_FALSE(observer.seen.empty());
  for (auto [shown, stored] : observer.seen) EXPECT_GE(stored, shown) << "a verdict was shown before its record";
}

TEST_F(DriveRecords, NoStoreNoStart) {
  start(2, kProfile);
  std::filesystem::create_directory(dbPath());  // the database file cannot be made
  const RunOutcome out = engine->start({});
  EXPECT_FALSE(out.ran);
  ASSERT_TRUE(out.refusal);
  EXPECT_NE(out.refusal->find("The drive records cannot be stored"), std::string::npos) << *out.refusal;
  // Nothing handed out, nothing counted.
  EXPECT_EQ(station->profile().settings.SerialNum, "000100");
  EXPECT_EQ(station->profile().settings.TotalTestCount, 0);

  // The database back: the next START runs and stores both drives.
  std::filesystem::remove(dbPath());
  ASSERT_TRUE(engine->start({}).ran);
  EXPECT_EQ(OpenSqliteRecordStore(dbPath())->query({}, nullptr).size(), 2u);
}

TEST_F(DriveRecords, StoppedDrivesAreRecordedAsFailed) {
  start(2, kProfile);
  engine = std::make_unique<RunEngine>(
      *station,
      [this](int, const PortContext&, const GlobalParameter&, std::stop_token stop) {
        auto ops = std::make_unique<test::ScriptedOps>();
        ops->hanging.insert("download");
        ops->stop = stop;
        return ops;
      },
      observer);
  std::jthread stopper([this] {
    // Once both drives carry their serials, the operator stops the run.
    EXPECT_TRUE(test::waitUntil([this] {
      std::lock_guard lock(station->scanner().scanLock());
      const auto& ports = station->scanner().ports();
      return !ports[0].serialNumber.empty() && !ports[1].serialNumber.empty();
    }));
    engine->stop();
  });
  const RunOutcome out = engine->start({});
  stopper.join();
  ASSERT_TRUE(out.ran);
  auto records = OpenSqliteRecordStore(dbPath())->query({}, nullptr);
  ASSERT_EQ(records.size(), 2u);
  for (const auto& r : records) {
    EXPECT_EQ(r.verdict, "Fail");
    EXPECT_EQ(r.resultCode, -1);
  }
}

// What the run learns of a drive beyond its verdict: the early and later bad
// blocks the table check counted, and the failure report written at the end.
TEST_F(DriveRecords, BadBlockCountsAndFailureReportsReachTheRecord) {
  start(3,
        "[TestItems]\nEnDownload=1\nEnPreFormat=1\nEnCheckTables=1\n[DeviceSetting]\nSNAutoInc=1\nSNDecimal=1\n"
        "SNMinLength=6\nSerialNum=000100\n",
        {}, {{1, "preformat"}}, {{2, {12, 1, 0, 2, 0}}});
  const RunOutcome out = engine->start({});
  ASSERT_TRUE(out.ran);
  EXPECT_FALSE(out.recordsFailed);
  ASSERT_EQ(out.reportFiles.size(), 1u);

  std::map<int, DriveRecord> bySlot;
  for (auto& r : OpenSqliteRecordStore(dbPath())->query({}, nullptr)) bySlot[r.slot] = r;
  ASSERT_EQ(bySlot.size(), 3u);
  EXPECT_EQ(bySlot[1].verdict, "Pass");
  EXPECT_EQ(bySlot[1].badEarly, 12);
  EXPECT_EQ(bySlot[1].badLater, 0);
  EXPECT_EQ(bySlot[1].failureReport, "");
  // Later bad blocks of any kind fail the table check; the record says how many.
  EXPECT_EQ(bySlot[3].verdict, "Fail");
  EXPECT_EQ(bySlot[3].badEarly, 12);
  EXPECT_EQ(bySlot[3].badLater, 3);
  EXPECT_EQ(bySlot[3].badBlocks, "12,1,0,2,0");

  const DriveRecord& failed = bySlot[2];
  EXPECT_EQ(failed.verdict, "Fail");
  EXPECT_EQ(failed.badEarly, std::nullopt) << "the table check never ran";
  EXPECT_EQ(failed.failureReport, out.reportFiles[0]);
  EXPECT_TRUE(std::filesystem::exists(failed.failureReport));
  // The code the slot shows after the report refined it.
  std::lock_guard lock(station->scanner().scanLock());
  EXPECT_EQ(failed.shownCode, station->scanner().ports()[1].shownCode);
}

namespace {

// A store that holds each write until the test lets it go.
class HeldStore : public RecordStore {
 public:
  explicit HeldStore(std::unique_ptr<RecordStore> inner) : inner_(std::move(inner)) {}
  bool check(std::string* error) override { return inner_->check(error); }
  bool write(const DriveRecord& record, std::string* error) override {
    std::unique_lock lock(mutex_);
    ++entered_;
    changed_.notify_all();
    // Bounded: an engine that waits on the store under the port table's lock would hang here.
    if (!changed_.wait_for(lock, test::kWaitLimit, [this] { return released_; })) ADD_FAILURE() << "never released";
    return inner_->write(record, error);
  }
  std::vector<DriveRecord> query(const RecordFilter& f, std::string* error) override { return inner_->query(f, error); }
  std::optional<RecordStats> stats(std::string* error) override { return inner_->stats(error); }
  bool remove(std::int64_t id, std::string* error) override { return inner_->remove(id, error); }
  std::string location() const override { return inner_->location(); }

  bool waitEntered() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, test::kWaitLimit, [this] { return entered_ > 0; });
  }
  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::unique_ptr<RecordStore> inner_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int entered_ = 0;
  bool released_ = false;
};

}  // namespace

// While a drive's record is being written, the port table is free (the display
// and the other drives go on) and the drive's verdict is not in it yet.
TEST_F(DriveRecords, TheStoreIsWrittenWithoutThePortTable) {
  start(1, kProfile);
  auto held = std::make_unique<HeldStore>(OpenSqliteRecordStore(dbPath()));
  HeldStore& store = *held;
  station->setRecordStore(std::move(held));
  RunOutcome out;
  std::jthread run([&] { out = engine->start({}); });
  ASSERT_TRUE(store.waitEntered());
  {
    std::lock_guard lock(station->scanner().scanLock());
    EXPECT_EQ(station->scanner().ports()[0].stepStatus[25], 0) << "the verdict came before its record";
  }
  store.release();
  run.join();
  ASSERT_TRUE(out.ran);
  EXPECT_EQ(OpenSqliteRecordStore(dbPath())->query({}, nullptr).size(), 1u);
}
