#include "diskops/RwPattern.h"

#include <cstring>
#include <vector>

namespace qk {

namespace {

constexpr std::uint32_t kWindowSectors = 128;  // the longest piece taken from the table at once
constexpr std::size_t kSector = 512;

// The pattern of LBA 0 over one period plus one window, so any start in the
// period has a window of contiguous pattern behind it.
const std::uint8_t* table() {
  static const std::vector<std::uint8_t> t = [] {
    std::vector<std::uint8_t> v((RwPattern::kPeriodSectors + kWindowSectors) * kSector);
    for (std::size_t i = 0; i < v.size() / 2; ++i) {
      v[2 * i] = static_cast<std::uint8_t>(i);
      v[2 * i + 1] = static_cast<std::uint8_t>(i >> 8);
    }
    return v;
  }();
  return t.data();
}

}  // namespace

void RwPattern::fill(std::uint8_t* buffer, std::uint32_t lba, std::uint32_t sectors) {
  const std::uint8_t* t = table();
  while (sectors > 0) {
    const std::uint32_t n = sectors < kWindowSectors ? sectors : kWindowSectors;
    std::memcpy(buffer, t + (lba % kPeriodSectors) * kSector, n * kSector);
    buffer += n * kSector;
    lba += n;
    sectors -= n;
  }
}

std::int64_t RwPattern::firstMismatch(const std::uint8_t* buffer, std::uint32_t lba, std::uint32_t sectors) {
  const std::uint8_t* t = table();
  std::int64_t base = 0;  // words before the current piece
  while (sectors > 0) {
    const std::uint32_t n = sectors < kWindowSectors ? sectors : kWindowSectors;
    const std::uint8_t* want = t + (lba % kPeriodSectors) * kSector;
    if (std::memcmp(buffer, want, n * kSector) != 0) {
      for (std::size_t w = 0; w < n * kSector / 2; ++w) {
        if (buffer[2 * w] != want[2 * w] || buffer[2 * w + 1] != want[2 * w + 1]) {
          return base + static_cast<std::int64_t>(w);
        }
      }
    }
    buffer += n * kSector;
    base += n * kSector / 2;
    lba += n;
    sectors -= n;
  }
  return -1;
}

}  // namespace qk
