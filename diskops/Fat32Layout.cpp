#include "diskops/Fat32Layout.h"

#include "platform/LittleEndian.h"

#include <algorithm>
#include <cstring>

namespace qk {

namespace {

// Characters a FAT label may not hold; checkers reject such a volume.
bool forbiddenInLabel(unsigned char c) {
  return c < 0x20 || c >= 0x7F || std::strchr("\"*+,./:;<=>?[\\]|", c) != nullptr;
}

}  // namespace

std::string SanitizeVolumeLabel(const std::string& label) {
  // A label may not start with a blank either; those are dropped.
  const std::size_t first = label.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  std::string out = label.substr(first, 11);
  for (char& c : out) {
    if (forbiddenInLabel(static_cast<unsigned char>(c))) c = '_';
  }
  return out;
}

std::uint64_t FatEntriesNeeded(const Fat32Layout& l) { return l.clusterCount + 2; }

bool Fat32LayoutConsistent(const Fat32Layout& l) {
  if (l.bytesPerSector == 0 || l.sectorsPerCluster == 0 || l.clusterCount == 0) return false;
  if (l.totalSectors >= 0xFFFFFFFFull || l.clusterCount >= 0x0FFFFFF5) return false;
  return std::uint64_t{l.fatSectors} * l.bytesPerSector / 4 >= FatEntriesNeeded(l);
}

std::uint32_t SectorsPerCluster(std::uint64_t diskBytes, std::uint32_t bps) {
  if (bps == 0) return 0;
  const std::uint64_t mib = diskBytes / 1048576;
  std::uint32_t bytes;
  if (mib > 32768) bytes = 32768;
  else if (mib > 16384) bytes = 16384;
  else if (mib > 8192) bytes = 8192;
  else if (mib > 512) bytes = 4096;
  else return 1;
  return bytes / bps ? bytes / bps : 1;
}

std::uint32_t FatSizeSectors(std::uint64_t totalSectors, std::uint32_t spc, std::uint32_t bps) {
  if (totalSectors <= kFatReservedSectors) return 1;
  const std::uint64_t numerator = 4 * (totalSectors - kFatReservedSectors);
  const std::uint64_t denominator = std::uint64_t{spc} * bps + 4 * kFatCount;
  return static_cast<std::uint32_t>(numerator / denominator + 1);
}

std::uint32_t VolumeIdFromTime(const LocalTime& t) {
  const std::uint32_t hi = static_cast<std::uint32_t>(t.hour * 256 + t.minute + t.year) & 0xFFFF;
  const std::uint32_t lo =
      static_cast<std::uint32_t>(t.month * 256 + t.day + t.second * 256 + t.millisecond / 10) & 0xFFFF;
  return hi << 16 | lo;
}

Fat32Layout ComputeFat32Layout(std::uint64_t diskBytes, std::uint64_t totalSectors, std::uint32_t bps,
                               std::uint32_t spt, std::uint32_t heads, std::uint32_t volumeId,
                               const std::string& label) {
  Fat32Layout l;
  l.bytesPerSector = bps;
  l.sectorsPerTrack = spt;
  l.heads = heads;
  l.diskBytes = diskBytes;
  l.totalSectors = totalSectors;
  l.volumeId = volumeId;
  l.label = SanitizeVolumeLabel(label);  // blanks alone name nothing: empty
  l.sectorsPerCluster = SectorsPerCluster(diskBytes, bps);
  if (l.sectorsPerCluster == 0) return l;
  l.fatSectors = FatSizeSectors(totalSectors, l.sectorsPerCluster, bps);
  // The estimate can fall one sector short; grow the FAT until it holds an
  // entry for every cluster plus the two reserved ones. Each step only frees
  // clusters, so this ends after a sector or two.
  for (;;) {
    const std::uint64_t meta = kFatReservedSectors + std::uint64_t{kFatCount} * l.fatSectors;
    l.dataSectors = totalSectors > meta ? totalSectors - meta : 0;
    l.clusterCount = l.dataSectors / l.sectorsPerCluster;
    if (std::uint64_t{l.fatSectors} * bps / 4 >= FatEntriesNeeded(l) || l.dataSectors == 0) break;
    ++l.fatSectors;
  }
  return l;
}

// FAT32 boot sector (little-endian):
// 0   3  EB 5A 90            3   8  "MSWIN4.1"
// 11  2  bytes per sector    13  1  sectors per cluster
// 14  2  reserved = 32       16  1  FATs = 2
// 17  2  root entries = 0    19  2  16-bit total = 0
// 21  1  media F8            22  2  16-bit FAT size = 0
// 24  2  sectors per track   26  2  heads
// 28  4  hidden = 63         32  4  total sectors of the volume
// 36  4  FAT size            40  2  flags = 0      42 2 version = 0
// 44  4  root cluster = 2    48  2  FSInfo = 1     50 2 backup boot = 6
// 64  1  drive 80            66  1  signature 29
// 67  4  volume ID           71 11  label, blank-padded
// 82  8  "FAT32   "          510 2  55 AA
Sector EncodeBootSector(const Fat32Layout& l) {
  Sector s{};
  std::uint8_t* b = s.data();
  b[0] = 0xEB;
  b[1] = 0x5A;
  b[2] = 0x90;
  std::memcpy(b + 3, "MSWIN4.1", 8);
  put16(b + 11, l.bytesPerSector);
  b[13] = static_cast<std::uint8_t>(l.sectorsPerCluster);
  put16(b + 14, kFatReservedSectors);
  b[16] = kFatCount;
  b[21] = 0xF8;
  put16(b + 24, l.sectorsPerTrack);
  put16(b + 26, l.heads);
  put32(b + 28, kVolumeStartSector);
  put32(b + 32, static_cast<std::uint32_t>(l.totalSectors));
  put32(b + 36, l.fatSectors);
  put32(b + 44, 2);
  put16(b + 48, 1);
  put16(b + 50, 6);
  b[64] = 0x80;
  b[66] = 0x29;
  put32(b + 67, l.volumeId);
  // Blank-padded like the root directory's label entry: zero padding makes
  // the two labels differ and file-system checks rewrite one of them.
  // Without a label the customary "NO NAME" stands there.
  std::memset(b + 71, ' ', 11);
  if (l.label.empty()) std::memcpy(b + 71, "NO NAME", 7);
  std::memcpy(b + 71, l.label.data(), std::min<std::size_t>(l.label.size(), 11));
  std::memcpy(b + 82, "FAT32   ", 8);
  b[510] = 0x55;
  b[511] = 0xAA;
  return s;
}

// FSInfo: 0 lead signature 41615252, 484 structure signature 61417272,
// 488 free clusters, 492 next free = 3, 508 trail signature AA550000
Sector EncodeFsInfo(const Fat32Layout& l) {
  Sector s{};
  put32(s.data(), 0x41615252);
  put32(s.data() + 484, 0x61417272);
  put32(s.data() + 488, static_cast<std::uint32_t>(l.freeClusters()));
  put32(s.data() + 492, 3);
  put32(s.data() + 508, 0xAA550000);
  return s;
}

// Entries 0 and 1 reserved, entry 2 (the root directory) ends at once.
Sector EncodeFirstFatSector() {
  Sector s{};
  put32(s.data(), 0x0FFFFFF8);
  put32(s.data() + 4, 0x0FFFFFFF);
  put32(s.data() + 8, 0x0FFFFFFF);
  return s;
}

std::array<std::uint8_t, 32> EncodeLabelEntry(const std::string& label) {
  std::array<std::uint8_t, 32> e{};
  std::memset(e.data(), ' ', 11);
  std::memcpy(e.data(), label.data(), std::min<std::size_t>(label.size(), 11));
  e[11] = 0x08;
  return e;
}

}  // namespace qk
