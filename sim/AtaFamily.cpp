#include "sim/AtaFamily.h"

#include <algorithm>
#include <cstring>

namespace qk::sim {

namespace {
constexpr std::uint8_t kAtaPassThrough12 = 0xA1;
constexpr std::uint8_t kIdentifyDevice = 0xEC;
constexpr std::uint8_t kSetFeatures = 0xEF;
constexpr std::uint8_t kSmart = 0xB0;
constexpr std::uint8_t kFlushCache = 0xE7;

SimReply ataAbort() { return SimReply::ataAbort(); }

void putWord(std::uint8_t* d, int word, std::uint16_t v) {
  d[word * 2] = static_cast<std::uint8_t>(v);
  d[word * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
}

// ATA strings: space padded, the two bytes of every word swapped.
void putAtaText(std::uint8_t* d, int firstWord, int words, const std::string& text) {
  std::string t = text.substr(0, static_cast<size_t>(words) * 2);
  t.resize(static_cast<size_t>(words) * 2, ' ');
  for (int i = 0; i < words; ++i) {
    d[(firstWord + i) * 2] = static_cast<std::uint8_t>(t[static_cast<size_t>(i) * 2 + 1]);
    d[(firstWord + i) * 2 + 1] = static_cast<std::uint8_t>(t[static_cast<size_t>(i) * 2]);
  }
}

// Last byte makes the sector's byte sum 0.
void sealChecksum(std::uint8_t* d) {
  std::uint8_t sum = 0;
  for (int i = 0; i < 511; ++i) sum = static_cast<std::uint8_t>(sum + d[i]);
  d[511] = static_cast<std::uint8_t>(0x100 - sum);
}

SimReply giveSector(const SimCommand& c, const std::uint8_t* sector) {
  if (c.direction != DataDirection::In || c.data == nullptr || c.length < 512) return SimReply::invalidField();
  std::memcpy(c.data, sector, 512);
  return SimReply::good(512);
}
}  // namespace

bool AtaFamily::accepts(const SimDrive&, const SimCommand& c) const {
  if (c.cdb[0] != kAtaPassThrough12 || c.cdbLength < 12) return false;
  switch (c.cdb[9]) {
    case kIdentifyDevice: case kSetFeatures: case kSmart: case kFlushCache:
      return true;
    default:
      return false;
  }
}

// IDENTIFY DEVICE (words, little-endian):
// 0        0040 (fixed device)
// 10..19   serial number, 23..26 firmware revision, 27..46 model (ATA strings)
// 49       0200 (LBA supported)
// 60..61   addressable sectors, 28-bit (0FFFFFFF when the drive is larger)
// 83       bit 10: 48-bit addressing
// 100..103 addressable sectors, 48-bit
// 255      A5 signature, checksum in the high byte
void AtaFamily::identifyData(const SimDrive& drive, std::uint8_t* d) {
  std::memset(d, 0, 512);
  const DriveSpec& s = drive.spec();
  const FirmwareInfo* fw = drive.controller().firmware();
  const std::uint32_t sectors = drive.userData().sectors();
  if (fw && !fw->sataPage.empty()) {
    // The running firmware answers with the IDENTIFY data the download patched in.
    std::memcpy(d, fw->sataPage.data() + 0x4C, 512);
  } else {
    putWord(d, 0, 0x0040);
    putAtaText(d, 10, 10, s.usbSerial.empty() ? s.name : s.usbSerial);
    putAtaText(d, 23, 4, fw ? "FW 1.00" : "LDR 1.00");
    // Blank drives run the boot ROM, which reports itself as the loader device.
    putAtaText(d, 27, 20, fw ? "FCR SATA SSD" : "Generic FCR SATA Loader Loader Device");
    putWord(d, 49, 0x0200);
    putWord(d, 83, 0x0400);
  }
  const std::uint32_t lba28 = std::min<std::uint32_t>(sectors, 0x0FFFFFFF);
  putWord(d, 60, static_cast<std::uint16_t>(lba28));
  putWord(d, 61, static_cast<std::uint16_t>(lba28 >> 16));
  putWord(d, 100, static_cast<std::uint16_t>(sectors));
  putWord(d, 101, static_cast<std::uint16_t>(sectors >> 16));
  putWord(d, 102, 0);
  putWord(d, 103, 0);
  d[510] = 0xA5;
  sealChecksum(d);
}

SimReply AtaFamily::execute(SimDrive& drive, const SimCommand& c) {
  const std::uint8_t features = c.cdb[3], count = c.cdb[4];
  switch (c.cdb[9]) {
    case kIdentifyDevice: {
      std::uint8_t sector[512];
      identifyData(drive, sector);
      return giveSector(c, sector);
    }
    case kSetFeatures:
      // DC with 4A/4D switches the bridge mode; other subcommands are accepted as no-ops.
      if (features == 0xDC) {
        if (count == 0x4A) drive.bridgeMode = true;
        else if (count == 0x4D) drive.bridgeMode = false;
        else return ataAbort();
      }
      return SimReply::good(0);
    case kSmart: {
      if (features != 0xD0 || c.cdb[6] != 0x4F || c.cdb[7] != 0xC2) return ataAbort();
      // SMART data: 0..1 version, then 30 entries of 12 bytes from offset 2:
      // id, flags (2), current, worst, raw (6, little-endian), reserved.
      std::uint8_t sector[512] = {};
      sector[0] = 0x10;
      std::uint8_t* e = sector + 2;
      e[0] = 0x09;  // power-on hours
      e[1] = 0x32;
      e[3] = 100;
      e[4] = 100;
      e += 12;
      e[0] = 0xC2;  // temperature
      e[1] = 0x22;
      e[3] = static_cast<std::uint8_t>(100 - std::min(drive.spec().temperature, 100));
      e[4] = e[3];
      e[5] = static_cast<std::uint8_t>(drive.spec().temperature);
      sealChecksum(sector);
      return giveSector(c, sector);
    }
    case kFlushCache:
      ++drive.flushCount;
      return SimReply::good(0);
    default:
      return ataAbort();
  }
}

}  // namespace qk::sim
