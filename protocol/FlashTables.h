#pragma once
// The drive's defect tables in flash: fetched into and put back from text
// files, checked, and counted.
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "protocol/ControllerOps.h"
#include "protocol/TableFile.h"

namespace qk {

// Byte 0 of the work buffer after a failed CheckTables.
inline constexpr std::uint8_t kCheckFactoryPage = 1;
inline constexpr std::uint8_t kCheckLaterPage = 2;
inline constexpr std::uint8_t kCheckRemapPage = 3;

// The bad-block statistics: 32 rows (channel + chip-enable group x channels)
// of five 32-bit counters, and the five column totals.
inline constexpr std::size_t kBadBlockRows = 32;
inline constexpr std::size_t kBadBlockColumns = 5;
inline constexpr std::size_t kBadBlockRowBytes = kBadBlockRows * kBadBlockColumns * 4;  // 640

TableShape TableShapeOf(const GlobalParameter& gp);

// buffer: the port's 64 KiB work buffer. The port's system blocks must be known.
bool GetDefectTable(ControllerOps& ops, std::uint8_t* buffer, const std::string& path, int firmwareType);
bool PutDefectTable(ControllerOps& ops, std::uint8_t* buffer, const std::string& path, int firmwareType);
// Without a file name the SYSP page is still read and checked.
bool GetLaterTable(ControllerOps& ops, std::uint8_t* buffer, const std::string& path, int firmwareType);
bool PutLaterTable(ControllerOps& ops, std::uint8_t* buffer, const std::string& path);

// The "Check Tables" step; on failure byte 0 of work is 1, 2 or 3 (which page).
bool CheckTables(ControllerOps& ops, std::uint8_t* work);
// rows: at least 640 bytes (little-endian counters), totals: the column sums.
bool CountBadBlocks(ControllerOps& ops, std::uint8_t* work, std::span<std::uint8_t> rows,
                    std::array<std::uint32_t, 5>& totals);

}  // namespace qk
