#pragma once
// What preformat leaves on the flash: the system area on the four system
// blocks and the per-bank later-table pages.
#include <array>
#include <cstdint>
#include <vector>

#include "sim/FlashArray.h"

namespace qk::sim {

inline constexpr std::uint8_t kFactoryTag[4] = {0xE9, 0x86, 0xAA, 0x55};
inline constexpr std::uint8_t kLaterTag[4] = {0x45, 0x79, 0xAA, 0x55};
inline constexpr std::uint8_t kRemapTag[4] = {0x9E, 0x68, 0x55, 0xAA};
inline constexpr std::uint8_t kBankLaterTag[4] = {0xE8, 0xDC, 0x55, 0xAA};

// The first four blocks from 0 that are good on every channel of slot 0;
// fewer when the flash has not that many.
std::vector<std::uint16_t> FindSystemBlocks(const FlashArray& flash);

struct SystemAreaLayout {
  std::vector<std::uint16_t> systemBlocks;  // four
  bool remap = false;
  std::uint32_t dies = 1;
  std::uint16_t altBlockCount = 0;
};

// Erases every good block, then writes the system area. Returns values A and
// B of the SYSP page.
std::array<std::uint16_t, 2> WriteSystemArea(FlashArray& flash, const SystemAreaLayout& layout);

// Page 1 of the first system block carries the factory table signature.
bool HasFactoryTable(const FlashArray& flash, const std::vector<std::uint16_t>& systemBlocks);

}  // namespace qk::sim
