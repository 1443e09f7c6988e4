#pragma once
// The loader block header (page 0 of every system block): built by the
// download, read back to learn a drive's geometry and firmware layout.
#include <cstdint>
#include <span>
#include <vector>

#include "config/GlobalParameter.h"
#include "protocol/ControllerOps.h"
#include "protocol/PortLoaderState.h"

namespace qk {

inline constexpr char kLoaderBlocksTag[16] = "LDBK BLOCKS V30";
inline constexpr char kLoaderConfigTag[16] = "LDBK CONFIG V30";
inline constexpr std::uint16_t kFirstFirmwarePage = 8;
inline constexpr std::uint32_t kFirmwareSeal = 0x31ECAA55;

// Pages per block as the header records them, from bits 3..5 of the ID word.
std::uint16_t HeaderBlockPages(std::uint16_t flashIdWord);

// Lays the header into `page` (one page; bytes the header does not list keep
// what the buffer holds) with channel index 0.
void BuildLoaderHeaderPage(std::span<std::uint8_t> page, const GlobalParameter& gp, const SystemBlockList& blocks,
                           std::uint16_t sequence, const FirmwareTable& firmware);

// Takes what a header page says into the port and its parameter block: the
// system blocks, page size, part number, the flash parameter record and the
// firmware table. False when the page is not a header.
bool ApplyLoaderHeader(std::span<const std::uint8_t> page, GlobalParameter& gp, PortLoaderState& port);

// Finds the header on the drive (blocks 0..3), refills the port's parameter
// block, system blocks and firmware table, takes the firmware parameters from
// the first patched firmware page, and leaves the first page of the firmware
// file that carries this path's identity in `buffer` (64 KiB).
bool ReadLoaderHeader(ControllerOps& ops, std::uint8_t* buffer, bool sataPath);

}  // namespace qk
