// A production run of 50 drives against one drive, on the bench with its time
// factor fixed: the fixed waits of all ports run in parallel, so the ratio of
// wall times should stay near 1. Also the CPU time per drive (station and
// simulated drives together), and the same with the capacity probe on.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/Station.h"
#include "run/RunEngine.h"
#include "sim/SampleData.h"

namespace {

std::string makeLine(int drives, bool probe, int timeScaleThousandths) {
  std::string dir = (std::filesystem::temp_directory_path() / "qkbench-XXXXXX").string();
  if (!mkdtemp(dir.data())) std::abort();
  dir += "/";
  qk::WriteSampleData(dir);
  std::string bench = "[Bench]\nTimeScale=" + std::to_string(timeScaleThousandths / 1000.0) + "\n";
  // Root hubs of ten ports: fifty drives fill exactly fifty slots.
  const int hubs = (drives + 9) / 10;
  for (int h = 0; h < hubs; ++h) bench += "[Hub" + std::to_string(h + 1) + "]\nParent=root\nKind=usb3\nPorts=10\n";
  for (int d = 0; d < drives; ++d) {
    bench += "[Drive" + std::to_string(d + 1) + "]\nAt=Hub" + std::to_string(d / 10 + 1) + ":" +
             std::to_string(d % 10 + 1) + "\nToken=k402\nFlash=WBG\nChannel=4\nBank=2\nSectors=4194304\n";
  }
  std::ofstream(dir + "line.bench") << bench;
  std::ofstream(dir + "QKMassProd.ini")
      << "[TestItems]\nEnFlashModule=1\nEnSataTest=1\nEnFlashTest=1\nEnPreFormat=1\nEnRWTest=1\n"
         << (probe ? "EnCapacityProbe=1\n" : "") << "[FlashSetting]\nFlashUniName=WBG\nChannel=4\nBank=2\n";
  return dir;
}

struct RunCost {
  double wallMs;
  double cpuMs;
  double pageFaults;
};

double cpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// Fresh memory touched: fifty drives faulting pages in at once queue on the
// process's one memory map.
double pageFaults() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_minflt);
}

RunCost runLine(const std::string& dir) {
  qk::SilentOperator op;
  qk::Station station(qk::ProgramFolder(dir), op);
  if (station.startUp("", dir + "line.bench") != qk::Station::StartResult::Ok) std::abort();
  qk::RunObserver observer;
  qk::RunEngine engine(station, observer);
  const double cpu0 = cpuMs(), faults0 = pageFaults();
  const auto t0 = std::chrono::steady_clock::now();
  qk::RunOutcome out = engine.start({});
  const auto t1 = std::chrono::steady_clock::now();
  if (!out.ran) std::abort();
  return {std::chrono::duration<double, std::milli>(t1 - t0).count(), cpuMs() - cpu0, pageFaults() - faults0};
}

void BM_RunFiftyAgainstOne(benchmark::State& state) {
  const bool probe = state.range(0) != 0;
  const int scale = static_cast<int>(state.range(1));
  const std::string one = makeLine(1, probe, scale), fifty = makeLine(50, probe, scale);
  RunCost a{}, b{};
  for (auto _ : state) {
    a = runLine(one);
    b = runLine(fifty);
  }
  state.counters["wall_ms_1"] = a.wallMs;
  state.counters["wall_ms_50"] = b.wallMs;
  state.counters["wall_ratio_50_to_1"] = b.wallMs / a.wallMs;
  state.counters["cpu_ms_per_drive"] = b.cpuMs / 50.0;
  state.counters["page_faults_per_drive"] = b.pageFaults / 50.0;
  std::filesystem::remove_all(one);
  std::filesystem::remove_all(fifty);
}
// Time factors of 0.02 and 0.1: the first squeezes the modelled run into
// 0.7 s, so any work all drives do at the same step shows whole.
BENCHMARK(BM_RunFiftyAgainstOne)
    ->ArgNames({"probe", "timescale_x1000"})
    ->Args({0, 20})
    ->Args({1, 20})
    ->Args({0, 100})
    ->Args({1, 100})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
