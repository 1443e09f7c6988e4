#pragma once
// The flash chips fitted to a simulated drive, looked up by unique name in a
// flash list, and the geometry their ID word encodes. The drive decodes the
// ID word itself: it knows its chips, not the station's tables.
#include <array>
#include <cstdint>
#include <string>

namespace qk::sim {

struct FlashType {
  std::string name;
  std::uint16_t idWord = 0;
  std::uint8_t cePerPackage = 1;
  std::uint8_t eccMode = 0;
  std::array<std::uint8_t, 5> idBytes{};
  bool twoPlane = false;
  bool column12 = false;
  std::uint16_t altBlockCount = 0;

  // ID word: bits 0-2 page size, 3-5 pages per block, 6-8 blocks per chip
  // enable, 9-10 dies, 12-15 family.
  std::uint32_t pageSectors() const;
  std::uint32_t pagesPerBlock() const;  // physical, not halved for two-plane
  std::uint32_t blocksPerCe() const;
  std::uint32_t dies() const { return 1u << ((idWord >> 9) & 3); }
  std::uint32_t family() const { return idWord >> 12; }
  std::uint32_t pageBytes() const { return pageSectors() * 512; }
  // Chip-enable number of slot n: packages of cePerPackage enables, 4 apart.
  std::uint8_t ceNumber(int slot) const;
  // Slot of a chip-enable number, or -1.
  int slotOf(std::uint8_t ce, int slots) const;
};

std::uint32_t DecodePageSectors(std::uint16_t idWord);
std::uint32_t DecodePagesPerBlock(std::uint16_t idWord);
std::uint32_t DecodeBlocksPerCe(std::uint16_t idWord);

// Finds `name` in a flash list (INI text); when it is missing, the list's
// first type. False only when the list holds no usable type.
bool FindFlashType(const std::string& flashList, const std::string& name, FlashType& out);

}  // namespace qk::sim
