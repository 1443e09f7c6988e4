#include "sim/Firmware.h"

#include <algorithm>

#include "sim/FlashType.h"
#include "sim/StreamIo.h"

namespace qk::sim {

// Flash parameter record fields read here:
// +0x00 ID word   +0x02 flags (0x02 two-plane, 0x20 column-12)
// +0x03 channels  +0x04 banks  +0x08 reserved ratio low  +0x1A its high byte
std::uint64_t UsableLbaCount(const std::uint8_t* r) {
  const std::uint16_t idWord = le16(r);
  const std::uint64_t pageSectors = DecodePageSectors(idWord);
  std::uint64_t pages = DecodePagesPerBlock(idWord);
  if (r[2] & 0x02) pages /= 2;
  if (pages == 256) pages = 255;
  const std::uint64_t half = DecodeBlocksPerCe(idWord) / 2;
  const std::uint64_t ratio = r[8] | static_cast<std::uint64_t>(r[0x1A]) << 8;
  const std::uint64_t channels = r[3], banks = r[4];
  const std::uint64_t reserved = half * ratio / 1000;
  if (reserved >= half) return 0;
  std::uint64_t t = (half - reserved) * (2 * channels) * banks * pages * pageSectors;
  const std::uint64_t cut = channels * pageSectors * 10;
  if (t < cut + 21168) return 0;
  t -= cut;
  const std::uint64_t g = ((t - 21168) / 1953504) & 0xFFFF;
  return g * 1953504 + 21168;
}

FirmwareInfo BootFirmware(const std::vector<std::vector<std::uint8_t>>& firstPages, bool nativeUsb) {
  FirmwareInfo info;
  for (const auto& p : firstPages) {
    if (p[0x30D] == 'S' && info.sataPage.empty()) info.sataPage = p;
    if (p[0x30D] == 'U' && info.usbPage.empty()) info.usbPage = p;
  }
  const auto& own = nativeUsb ? info.usbPage : info.sataPage;
  info.page = own.empty() ? firstPages.front() : own;
  const std::uint8_t* record = info.page.data() + 0x500;
  info.capacity = static_cast<std::uint32_t>(std::min<std::uint64_t>(UsableLbaCount(record), 0xFFFFFFFFu));
  info.groupedBlocks = (le16(record) >> 12) == 2 && (record[2] & 0x20) == 0;
  return info;
}

}  // namespace qk::sim
