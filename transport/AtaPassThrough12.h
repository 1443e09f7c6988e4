#pragma once
// ATA PASS-THROUGH(12) command blocks, built from named fields.
#include <array>
#include <cstdint>

namespace qk {

enum class AtaProtocol : std::uint8_t {
  NonData = 3,
  PioIn = 4,
  PioOut = 5,
  UdmaIn = 10,
  UdmaOut = 11,
};

struct AtaPassThrough12 {
  AtaProtocol protocol = AtaProtocol::NonData;
  bool tDirIn = false;       // transfer direction: from the device
  bool byteBlock = false;    // length counted in bytes (false: in blocks)
  std::uint8_t tLength = 0;  // where the length is: 0 none, 1 features, 2 count, 3 STPSIU
  std::uint8_t features = 0;
  std::uint8_t count = 0;
  std::uint8_t lbaLow = 0, lbaMid = 0, lbaHigh = 0;
  std::uint8_t device = 0;
  std::uint8_t command = 0;

  std::array<std::uint8_t, 12> encode() const;
};

}  // namespace qk
