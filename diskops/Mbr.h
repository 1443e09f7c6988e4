#pragma once
// The master boot record the station writes: one FAT32 partition at sector 63.
#include <cstdint>

#include "diskops/Fat32Layout.h"
#include "platform/Volumes.h"

namespace qk {

enum class MbrVariant {
  Modern,  // signature 0, no boot code; length from the capacity in whole cylinders
  Legacy,  // the template with boot code and signature B1732E49; length from the geometry's cylinders
};

constexpr std::uint8_t kPartitionTypeFat32Chs = 0x0B;
constexpr std::uint32_t kLegacyDiskSignature = 0xB1732E49;

// Partition length in sectors: whole cylinders less the 63-sector offset; 0
// when the disk holds less than one cylinder (or nothing is known of it).
std::uint64_t PartitionSectors(MbrVariant variant, std::uint64_t capacitySectors, const DiskGeometry& g);

// The whole sector 0 with the partition entry filled in.
Sector EncodeMbr(MbrVariant variant, std::uint32_t lengthSectors, const DiskGeometry& g);

// The first partition entry of a sector 0: start and length, false when
// the sector holds no partition table or the entry is empty.
bool ReadFirstPartition(const std::uint8_t* sector0, std::uint32_t& start, std::uint32_t& length);

// Boot code of the legacy template (tools/mbr_boot.S), 440 bytes at most.
extern const std::uint8_t kLegacyBootCode[];
extern const std::size_t kLegacyBootCodeSize;

}  // namespace qk
