#include "transport/AtaPassThrough12.h"

namespace qk {

// byte 0      A1
// byte 1      protocol << 1
// byte 2      t_dir << 3 | byt_blok << 2 | t_length
// byte 3      features
// byte 4      count
// bytes 5..7  LBA low, mid, high
// byte 8      device
// byte 9      command
// bytes 10,11 0
std::array<std::uint8_t, 12> AtaPassThrough12::encode() const {
  std::array<std::uint8_t, 12> cdb{};
  cdb[0] = 0xA1;
  cdb[1] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(protocol) << 1);
  cdb[2] = static_cast<std::uint8_t>((tDirIn ? 0x08 : 0) | (byteBlock ? 0x04 : 0) | (tLength & 0x03));
  cdb[3] = features;
  cdb[4] = count;
  cdb[5] = lbaLow;
  cdb[6] = lbaMid;
  cdb[7] = lbaHigh;
  cdb[8] = device;
  cdb[9] = command;
  return cdb;
}

}  // namespace qk
