#include "diskops/RwFailureRecord.h"

#include <cstdio>

namespace qk {

namespace {
void put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::string format(const char* f, unsigned a, unsigned b = 0) {
  char text[96];
  std::snprintf(text, sizeof text, f, a, b);
  return text;
}
}  // namespace

void RwFailureRecord::store(std::uint8_t* b) const {
  put32(b, kind);
  put32(b + 4, lba);
  put32(b + 8, expected);
  put32(b + 12, received);
  put32(b + 16, index);
}

RwFailureRecord RwFailureRecord::load(const std::uint8_t* b) {
  return {le32(b), le32(b + 4), le32(b + 8), le32(b + 12), le32(b + 16)};
}

// LBAs are unsigned: a drive past 2^31 sectors must not show negative addresses.
std::vector<std::string> RwFailureRecord::describe() const {
  switch (kind) {
    case WriteFailed:
      return {format("Write fail on LBA(%u)", lba)};
    case ReadFailed:
      return {format("Read fail on LBA(%u)", lba)};
    case DataDiffer:
      return {format("Comapre fail on LBA(%u), offset(%u)", lba, index), format("expected(0x%X)", expected),
              format("received(0x%X)", received)};
    default:
      return {};
  }
}

}  // namespace qk
