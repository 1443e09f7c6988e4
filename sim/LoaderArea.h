#pragma once
// The loader area a download leaves in the system blocks, as the boot ROM
// reads it back: the header page, its firmware table and the firmware files.
#include <cstdint>
#include <string>
#include <vector>

#include "sim/FlashArray.h"

namespace qk::sim {

inline constexpr char kLoaderMagic[] = "LDBK BLOCKS V30";   // 15 characters and a zero byte
inline constexpr char kConfigMagic[] = "LDBK CONFIG V30";
inline constexpr std::uint32_t kFileEndMark = 0x31ECAA55;

struct LoaderFile {
  std::uint16_t firstPage = 0;
  std::uint16_t pageCount = 0;
};

struct LoaderArea {
  std::uint32_t block = 0;            // loader block holding the header
  std::vector<std::uint8_t> header;   // page 0, channel 0
  std::uint16_t sequence = 0;         // write sequence number (0x210)
  std::vector<std::uint16_t> systemBlocks;
  std::vector<LoaderFile> files;
  // First page of each file, when the area is bootable.
  std::vector<std::vector<std::uint8_t>> firstPages;
};

// Looks at page 0 of blocks 0..3 (slot 0, channel 0) for the header magic.
// False when no block carries it. `area.header` and the header fields are
// filled either way when found.
bool FindLoaderHeader(const FlashArray& flash, LoaderArea& area);
// Whether the ROM would boot from it; `why` says what is wrong.
bool ValidateLoaderArea(const FlashArray& flash, std::uint32_t pageSectors, LoaderArea& area, std::string& why);

}  // namespace qk::sim
