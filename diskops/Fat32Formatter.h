#pragma once
// An empty FAT32 volume written as raw sectors at sector 63, sized from the
// partition that holds it.
#include <cstdint>
#include <string>

#include "diskops/DiskJob.h"
#include "diskops/Fat32Layout.h"

namespace qk {

// Formats with the label's first 11 characters. `layout` (optional) receives
// what was written. False on any failure; the reasons go to the debug output.
bool FormatFat32(DiskJob& job, const std::string& label, Fat32Layout* layout = nullptr);

// Writes `count` zero sectors from `first` in bursts of 128, reading each
// burst back; false when a write or read fails, a byte is not zero, or count is 0.
bool ZeroSectors(DiskJob& job, std::uint64_t first, std::uint32_t bytesPerSector, std::uint64_t count);

}  // namespace qk
