#pragma once
// The sizes and the fixed sectors of a FAT32 volume at sector 63 of a disk.
#include <array>
#include <cstdint>
#include <string>

#include "platform/Clock.h"

namespace qk {

constexpr std::uint32_t kVolumeStartSector = 63;
constexpr std::uint32_t kFatReservedSectors = 32;
constexpr std::uint32_t kFatCount = 2;

struct Fat32Layout {
  std::uint32_t bytesPerSector = 512;
  std::uint32_t sectorsPerCluster = 0;
  std::uint32_t sectorsPerTrack = 63;
  std::uint32_t heads = 255;
  std::uint64_t diskBytes = 0;
  std::uint64_t totalSectors = 0;   // the volume: the partition's length
  std::uint32_t fatSectors = 0;
  std::uint64_t dataSectors = 0;
  std::uint64_t clusterCount = 0;
  std::uint32_t volumeId = 0;
  std::string label;                // at most 11 characters

  std::uint64_t rootDirSector() const { return kFatReservedSectors + std::uint64_t{kFatCount} * fatSectors; }
  std::uint64_t freeClusters() const { return clusterCount - 1; }
};

// Cluster size by disk size: up to 512 MiB 1 sector, to 8 GiB 4 KiB, to 16 GiB
// 8 KiB, to 32 GiB 16 KiB, above 32 KiB. 0 when bytesPerSector is 0.
std::uint32_t SectorsPerCluster(std::uint64_t diskBytes, std::uint32_t bytesPerSector);
// 4 × (total − reserved) / (cluster bytes + 8) + 1: room for every cluster's entry.
std::uint32_t FatSizeSectors(std::uint64_t totalSectors, std::uint32_t sectorsPerCluster,
                             std::uint32_t bytesPerSector);
// The label without leading blanks, cut to 11 characters, each character
// FAT forbids in a label (controls, non-ASCII, "*+,./:;<=>?[\]|) made '_'.
std::string SanitizeVolumeLabel(const std::string& label);
// FAT entries the volume needs: one per cluster and the two reserved ones.
std::uint64_t FatEntriesNeeded(const Fat32Layout& l);
// False when the volume could not be a valid FAT32 volume: no clusters, too
// many sectors or clusters, or a FAT too small for its clusters.
bool Fat32LayoutConsistent(const Fat32Layout& l);
// High half (hour × 256 + minute) + year, low half (month × 256 + day) + (second × 256 + ms / 10).
std::uint32_t VolumeIdFromTime(const LocalTime& t);

// Sizes for a volume of totalSectors on a disk of diskBytes; sectorsPerCluster
// stays 0 when the sector size is 0. The FAT starts from FatSizeSectors and
// grows until it holds every cluster's entry.
Fat32Layout ComputeFat32Layout(std::uint64_t diskBytes, std::uint64_t totalSectors, std::uint32_t bytesPerSector,
                               std::uint32_t sectorsPerTrack, std::uint32_t heads, std::uint32_t volumeId,
                               const std::string& label);

using Sector = std::array<std::uint8_t, 512>;
Sector EncodeBootSector(const Fat32Layout& l);
Sector EncodeFsInfo(const Fat32Layout& l);
Sector EncodeFirstFatSector();
// The 32-byte volume-label entry: the label blank-padded, attribute 0x08.
std::array<std::uint8_t, 32> EncodeLabelEntry(const std::string& label);

}  // namespace qk
