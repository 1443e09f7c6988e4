#include "protocol/StandardCommands.h"

#include "platform/LittleEndian.h"

#include <array>
#include <cstring>

#include "transport/AtaPassThrough12.h"

namespace qk {

namespace {
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

// A1 08 0B D0 01 00 4F C2 00 B0 00 00, 512 bytes in
int StandardCommands::SmartReadData(const std::string& path, std::uint8_t* buffer) {
  if (onUsb(t_)) return 2;
  AtaPassThrough12 ata;
  ata.protocol = AtaProtocol::PioIn;
  ata.tDirIn = true;
  ata.tLength = 3;
  ata.features = 0xD0;
  ata.count = 1;
  ata.lbaMid = 0x4F;
  ata.lbaHigh = 0xC2;
  ata.command = 0xB0;
  auto cdb = ata.encode();
  return t_.SendCommand(path, true, cdb.data(), cdb.size(), buffer, 512) == 1 ? 1 : 2;
}

// A1 06 00 00 00 00 00 E0 00 E7 00 00, no data (E0 sits in byte 7 of this block)
int StandardCommands::FlushCache(const std::string& path) {
  if (onUsb(t_)) return 1;
  AtaPassThrough12 ata;
  ata.protocol = AtaProtocol::NonData;
  ata.lbaHigh = 0xE0;
  ata.command = 0xE7;
  auto cdb = ata.encode();
  return t_.SendCommand(path, false, cdb.data(), cdb.size(), nullptr, 0) == 1 ? 1 : 2;
}

namespace {
// 28 / 2A, 00, LBA (4, big-endian), 00, count (2, big-endian), 00 00 00: 12 bytes
std::array<std::uint8_t, 12> userDataCdb(std::uint8_t opcode, std::uint32_t lba, std::uint32_t sectors) {
  return {opcode, 0, static_cast<std::uint8_t>(lba >> 24), static_cast<std::uint8_t>(lba >> 16),
          static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba), 0,
          static_cast<std::uint8_t>(sectors >> 8), static_cast<std::uint8_t>(sectors), 0, 0, 0};
}

void putLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

int userData(DeviceTransport& t, const std::string& path, bool read, std::uint8_t* buffer, std::uint32_t sectors,
             std::uint32_t lba) {
  auto cdb = userDataCdb(read ? 0x28 : 0x2A, lba, sectors);
  const std::uint32_t length = sectors * 512;
  int r = onUsb(t) ? t.SendCommand(path, read, cdb.data(), cdb.size(), buffer, length, StatusRule::Strict)
                   : t.SendScsiCommand(path, read, cdb.data(), cdb.size(), buffer, length, StatusRule::Strict);
  if (r == 1) return 1;
  if (buffer && length >= 8) {
    putLe32(buffer, read ? 2 : 1);
    putLe32(buffer + 4, lba);
  }
  return 2;
}
}  // namespace

int StandardCommands::ReadUserSectors(const std::string& path, std::uint8_t* buffer, std::uint32_t sectors,
                                      std::uint32_t lba) {
  return userData(t_, path, true, buffer, sectors, lba);
}

int StandardCommands::WriteUserSectors(const std::string& path, std::uint8_t* buffer, std::uint32_t sectors,
                                       std::uint32_t lba) {
  return userData(t_, path, false, buffer, sectors, lba);
}

}  // namespace qk
