#pragma once
// Disk images: capture the first part of a drive into a plain image, copy a
// plain or block image onto a drive, and check the drive's boot sector after.
//
// A block image is a run of 16,392-byte records: 16,384 bytes for 32
// sectors, the first sector's number (32 bits, little-endian), 2 bytes not
// used, and "NT" at record offsets 16,390..16,391 (looked at in the first
// record only). Any other file is a plain image: sectors from 0 on.
#include <cstdint>
#include <string>

#include "diskops/DiskJob.h"

namespace qk {

constexpr std::size_t kImageChunkBytes = 65536;
constexpr std::size_t kBlockRecordBytes = 16392;
constexpr std::size_t kBlockDataBytes = 16384;
constexpr int kVolumeLockTries = 20;
constexpr std::int64_t kVolumeLockWaitMs = 500;

// Captures the first sizeMiB MiB of the drive into `file` (replaced). On a
// failed read the file keeps the chunks read so far.
bool ReadGhostImg(DiskJob& job, const std::string& file, std::uint32_t sizeMiB);
// Copies an image onto the drive; block images go to FlushGhostNTFSImg.
bool FlushGhostImg(DiskJob& job, const std::string& file);
// Copies a block image with the drive's volume (when it has one) held
// exclusively, and lets the system drop the volume afterwards.
bool FlushGhostNTFSImg(DiskJob& job, const std::string& file);
// Reads the boot sector at 0, or at 63 when sector 0 is no boot sector.
bool CheckImgPattern(DiskJob& job);

// True when the first record carries the block-image marker.
bool IsBlockImage(const std::uint8_t* head, std::size_t length);

}  // namespace qk
