#pragma once
// Read/write tests of a drive's user sectors with the address pattern, and
// the wipe. A failure leaves its record in the first 20 bytes of `buffer`
// (at least 64 KiB).
#include <cstdint>

#include "diskops/DiskJob.h"
#include "diskops/ProgressObserver.h"
#include "diskops/RwFailureRecord.h"

namespace qk {

constexpr std::uint32_t kRwBlockSectors = 128;
constexpr std::size_t kRwBufferBytes = kRwBlockSectors * 512;

// Samples every k-th gigabyte (k grows by one per 16 GB) with a fixed list
// of blocks, then the last sector.
bool QuickRwTest(DiskJob& job, std::uint8_t* buffer);
// Writes the first `percent` of the drive (all of it from 100 on), flushes,
// waits 3 s and reads it all back; the gauge follows each pass.
bool RWTestPercentageWithProgress(DiskJob& job, std::uint8_t* buffer, std::uint16_t percent,
                                  ProgressObserver* gauge = nullptr);
// Writes 0xFF over the whole drive. `failure` (optional) receives the record;
// `progress` (optional) is for front ends that show the wipe.
bool EraseAllData(DiskJob& job, RwFailureRecord* failure = nullptr, ProgressObserver* progress = nullptr);

// The single blocks the tests are made of.
bool WriteBlock(DiskJob& job, std::uint8_t* buffer, std::uint32_t sectors, std::uint32_t lba);
bool VerifyBlock(DiskJob& job, std::uint8_t* buffer, std::uint32_t sectors, std::uint32_t lba);
bool WriteVerifyBlock(DiskJob& job, std::uint8_t* buffer, std::uint32_t sectors, std::uint32_t lba);

}  // namespace qk
