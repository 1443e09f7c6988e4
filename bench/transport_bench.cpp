// Sector throughput through the transport and the bench pass-through: the
// path every copy and read/write test takes on the simulated bench.
#include <benchmark/benchmark.h>

#include <vector>

#include "sim/Bench.h"
#include "transport/DeviceTransport.h"

namespace {

std::unique_ptr<qk::sim::Bench> oneDrive(qk::Clock& clock) {
  qk::sim::BenchConfig cfg;
  std::string error;
  qk::sim::ParseBenchText("[Hub1]\nParent=root\nKind=usb3\nPorts=1\n[Drive1]\nAt=Hub1:1\nToken=k402\nFlash=WBG\n",
                          "/tmp", {}, cfg, error);
  qk::sim::BenchOptions options;
  options.clock = &clock;
  return qk::sim::Bench::fromConfig(std::move(cfg), options, error);
}

void BM_BenchSectorWriteRead(benchmark::State& state) {
  qk::VirtualClock clock;
  auto bench = oneDrive(clock);
  qk::TransportState ts;
  qk::DeviceTransport t(bench->passThrough(), clock, ts);
  const auto bytes = static_cast<std::uint32_t>(state.range(0)) * 512;
  std::vector<std::uint8_t> buf(bytes, 0x5A);
  const std::string path = qk::sim::Bench::devicePathFor("Drive1");
  std::uint32_t lba = 0;
  for (auto _ : state) {
    t.WriteSectors(path, buf.data(), lba, bytes);
    benchmark::DoNotOptimize(t.ReadSectors(path, buf.data(), lba, bytes));
    lba = (lba + static_cast<std::uint32_t>(state.range(0))) % 1000000;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * bytes * 2);
}
BENCHMARK(BM_BenchSectorWriteRead)->Arg(8)->Arg(128);

}  // namespace
