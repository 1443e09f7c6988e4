#include <benchmark/benchmark.h>

#include <string>

#include "config/IniFile.h"

// A flash list of 500 types is read key by key at every profile load.
static void BM_IniLookupFlashList(benchmark::State& state) {
  std::string text = "[Vendor]\nName00=WBG\n[WBG]\n";
  for (int i = 0; i < 500; ++i) {
    char line[128];
    std::snprintf(line, sizeof line, "Name%2.2d=T%d, P%d, 0x0281, 2, 2, 0xEC, 0xD7, 0x94, 0x72, 0x54, 0, 0, 0, 0, 0\n", i, i, i);
    text += line;
  }
  for (auto _ : state) {
    qk::IniFile ini = qk::IniFile::parse(text);
    int found = 0;
    for (int i = 0; i < 500; ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "Name%2.2d", i);
      found += !ini.getString("WBG", key, "No").empty();
    }
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_IniLookupFlashList);
