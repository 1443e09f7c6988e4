#pragma once
// One fuzz input through the table file import; shared by the libFuzzer target
// and the corpus replay test. The first byte picks the drive's shape and the
// firmware type, the rest is the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/TableFile.h"

namespace qk::fuzz {

inline void tableFileOnce(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  static constexpr int kTypes[4] = {21, 12, 15, 30};
  const std::uint8_t pick = data[0];
  TableShape shape;
  shape.pageSectors = (pick & 1) ? 8 : 4;
  shape.pageBytes = shape.pageSectors * 512U;
  static constexpr std::uint8_t kChannels[4] = {4, 2, 1, 8};
  shape.channels = kChannels[(pick >> 1) & 3];
  shape.banks = static_cast<std::uint8_t>(1 + ((pick >> 3) & 7));
  const int type = kTypes[(pick >> 6) & 3];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  // The pages with a guard behind them that the import must never touch.
  const std::size_t span = static_cast<std::size_t>(shape.channels) * shape.pageBytes;
  std::vector<std::uint8_t> buf(span + 256, 0xA5);
  const bool ok = ImportTableText(text, {buf.data(), span}, shape, type);
  for (std::size_t i = span; i < buf.size(); ++i)
    if (buf[i] != 0xA5) __builtin_trap();
  if (!ok) return;

  // What was accepted exports, and the export comes back unchanged.
  const std::string first = FactoryTableText({buf.data(), span}, shape, type);
  std::vector<std::uint8_t> again(span);
  if (!ImportTableText(first, again, shape, type)) __builtin_trap();
  if (FactoryTableText(again, shape, type) != first) __builtin_trap();
}

}  // namespace qk::fuzz
