#pragma once
// The capacity and address probe: a stamp unique to the drive, the run and
// the address goes into sectors that exercise every address bit, and all of
// them are read back only after all were written. A drive that wraps, drops
// or folds addresses passes the block-by-block R/W tests; it fails here.
#include <cstdint>
#include <string>
#include <vector>

#include "diskops/DiskJob.h"

namespace qk {

// What the probe moves at most per drive (reads and writes together).
constexpr std::uint64_t kProbeByteLimit = 64ull << 20;

// The failure record: little-endian words at the start of the caller's buffer,
// decoded by the error report.
struct CapacityProbeRecord {
  // StampAstray: a stamp of this run on an address of the head that was not stamped.
  enum Kind : std::uint32_t { None = 0, WriteFailed = 1, ReadFailed = 2, StampWrong = 3, NoCapacity = 4, StampAstray = 5 };
  enum Found : std::uint32_t { Zeros = 0, OtherStamp = 1, OtherData = 2, ForeignStamp = 3 };
  std::uint32_t kind = None;
  std::uint32_t lba = 0;        // the first address that failed
  std::uint32_t found = Zeros;  // StampWrong, StampAstray: what came back instead
  std::uint32_t foundLba = 0;   // OtherStamp: the address whose stamp came back
  std::uint64_t estimate = 0;   // StampWrong, StampAstray: sectors below which every stamp held

  static constexpr std::size_t kBytes = 24;
  // Words 0..3: kind, LBA, found, found LBA; 16..23 the estimate
  void store(std::uint8_t* buffer) const;
  static CapacityProbeRecord load(const std::uint8_t* buffer);
  // The error report's lines for the record (nothing for None or an unknown kind).
  std::vector<std::string> describe() const;
};

struct CapacityProbeOptions {
  std::string driveId;        // the serial, or whatever names the drive
  std::uint64_t nonce = 0;    // new for every run
  bool keepData = true;       // put back what the stamps overwrote
  // Beyond the head, grid and powers of two: each costs a command per pass.
  int randomPositions = 64;
};

struct CapacityProbeResult {
  bool passed = false;
  CapacityProbeRecord record;
  std::uint64_t bytesMoved = 0;
  std::size_t positions = 0;
};

// The addresses stamped on a drive of `sectors`: address 0, a grid of up to
// 4096 points no closer than the head is long, every power-of-two offset and
// its multiples by 3, 5 and 7, the last sectors, and a spread drawn from the
// nonce. Ascending, no repeats.
std::vector<std::uint32_t> CapacityProbePositions(std::uint32_t sectors, std::uint64_t nonce, int randomPositions);
// The head: the first sectors, all read back; only the stamped ones among them are written.
std::uint32_t CapacityProbeScanSectors(std::uint32_t sectors);

// Leaves loader mode, then runs the probe; `buffer` (at least 64 KiB) receives the failure record.
CapacityProbeResult CapacityProbe(DiskJob& job, const CapacityProbeOptions& options, std::uint8_t* buffer);

// A nonce for a new run.
std::uint64_t NewProbeNonce();

}  // namespace qk
