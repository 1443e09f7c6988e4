#pragma once
// The failure record of the read/write tests: five 32-bit little-endian words
// at the start of the caller's buffer, decoded by the error report.
#include <cstdint>
#include <string>
#include <vector>

namespace qk {

struct RwFailureRecord {
  enum Kind : std::uint32_t { None = 0, WriteFailed = 1, ReadFailed = 2, DataDiffer = 3 };
  std::uint32_t kind = None;
  std::uint32_t lba = 0;
  std::uint32_t expected = 0;  // DataDiffer only
  std::uint32_t received = 0;  // DataDiffer only
  std::uint32_t index = 0;     // DataDiffer only: first differing word in the block

  static constexpr std::size_t kBytes = 20;

  // Words 0..4: kind, LBA, expected, received, index
  void store(std::uint8_t* buffer) const;
  static RwFailureRecord load(const std::uint8_t* buffer);

  // The error report's lines for the record (nothing for an unknown kind).
  std::vector<std::string> describe() const;
};

}  // namespace qk
