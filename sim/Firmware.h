#pragma once
// What a booted firmware answers with: the identity the download patched into
// its first page and the capacity its flash parameters give.
#include <cstdint>
#include <vector>

namespace qk::sim {

// Usable LBA count of a flash parameter record (the 40 bytes at 0x500 of a
// firmware page): the reserved blocks taken off, cut down to an IDEMA size.
std::uint64_t UsableLbaCount(const std::uint8_t* record);

struct FirmwareInfo {
  std::vector<std::uint8_t> page;       // first page of the file it runs
  std::vector<std::uint8_t> sataPage;   // first page with identity form 'S', if any
  std::vector<std::uint8_t> usbPage;    // ... form 'U'
  std::uint32_t capacity = 0;
  bool groupedBlocks = false;           // family 2 without the column-12 flag
};

// Picks the file for the path (native USB: 'U', bridge: 'S', else the first).
FirmwareInfo BootFirmware(const std::vector<std::vector<std::uint8_t>>& firstPages, bool nativeUsb);

}  // namespace qk::sim
