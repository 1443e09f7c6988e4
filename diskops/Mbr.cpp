#include "diskops/Mbr.h"

#include "platform/LittleEndian.h"

#include <cstring>

namespace qk {

namespace {

// CHS address: head; sector (bits 0..5) with cylinder bits 8..9 on top; cylinder bits 0..7.
// Beyond cylinder 1023 the customary "too far" value is written.
void putChs(std::uint8_t* p, std::uint64_t lba, const DiskGeometry& g) {
  const std::uint64_t perCyl = std::uint64_t{g.heads} * g.sectorsPerTrack;
  std::uint64_t c = perCyl ? lba / perCyl : 1024;
  std::uint32_t h = 0, s = 1;
  if (c > 1023 || g.sectorsPerTrack == 0) {
    c = 1023;
    h = 254;
    s = 63;
  } else {
    h = static_cast<std::uint32_t>((lba / g.sectorsPerTrack) % g.heads);
    s = static_cast<std::uint32_t>(lba % g.sectorsPerTrack) + 1;
  }
  p[0] = static_cast<std::uint8_t>(h);
  p[1] = static_cast<std::uint8_t>((s & 0x3F) | ((c >> 2) & 0xC0));
  p[2] = static_cast<std::uint8_t>(c);
}
}  // namespace

std::uint64_t PartitionSectors(MbrVariant variant, std::uint64_t capacitySectors, const DiskGeometry& g) {
  const std::uint64_t perCyl = std::uint64_t{g.heads} * g.sectorsPerTrack;
  if (perCyl == 0 || g.bytesPerSector == 0) return 0;
  const std::uint64_t cylinders = variant == MbrVariant::Modern ? capacitySectors / perCyl : g.cylinders;
  // Lengths are bytes in the layout; here counted in the drive's sectors.
  const std::uint64_t bytes = cylinders * perCyl * g.bytesPerSector;
  const std::uint64_t offset = std::uint64_t{kVolumeStartSector} * 512;
  if (bytes <= offset) return 0;
  return (bytes - offset) / g.bytesPerSector;
}

// Sector 0:
// 0..439    boot code (legacy template only)
// 440       disk signature, 32 bits (legacy: B1732E49, modern: 0)
// 446..461  entry 1: 00 (not bootable), CHS first, type 0B, CHS last, LBA 63, length
// 462..509  entries 2..4 empty
// 510       55 AA
Sector EncodeMbr(MbrVariant variant, std::uint32_t length, const DiskGeometry& g) {
  Sector s{};
  std::uint8_t* b = s.data();
  if (variant == MbrVariant::Legacy) {
    std::memcpy(b, kLegacyBootCode, kLegacyBootCodeSize);
    put32(b + 0x1B8, kLegacyDiskSignature);
  }
  std::uint8_t* e = b + 0x1BE;
  e[0] = 0x00;
  putChs(e + 1, kVolumeStartSector, g);
  e[4] = kPartitionTypeFat32Chs;
  putChs(e + 5, std::uint64_t{kVolumeStartSector} + length - 1, g);
  put32(e + 8, kVolumeStartSector);
  put32(e + 12, length);
  b[510] = 0x55;
  b[511] = 0xAA;
  return s;
}

bool ReadFirstPartition(const std::uint8_t* sector0, std::uint32_t& start, std::uint32_t& length) {
  if (sector0[510] != 0x55 || sector0[511] != 0xAA) return false;
  const std::uint8_t* e = sector0 + 0x1BE;
  if (e[4] == 0) return false;
  start = le32(e + 8);
  length = le32(e + 12);
  return length != 0;
}

}  // namespace qk
