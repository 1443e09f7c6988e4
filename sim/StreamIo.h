#pragma once
// Little-endian integers in the drive's state files and in byte buffers.
#include <cstdint>
#include <istream>
#include <ostream>

namespace qk::sim {

inline void putU32(std::ostream& o, std::uint32_t v) {
  char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
  o.write(b, 4);
}
inline void putU64(std::ostream& o, std::uint64_t v) {
  putU32(o, static_cast<std::uint32_t>(v));
  putU32(o, static_cast<std::uint32_t>(v >> 32));
}
inline bool getU32(std::istream& i, std::uint32_t& v) {
  unsigned char b[4];
  if (!i.read(reinterpret_cast<char*>(b), 4)) return false;
  v = b[0] | static_cast<std::uint32_t>(b[1]) << 8 | static_cast<std::uint32_t>(b[2]) << 16 |
      static_cast<std::uint32_t>(b[3]) << 24;
  return true;
}
inline bool getU64(std::istream& i, std::uint64_t& v) {
  std::uint32_t lo, hi;
  if (!getU32(i, lo) || !getU32(i, hi)) return false;
  v = lo | static_cast<std::uint64_t>(hi) << 32;
  return true;
}

inline std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16 |
         static_cast<std::uint32_t>(p[3]) << 24;
}
inline void setLe16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void setLe32(std::uint8_t* p, std::uint32_t v) {
  setLe16(p, v);
  setLe16(p + 2, v >> 16);
}
inline std::uint16_t be16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }
inline std::uint32_t be32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

}  // namespace qk::sim
