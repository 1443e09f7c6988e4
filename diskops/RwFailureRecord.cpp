#include "diskops/RwFailureRecord.h"

#include "platform/LittleEndian.h"

#include <cstdio>

namespace qk {

namespace {
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
