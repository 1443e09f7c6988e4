// The record store's cost: records per second into the embedded store and
// into a line database (QK_RECORDS_URL=postgresql://...), and the share of a
// 50-drive run's wall time spent writing its records.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

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
  writeRecords(state, *qk::OpenRecordStore(url, dir, nullptr));
  std::filesystem::remove_all(dir);
}

// A 50-drive run on the simulated bench (no fixed waits, so the share is an
// upper bound): the run's wall time against 50 record writes into its store.
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
  qk::RunObserver observer;
  qk::RunEngine engine(station, observer);
  double runSeconds = 0, storeSeconds = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    if (!engine.start({}).ran) state.SkipWithError("the run did not start");
    auto t1 = std::chrono::steady_clock::now();
    runSeconds += std::chrono::duration<double>(t1 - t0).count();
    std::string error;
    qk::RecordStore* store = station.openRecords(&error);
    t0 = std::chrono::steady_clock::now();
    for (int d = 0; d < 50 && store; ++d) store->write(sample(d), &error);
    storeSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  state.counters["run_s"] = runSeconds / static_cast<double>(state.iterations());
  state.counters["store_s"] = storeSeconds / static_cast<double>(state.iterations());
  state.counters["store_percent"] = runSeconds > 0 ? 100.0 * storeSeconds / runSeconds : 0.0;
  std::filesystem::remove_all(home);
}

}  // namespace

BENCHMARK(RecordsIntoSqlite)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(RecordsIntoPostgres)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(RecordShareOfARun)->Unit(benchmark::kMillisecond)->Iterations(2);
