#pragma once
// The read/write test pattern: every 16-bit little-endian word of the drive
// holds the low 16 bits of its own word address, so word i of a block at LBA
// s is (s × 256 + i) mod 65536. It repeats every 256 sectors (128 KiB), so
// fill and compare copy from one precomputed table.
#include <cstdint>

namespace qk {

class RwPattern {
 public:
  static constexpr std::uint32_t kPeriodSectors = 256;

  static std::uint16_t word(std::uint32_t lba, std::uint32_t index) {
    return static_cast<std::uint16_t>(lba * 256u + index);
  }
  static void fill(std::uint8_t* buffer, std::uint32_t lba, std::uint32_t sectors);
  // Index of the first word that differs from the pattern, or -1.
  static std::int64_t firstMismatch(const std::uint8_t* buffer, std::uint32_t lba, std::uint32_t sectors);
};

}  // namespace qk
