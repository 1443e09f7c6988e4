// The record store's cost: records per second into the embedded store (one
// writer, and fifty at once) and into a line database
// (QK_RECORDS_URL=postgresql://...), and the share of a 50-drive run's wall
// time spent writing its records.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "records/DriveEnd.h"
#include "records/RecordStore.h"
#include "run/RunEngine.h"
#include "sim/SampleData.h"

namespace {

std::string tempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qkbench-XXXXXX").string();
  return std::string(mkdtemp(pattern.data())) + "/";
}

qk::DriveRecord sample(std::int64_t i) {
  qk::DriveRecord r;
  r.station = "bench";
  r.slot = static_cast<int>(i % 50) + 1;
  r.serial = "B" + std::to_string(i);
  r.verdict = "Pass";
  r.startTime = r.endTime = "2026-12-08 10:00:00";
  r.flashType = "WBG";
  r.stepStatus = "1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1";
  return r;
}

void writeRecords(benchmark::State& state, qk::RecordStore& store) {
  std::string error;
  if (!store.check(&error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::int64_t i = 0;
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : state) {
    if (!store.write(sample(i++), &error)) state.SkipWithError(error.c_str());
  }
  // Wall time: a record's cost is the disk's, not the processor's.
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  state.counters["records_per_s"] = seconds > 0 ? static_cast<double>(i) / seconds : 0.0;
}

void RecordsIntoSqlite(benchmark::State& state) {
  const std::string dir = tempFolder();
  writeRecords(state, *qk::OpenSqliteRecordStore(dir + qk::kRecordsFileName));
  std::filesystem::remove_all(dir);
}

void RecordsIntoPostgres(benchmark::State& state) {
  const char* url = std::getenv("QK_RECORDS_URL");
  if (!url) {
    state.SkipWithError("set QK_RECORDS_URL=postgresql://... to measure a line database");
    return;
  }
  const std::string dir = tempFolder();
  {
    auto store = qk::OpenRecordStore(url, dir, nullptr);
    const auto t0 = std::chrono::steady_clock::now();
    writeRecords(state, *store);
    // A drive waits for the local spool only; the sender delivers behind it.
    auto spool = qk::OpenSqliteRecordStore(dir + qk::kSpoolFileName);
    while (!spool->query({}, nullptr).empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.counters["delivered_per_s"] = seconds > 0 ? static_cast<double>(state.iterations()) / seconds : 0.0;
  }
  std::filesystem::remove_all(dir);
}

// Fifty drives that end at the same moment: their writers share commits.
void RecordsOfFiftyEndingTogether(benchmark::State& state) {
  const std::string dir = tempFolder();
  auto store = qk::OpenSqliteRecordStore(dir + qk::kRecordsFileName);
  if (!store->check(nullptr)) {
    state.SkipWithError("the store did not open");
    return;
  }
  std::int64_t n = 0;
  for (auto _ : state) {
    std::atomic<int> waiting{50};
    std::vector<std::jthread> drives;
    for (int d = 0; d < 50; ++d) {
      drives.emplace_back([&, i = n++] {
        --waiting;
        while (waiting > 0) std::this_thread::yield();
        store->write(sample(i), nullptr);
      });
    }
  }
  state.counters["records_per_s"] = benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsRate);
  store.reset();
  std::filesystem::remove_all(dir);
}

// The wall time during which at least one record write is under way: the most
// the store can add to a run, however the writes overlap with the drives' work.
class TimedStore : public qk::RecordStore {
 public:
  explicit TimedStore(std::unique_ptr<qk::RecordStore> inner) : inner_(std::move(inner)) {}
  bool check(std::string* error) override { return inner_->check(error); }
  bool write(const qk::DriveRecord& record, std::string* error) override {
    {
      std::lock_guard lock(mutex_);
      if (inFlight_++ == 0) since_ = std::chrono::steady_clock::now();
    }
    const bool ok = inner_->write(record, error);
    std::lock_guard lock(mutex_);
    if (--inFlight_ == 0) busy_ += std::chrono::steady_clock::now() - since_;
    return ok;
  }
  std::vector<qk::DriveRecord> query(const qk::RecordFilter& f, std::string* error) override {
    return inner_->query(f, error);
  }
  std::optional<qk::RecordStats> stats(std::string* error) override { return inner_->stats(error); }
  bool remove(std::int64_t id, std::string* error) override { return inner_->remove(id, error); }
  std::string location() const override { return inner_->location(); }
  double busySeconds() {
    std::lock_guard lock(mutex_);
    return std::chrono::duration<double>(busy_).count();
  }

 private:
  std::unique_ptr<qk::RecordStore> inner_;
  std::mutex mutex_;
  int inFlight_ = 0;
  std::chrono::steady_clock::time_point since_;
  std::chrono::steady_clock::duration busy_{};
};

// A 50-drive run on the simulated bench (no fixed waits, so the share is an
// upper bound): the run's wall time against the time its store was writing.
void RecordShareOfARun(benchmark::State& state) {
  const std::string home = tempFolder();
  qk::WriteSampleData(home);
  std::string bench = "[Bench]\nTimeScale=0\n";
  for (int h = 0; h < 5; ++h) bench += "[Hub" + std::to_string(h + 1) + "]\nParent=root\nKind=usb3\nPorts=10\n";
  for (int d = 0; d < 50; ++d) {
    bench += "[Drive" + std::to_string(d + 1) + "]\nAt=Hub" + std::to_string(d / 10 + 1) + ":" +
             std::to_string(d % 10 + 1) + "\nToken=k402\nFlash=WBG\nChannel=4\nBank=2\nSectors=2097152\n";
  }
  std::ofstream(home + "line.bench") << bench;
  std::ofstream(home + "QKMassProd.ini")
      << "[TestItems]\nEnFlashModule=1\nEnSataTest=1\nEnFlashTest=1\nEnDramTest=1\nEnPreFormat=1\nEnDownload=1\n"
         "EnRWTest=1\nEnCheckTables=1\nEnFormat=1\n[FlashSetting]\nFlashUniName=WBG\nChannel=4\nBank=2\n"
         "[DeviceSetting]\nSNAutoInc=1\n";
  qk::SilentOperator op;
  qk::Station station(qk::ProgramFolder(home), op);
  if (station.startUp("", home + "line.bench") != qk::Station::StartResult::Ok) {
    state.SkipWithError("the bench did not start");
    return;
  }
  auto timed = std::make_unique<TimedStore>(qk::OpenSqliteRecordStore(station.profile().logPath + qk::kRecordsFileName));
  TimedStore& store = *timed;
  station.setRecordStore(std::move(timed));
  qk::RunObserver observer;
  qk::RunEngine engine(station, observer);
  double runSeconds = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    if (!engine.start({}).ran) state.SkipWithError("the run did not start");
    runSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  const double storeSeconds = store.busySeconds();
  state.counters["run_s"] = runSeconds / static_cast<double>(state.iterations());
  state.counters["store_s"] = storeSeconds / static_cast<double>(state.iterations());
  state.counters["store_percent"] = runSeconds > 0 ? 100.0 * storeSeconds / runSeconds : 0.0;
  std::filesystem::remove_all(home);
}

}  // namespace

BENCHMARK(RecordsIntoSqlite)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(RecordsIntoPostgres)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(RecordsOfFiftyEndingTogether)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(RecordShareOfARun)->Unit(benchmark::kMillisecond)->Iterations(3);
