#pragma once
// One fuzz input through the INI reader and the flash list parser; shared by
// the libFuzzer target and the corpus replay test.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/FlashList.h"
#include "config/IniFile.h"

namespace qk::fuzz {

inline void flashListOnce(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  IniFile ini = IniFile::parse(text);
  for (const auto& key : ini.keys("Vendor")) (void)ini.getInt("Vendor", key, 0);
  (void)ini.text();

  FlashCatalogue cat;
  std::string error;
  if (ParseFlashList(ini, cat, &error)) {
    // Whatever was accepted must hold the catalogue's invariants.
    if (cat.vendors.empty() || cat.vendors.size() > static_cast<size_t>(kMaxFlashVendors) ||
        cat.types.size() > static_cast<size_t>(kMaxFlashTypes) || cat.boundaries.size() != cat.vendors.size() ||
        cat.boundaries.back() != static_cast<int>(cat.types.size()))
      __builtin_trap();
    for (size_t t = 0; t < cat.types.size(); ++t) {
      int v = cat.vendorOf(static_cast<int>(t));
      if (v < 0 || cat.firstType(v) > static_cast<int>(t)) __builtin_trap();
      if (cat.types[t].uniqueName.size() > kMaxFlashNameLength) __builtin_trap();
    }
    if (!cat.types.empty() && cat.findUnique(cat.types[0].uniqueName) != 0) __builtin_trap();
  } else if (error.empty()) {
    __builtin_trap();
  }
}

}  // namespace qk::fuzz
