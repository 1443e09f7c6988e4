#pragma once
// Little-endian fields of flash pages, records, partition tables and file
// systems: one set of readers and writers for all of them.
#include <cstddef>
#include <cstdint>
#include <span>

namespace qk {

inline std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

inline std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void put16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v) { put16(b.data() + at, v); }
inline void put32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) { put32(b.data() + at, v); }

}  // namespace qk
