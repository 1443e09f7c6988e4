#pragma once
// What a port learns about its drive's loader area: the system blocks, the
// later-bad count and the values carried from the system-area pages into the
// firmware patches.
#include <array>
#include <cstdint>

namespace qk {

struct SystemBlockList {
  std::uint8_t count = 0;
  std::array<std::uint16_t, 4> blocks{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
};

// The firmware files as a loader header lists them.
struct FirmwareTable {
  std::uint8_t count = 0;  // 1 or 2; also the boot source of a USB drive
  std::array<std::uint16_t, 2> firstPage{};
  std::array<std::uint16_t, 2> pageCount{};
};

struct PortLoaderState {
  SystemBlockList systemBlocks;
  std::uint32_t laterBadCount = 0;
  // From the SYSP page: A + 1, B + 1 (or 1), A, B (or 0).
  std::uint16_t syspAPlus1 = 0;
  std::uint16_t syspBPlus1 = 0;
  std::uint16_t syspA = 0;
  std::uint16_t syspB = 0;
  std::uint8_t firmwareOption = 0;
  // First page of firmware file 0 from the last loader header built or read; 0 before.
  std::uint16_t firstFirmwarePage = 0;
  FirmwareTable firmware;
};

}  // namespace qk
