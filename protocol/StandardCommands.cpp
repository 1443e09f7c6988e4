#include "protocol/StandardCommands.h"

#include <cstring>

#include "transport/AtaPassThrough12.h"

namespace qk {

namespace {
std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
bool onUsb(const DeviceTransport& t) { return t.state().transportPath() == TransportPath::UsbPath; }
}  // namespace

// A1 08 0B 00 01 00 00 00 E0 EC 00 00 (PIO data-in, one block), 512 bytes in
int StandardCommands::IdentifyDevice(const std::string& path, std::uint8_t* buffer) {
  if (onUsb(t_)) return 2;
  AtaPassThrough12 ata;
  ata.protocol = AtaProtocol::PioIn;
  ata.tDirIn = true;
  ata.tLength = 3;
  ata.count = 1;
  ata.device = 0xE0;
  ata.command = 0xEC;
  auto cdb = ata.encode();
  return t_.SendCommand(path, true, cdb.data(), cdb.size(), buffer, 512) == 1 ? 1 : 2;
}

// A1 06 00 DC C 00 00 00 E0 EF 00 00, C = 4A on / 4D off, no data
int StandardCommands::SetBridgeMode(const std::string& path, bool on) {
  if (onUsb(t_)) return 1;
  AtaPassThrough12 ata;
  ata.protocol = AtaProtocol::NonData;
  ata.features = 0xDC;
  ata.count = on ? 0x4A : 0x4D;
  ata.device = 0xE0;
  ata.command = 0xEF;
  auto cdb = ata.encode();
  return t_.SendCommand(path, false, cdb.data(), cdb.size(), nullptr, 0) == 1 ? 1 : 2;
}

std::uint32_t StandardCommands::ReadCapacitySectors(const std::string& path) {
  std::uint8_t data[512] = {};
  if (!onUsb(t_)) {
    if (IdentifyDevice(path, data) != 1) return 0;
    std::uint32_t lba28 = le32(data + 120);  // words 60..61
    if (lba28 != 0x0FFFFFFF) return lba28;
    std::uint32_t lba48 = le32(data + 200);  // low half of words 100..103
    return lba48 != 0xFFFFFFFF ? lba48 : 0;
  }
  // READ CAPACITY(10), 12-byte block 25 00 ...: the reply holds the address of
  // the last sector; callers want a count, so add one.
  std::uint8_t cdb[12] = {0x25};
  std::uint32_t moved = 0;
  if (t_.ScsiDataIn(path, cdb, sizeof cdb, data, sizeof data, &moved, t_.shortReadTimeout()) != 1) return 0;
  if (moved < 8) return 0;  // no capacity data came back
  std::uint32_t last = static_cast<std::uint32_t>(data[0]) << 24 | static_cast<std::uint32_t>(data[1]) << 16 |
                       static_cast<std::uint32_t>(data[2]) << 8 | data[3];
  // 0xFFFFFFFF means "too large for this command"; keep it rather than wrap to 0.
  return last == 0xFFFFFFFF ? last : last + 1;
}

}  // namespace qk
