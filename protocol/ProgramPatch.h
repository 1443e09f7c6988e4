#pragma once
// The flash layout patched into RAM program images before every load and into
// the first page of each firmware file during a download, with the table
// memory size, the shift value and the block-number translations that go with
// the geometry.
#include <cstdint>
#include <span>
#include <string>

#include "config/GlobalParameter.h"
#include "protocol/PortLoaderState.h"

namespace qk {

inline constexpr std::size_t kProgramImageSize = 64512;  // 126 sectors
inline constexpr std::size_t kProgramTagOffset = 64;
inline constexpr std::size_t kCapacityRecordOffset = 0x548;
inline constexpr std::size_t kCapacityRecordSize = 48;
inline constexpr std::size_t kGeometryRecordOffset = 0x530;
inline constexpr std::size_t kGeometryRecordSize = 64;
inline constexpr std::size_t kPageTableOffset = 0x5A0;
inline constexpr std::size_t kPageTableSize = 256;

// Index of the lowest set bit; 0 for 0.
int LowBitIndex(std::uint32_t v);

// "GDP_" or "TST_" at offset 64.
bool IsTaggedProgramImage(std::span<const std::uint8_t> image);

// Table memory of the firmware for this layout, in whole 16 KiB units (a total
// that is already a multiple still takes one more unit).
std::uint32_t TableMemorySize(const GlobalParameter& gp, std::uint32_t laterBadCount);
// The shift value X of the geometry record.
std::uint8_t ShiftValue(const GlobalParameter& gp);

void WriteCapacityRecord(std::span<std::uint8_t> image, const GlobalParameter& gp, const PortLoaderState& port);
void WriteGeometryRecord(std::span<std::uint8_t> page, const GlobalParameter& gp, const PortLoaderState& port);
// Table 0..4 by TableSelect; any other value leaves the area as it is.
void WritePageTable(std::span<std::uint8_t> page, std::uint8_t tableSelect);

// A tagged image gets the RAM-program parameter record and the capacity
// record; an untagged one is left alone. True when patched.
bool PatchProgramImage(std::span<std::uint8_t> image, const GlobalParameter& gp, const PortLoaderState& port);
// A firmware page that carries "QKSS": parameter record, geometry record,
// page table and identity area in the given form.
void PatchFirmwarePage(std::span<std::uint8_t> page, const GlobalParameter& gp, const PortLoaderState& port,
                       IdentityForm form, const std::string& serial);

// Block numbers between the firmware's view and the loader's.
std::uint16_t ToLoaderBlock(const GlobalParameter& gp, std::uint16_t block);
std::uint16_t FromSystemBlock(const GlobalParameter& gp, std::uint16_t block);

}  // namespace qk
