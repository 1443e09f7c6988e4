// A line of 16 ports fed with 64 drives: full R/W tests of 1x, 2x and 4x the
// smallest drive's time and a few drives failing at once, 5 s for the
// operator to swap a drive. Continuous production against batch STARTs on
// the same feed, in drives per hour of the modelled line, beside the bound
// no mode can beat (every port busy all the time).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/Station.h"
#include "run/LineRun.h"
#include "sim/SampleData.h"

namespace {

constexpr int kPorts = 16;
constexpr int kDrives = 64;

std::string makeLine() {
  std::string dir = (std::filesystem::temp_directory_path() / "qkline-XXXXXX").string();
  if (!mkdtemp(dir.data())) std::abort();
  dir += "/";
  qk::WriteSampleData(dir);
  std::string bench = "[Bench]\nTimeScale=0.01\n[Hub1]\nParent=root\nKind=usb3\nPorts=" + std::to_string(kPorts) +
                      "\n[Feed]\nDrives=" + std::to_string(kDrives) + "\nSwap=5000\n";
  for (int t = 1; t <= kPorts; ++t) bench += "Template" + std::to_string(t) + "=Drive" + std::to_string(t) + "\n";
  // 8, 16 and 32 MiB at 0.25 MB/s (the full R/W test moves each twice), more
  // small drives than large ones; the last two templates carry another
  // flash: they fail their first step.
  const int size[kPorts] = {1, 1, 2, 4, 1, 1, 2, 4, 1, 1, 2, 4, 1, 2, 0, 0};
  for (int t = 1; t <= kPorts; ++t) {
    const int k = size[t - 1];
    bench += "[Drive" + std::to_string(t) + "]\nAt=Hub1:" + std::to_string(t) + "\nToken=k402\nFlash=" +
             (k == 0 ? "WBH" : "WBG") + "\nChannel=4\nBank=2\nSpeed=0.25\nSectors=" + std::to_string(16384 * std::max(k, 1)) +
             "\n";
  }
  std::ofstream(dir + "line.bench") << bench;
  std::ofstream(dir + "QKMassProd.ini")
      << "[TestItems]\nEnFlashModule=1\nEnSataTest=1\nEnFlashTest=1\nEnPreFormat=1\n"
         "[FlashSetting]\nFlashUniName=WBG\nChannel=4\nBank=2\n";
  return dir;
}

qk::LineSummary runLine(bool continuous) {
  const std::string dir = makeLine();
  qk::LineSummary summary;
  {
    qk::SilentOperator op;
    qk::Station station(qk::ProgramFolder(dir), op);
    if (station.startUp("", dir + "line.bench") != qk::Station::StartResult::Ok) std::abort();
    qk::sim::LineFeeder feeder(*station.bench());
    qk::RunObserver observer;
    qk::RunEngine engine(station, observer);
    qk::LineRun line(station, engine, &feeder);
    qk::RunOptions options;
    options.extraItems = {21};  // the full R/W test
    if (continuous) {
      qk::ContinuousOptions co;
      co.run = options;
      co.armHotplug = true;
      summary = line.continuous(co);
    } else {
      summary = line.batch(options);
    }
  }
  std::filesystem::remove_all(dir);
  if (summary.drives != kDrives) std::abort();
  return summary;
}

void BM_LineContinuousAgainstBatch(benchmark::State& state) {
  qk::LineSummary batch{}, continuous{};
  for (auto _ : state) {
    batch = runLine(false);
    continuous = runLine(true);
  }
  state.counters["batch_drives_per_hour"] = batch.drivesPerHour;
  state.counters["continuous_drives_per_hour"] = continuous.drivesPerHour;
  state.counters["ratio_continuous_to_batch"] = continuous.drivesPerHour / batch.drivesPerHour;
  state.counters["bound_drives_per_hour"] = continuous.boundDrivesPerHour;
  state.counters["batch_line_s"] = batch.elapsedSeconds;
  state.counters["continuous_line_s"] = continuous.elapsedSeconds;
}
BENCHMARK(BM_LineContinuousAgainstBatch)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
