// Disk operations measured side by side with a yardstick on the same machine,
// in one run; each benchmark reports the ratio as a counter.
//   pattern:  fill and compare of the R/W pattern against memcpy of the same bytes
//   rwfull:   write-then-verify of a file-backed drive against badblocks -w -t 0x5555
//   format:   FAT32 format of a 64 GiB file-backed drive against mkfs.fat -F 32
//   copy:     a 1 GiB plain image onto a drive against dd bs=64k conv=notrunc
//   probe:    the capacity probe against the full R/W test of the same file-backed drive;
//             and the probe's CPU time on the in-memory simulated drive the run benchmark uses
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "diskops/CapacityProbe.h"
#include "diskops/Fat32Formatter.h"
#include "diskops/ImageCopy.h"
#include "diskops/Partitioner.h"
#include "diskops/RwPattern.h"
#include "diskops/RwTests.h"
#include "diskops/TransportSectorDevice.h"
#include "platform/bench/BenchVolumes.h"
#include "sim/Bench.h"
#include "transport/DeviceTransport.h"

namespace {

using Seconds = std::chrono::duration<double>;

template <typename F>
double timed(F&& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return Seconds(std::chrono::steady_clock::now() - t0).count();
}

std::string scratch() {
  const char* t = std::getenv("TMPDIR");
  std::string dir = std::string(t ? t : "/tmp") + "/qk-diskops-bench-" + std::to_string(::getpid());
  std::filesystem::create_directories(dir);
  return dir;
}

int shell(const std::string& command) { return std::system(("PATH=$PATH:/usr/sbin:/sbin " + command).c_str()); }

// One file-backed drive on a bench of its own, with everything a disk job needs.
struct FileDrive {
  qk::VirtualClock clock;
  std::unique_ptr<qk::sim::Bench> bench;
  qk::TransportState state;
  std::unique_ptr<qk::DeviceTransport> transport;
  std::unique_ptr<qk::TransportSectorDevice> device;
  std::unique_ptr<qk::BenchVolumes> volumes;

  FileDrive(const std::string& store, std::uint64_t sectors) {
    qk::sim::BenchConfig cfg;
    std::string error;
    // Without a store file the drive keeps its data in memory.
    qk::sim::ParseBenchText("[Hub1]\nParent=root\nKind=usb3\nPorts=1\n[Drive1]\nAt=Hub1:1\nToken=k402\n"
                            "Flash=WBG\nSectors=" + std::to_string(sectors) + "\n" +
                                (store.empty() ? "" : "Store=" + store + "\n"),
                            "/tmp", {}, cfg, error);
    qk::sim::BenchOptions options;
    options.clock = &clock;
    bench = qk::sim::Bench::fromConfig(std::move(cfg), options, error);
    transport = std::make_unique<qk::DeviceTransport>(bench->passThrough(), clock, state);
    device = std::make_unique<qk::TransportSectorDevice>(*transport, qk::sim::Bench::devicePathFor("Drive1"));
    volumes = std::make_unique<qk::BenchVolumes>(bench->passThrough());
  }
  qk::DiskJob job() { return qk::DiskJob{*device, *volumes, clock}; }
};

void BM_PatternAgainstMemcpy(benchmark::State& state) {
  constexpr std::uint32_t kSectors = 128;
  constexpr std::size_t kBytes = kSectors * 512;
  constexpr std::uint32_t kBlocks = 8192;  // 512 MiB per measurement
  std::vector<std::uint8_t> a(kBytes), b(kBytes, 1);
  double fill = 0, compare = 0, copy = 0;
  for (auto _ : state) {
    fill = timed([&] {
      for (std::uint32_t i = 0; i < kBlocks; ++i) {
        qk::RwPattern::fill(a.data(), i * kSectors, kSectors);
        benchmark::DoNotOptimize(a.data());
      }
    });
    compare = timed([&] {
      for (std::uint32_t i = 0; i < kBlocks; ++i) {
        qk::RwPattern::fill(a.data(), i * kSectors, kSectors);  // what the drive returned
        benchmark::DoNotOptimize(qk::RwPattern::firstMismatch(a.data(), i * kSectors, kSectors));
      }
    }) - fill;
    copy = timed([&] {
      for (std::uint32_t i = 0; i < kBlocks; ++i) {
        std::memcpy(a.data(), b.data(), kBytes);
        benchmark::DoNotOptimize(a.data());
        b[i % kBytes] ^= 1;
      }
    });
  }
  const double bytes = double{kBytes} * kBlocks;
  state.counters["fill_GBps"] = bytes / fill / 1e9;
  state.counters["compare_GBps"] = bytes / compare / 1e9;
  state.counters["memcpy_GBps"] = bytes / copy / 1e9;
  state.counters["fill_vs_memcpy"] = copy / fill;
  state.counters["compare_vs_memcpy"] = copy / compare;
}
BENCHMARK(BM_PatternAgainstMemcpy)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_FullRwTestAgainstBadblocks(benchmark::State& state) {
  const std::uint64_t mib = static_cast<std::uint64_t>(state.range(0));
  const std::string dir = scratch();
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    FileDrive drive(dir + "/drive.img", mib * 2048);
    qk::DiskJob job = drive.job();
    std::vector<std::uint8_t> buffer(qk::kRwBufferBytes);
    ours = timed([&] {
      if (!qk::RWTestPercentageWithProgress(job, buffer.data(), 100)) state.SkipWithError("R/W test failed");
    });
    shell("truncate -s " + std::to_string(mib) + "M " + dir + "/bb.img");
    theirs = timed([&] {
      if (shell("badblocks -w -t 0x5555 -b 4096 " + dir + "/bb.img > /dev/null 2>&1") != 0) {
        state.SkipWithError("badblocks failed");
      }
    });
  }
  std::filesystem::remove_all(dir);
  state.counters["ours_s"] = ours;
  state.counters["badblocks_s"] = theirs;
  state.counters["ours_over_badblocks"] = ours / theirs;
}
BENCHMARK(BM_FullRwTestAgainstBadblocks)->Arg(512)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ProbeAgainstFullRwTest(benchmark::State& state) {
  const std::uint64_t mib = static_cast<std::uint64_t>(state.range(0));
  const std::string dir = scratch();
  double probe = 0, full = 0;
  std::uint64_t moved = 0;
  for (auto _ : state) {
    FileDrive drive(dir + "/drive.img", mib * 2048);
    qk::DiskJob job = drive.job();
    std::vector<std::uint8_t> buffer(qk::kRwBufferBytes);
    qk::CapacityProbeOptions options;
    options.driveId = "BENCH";
    options.nonce = 42;
    probe = timed([&] {
      const qk::CapacityProbeResult r = qk::CapacityProbe(job, options, buffer.data());
      if (!r.passed) state.SkipWithError("probe failed");
      moved = r.bytesMoved;
    });
    full = timed([&] {
      if (!qk::RWTestPercentageWithProgress(job, buffer.data(), 100)) state.SkipWithError("R/W test failed");
    });
  }
  std::filesystem::remove_all(dir);
  state.counters["probe_s"] = probe;
  state.counters["full_rw_s"] = full;
  state.counters["probe_over_full_rw"] = probe / full;
  state.counters["probe_MiB_moved"] = static_cast<double>(moved) / (1 << 20);
}
BENCHMARK(BM_ProbeAgainstFullRwTest)->Arg(1024)->Iterations(1)->Unit(benchmark::kMillisecond);

double threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// What one probe costs the station and the simulated drive together (a fresh
// 2 GiB drive each time, as in the 50-drive run), best of the iterations.
void BM_ProbeCpuOnSimulatedDrive(benchmark::State& state) {
  double best = 1e9;
  std::uint64_t moved = 0;
  std::size_t positions = 0;
  for (auto _ : state) {
    FileDrive drive("", 4194304);
    qk::DiskJob job = drive.job();
    std::vector<std::uint8_t> buffer(qk::kRwBufferBytes);
    qk::CapacityProbeOptions options;
    options.driveId = "BENCH";
    options.nonce = 42;
    options.keepData = state.range(0) != 0;
    qk::CapacityProbeResult r;
    double cost = 0;
    // On a thread of its own, as a port worker runs it.
    std::thread([&] {
      const double t0 = threadCpuMs();
      r = qk::CapacityProbe(job, options, buffer.data());
      cost = threadCpuMs() - t0;
    }).join();
    best = std::min(best, cost);
    if (!r.passed) state.SkipWithError("probe failed");
    moved = r.bytesMoved;
    positions = r.positions;
  }
  state.counters["cpu_ms_per_probe"] = best;
  state.counters["MiB_moved"] = static_cast<double>(moved) / (1 << 20);
  state.counters["stamped"] = static_cast<double>(positions);
}
BENCHMARK(BM_ProbeCpuOnSimulatedDrive)->ArgName("keep")->Arg(0)->Arg(1)->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_FormatAgainstMkfsFat(benchmark::State& state) {
  const std::uint64_t sectors = 64ull * 1024 * 2048;  // 64 GiB
  const std::string dir = scratch();
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    FileDrive drive(dir + "/drive.img", sectors);
    qk::DiskJob job = drive.job();
    qk::PartitionDisk(job);
    ours = timed([&] {
      if (!qk::FormatFat32(job, "BENCH")) state.SkipWithError("format failed");
    });
    shell("truncate -s 64G " + dir + "/mkfs.img");
    theirs = timed([&] {
      if (shell("mkfs.fat -F 32 " + dir + "/mkfs.img > /dev/null 2>&1") != 0) state.SkipWithError("mkfs.fat failed");
    });
  }
  std::filesystem::remove_all(dir);
  state.counters["ours_s"] = ours;
  state.counters["mkfs_s"] = theirs;
  state.counters["ours_over_mkfs"] = ours / theirs;
}
BENCHMARK(BM_FormatAgainstMkfsFat)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_CopyImageAgainstDd(benchmark::State& state) {
  const std::uint64_t mib = 1024;
  const std::string dir = scratch();
  {
    // A plain image with data in every chunk, so nothing is a hole.
    std::vector<std::uint8_t> chunk(1 << 20);
    int fd = ::open((dir + "/plain.img").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (std::uint64_t i = 0; i < mib; ++i) {
      qk::RwPattern::fill(chunk.data(), static_cast<std::uint32_t>(i * 2048), 2048);
      if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) break;
    }
    ::close(fd);
  }
  // Best of five for each, taken in turns, so neither side gets a warmer cache.
  double ours = 1e9, theirs = 1e9;
  for (auto _ : state) {
    FileDrive drive(dir + "/drive.img", 2 * mib * 2048);
    qk::DiskJob job = drive.job();
    shell("truncate -s " + std::to_string(2 * mib) + "M " + dir + "/dd.img");
    for (int round = 0; round < 5; ++round) {
      ours = std::min(ours, timed([&] {
                        if (!qk::FlushGhostImg(job, dir + "/plain.img")) state.SkipWithError("copy failed");
                      }));
      theirs = std::min(theirs, timed([&] {
                          if (shell("dd if=" + dir + "/plain.img of=" + dir + "/dd.img bs=64k conv=notrunc status=none") !=
                              0) {
                            state.SkipWithError("dd failed");
                          }
                        }));
    }
  }
  std::filesystem::remove_all(dir);
  state.counters["ours_s"] = ours;
  state.counters["dd_s"] = theirs;
  state.counters["ours_over_dd"] = ours / theirs;
}
BENCHMARK(BM_CopyImageAgainstDd)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
