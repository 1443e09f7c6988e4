// The record store's cost: records per second into the embedded store (one
// writer, and fifty at once) and into a line database
// (QK_RECORDS_URL=postgresql://...), and the share of a 50-drive run's wall
// time spent writing its records.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <ctime>
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
  r.key = qk::NewRecordKey();
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

// What the record writes cost: the processor time of the writing threads
// (immune to how long they wait for a processor on a busy machine).
class TimedStore : public qk::RecordStore {
 public:
  explicit TimedStore(std::unique_ptr<qk::RecordStore> inner) : inner_(std::move(inner)) {}
  bool check(std::string* error) override { return inner_->check(error); }
  bool write(const qk::DriveRecord& record, std::string* error) override {
    if (!on) return true;
    const double t0 = threadSeconds();
    const bool ok = inner_->write(record, error);
    const double spent = threadSeconds() - t0;
    std::lock_guard lock(mutex_);
    cpu_ += spent;
    return ok;
  }
  std::vector<qk::DriveRecord> query(const qk::RecordFilter& f, std::string* error) override {
    return inner_->query(f, error);
  }
  std::optional<qk::RecordStats> stats(std::string* error) override { return inner_->stats(error); }
  bool remove(std::int64_t id, std::string* error) override { return inner_->remove(id, error); }
  std::string location() const override { return inner_->location(); }
  std::atomic<bool> on{true};  // off: records go nowhere (the run without a store)
  double cpuSeconds() {
    std::lock_guard lock(mutex_);
    return cpu_;
  }

 private:
  static double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
  }
  std::unique_ptr<qk::RecordStore> inner_;
  std::mutex mutex_;
  double cpu_ = 0;
};

// A 50-drive run on the simulated bench: the run's wall time with its records
// and without, with no fixed waits (an upper bound) and at 1/50 of real time
// (as the run benchmark).
void RecordShareOfARun(benchmark::State& state) {
  const std::string home = tempFolder();
  qk::WriteSampleData(home);
  // Hundredths of the drives' real time: 0 leaves out every fixed wait.
  std::string bench = "[Bench]\nTimeScale=" + std::to_string(static_cast<double>(state.range(0)) / 100) + "\n";
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
  // Runs with and without the store, taking turns so that the machine's load
  // falls on both alike; the best of each.
  double with = 1e9, without = 1e9;
  int turn = 0;
  for (auto _ : state) {
    const bool first = turn++ % 2 == 0;
    for (bool on : {first, !first}) {
      store.on = on;
      const auto t0 = std::chrono::steady_clock::now();
      if (!engine.start({}).ran) state.SkipWithError("the run did not start");
      const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      (on ? with : without) = std::min(on ? with : without, s);
    }
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["run_s"] = with;
  state.counters["without_store_s"] = without;
  state.counters["store_percent"] = 100.0 * (with - without) / with;
  state.counters["store_cpu_ms"] = 1000.0 * store.cpuSeconds() / n;
  state.counters["store_cpu_percent"] = 100.0 * store.cpuSeconds() / n / with;
  std::filesystem::remove_all(home);
}

}  // namespace

BENCHMARK(RecordsIntoSqlite)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(RecordsIntoPostgres)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(RecordsOfFiftyEndingTogether)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(RecordShareOfARun)->Unit(benchmark::kMillisecond)->Arg(0)->Arg(2)->Iterations(6);
