// A full pattern pass, written then read back, over a simulated drive's
// user-data store: time per pass and the memory the store holds after it.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "sim/UserData.h"

namespace {

void PatternPass(benchmark::State& state) {
  const std::uint32_t sectors = static_cast<std::uint32_t>(state.range(0) / 512);
  std::uint64_t footprint = 0;
  // Both parities of a 64 KiB block of the pattern: every aligned block is one of them.
  std::vector<std::uint8_t> even(65536), odd(65536), back(65536);
  qk::sim::FillTestPattern(0, 128, even.data());
  qk::sim::FillTestPattern(128, 128, odd.data());
  for (auto _ : state) {
    auto store = qk::sim::UserData::inMemory(sectors);
    for (std::uint32_t s = 0; s < sectors; s += 128) {
      const std::uint32_t n = std::min<std::uint32_t>(128, sectors - s);
      store->write(s, n, ((s / 128) & 1) ? odd.data() : even.data());
    }
    bool same = true;
    for (std::uint32_t s = 0; s < sectors; s += 128) {
      const std::uint32_t n = std::min<std::uint32_t>(128, sectors - s);
      store->read(s, n, back.data());
      same = same && std::memcmp(back.data(), ((s / 128) & 1) ? odd.data() : even.data(), n * 512u) == 0;
    }
    if (!same) state.SkipWithError("read back differs");
    footprint = store->footprintBytes();
  }
  state.counters["store_bytes"] = static_cast<double>(footprint);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0) * 2);
}

}  // namespace

// 1 GiB for a quick look; 1 TiB is the drive the store is built for (minutes).
BENCHMARK(PatternPass)->Arg(1LL << 30)->Arg(1LL << 40)->Unit(benchmark::kSecond)->Iterations(1);
