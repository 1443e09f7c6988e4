#pragma once
// A fresh partition table with one FAT32 partition at sector 63, and the
// volume the system then makes of it.
#include <optional>

#include "diskops/DiskJob.h"
#include "diskops/Mbr.h"

namespace qk {

// Writes sector 0 through the drive, then has the kernel drop its cached
// blocks and read the table again. False on any failure, also when the disk
// is mounted and cannot be unmounted or holds less than one cylinder.
bool PartitionDisk(DiskJob& job, MbrVariant variant = MbrVariant::Modern);

// The drive's first partition (and its mount point when mounted); nullopt
// when the system shows none yet. Callers retry.
std::optional<VolumeInfo> FindDriveLetter(DiskJob& job);

// Unmounts every mounted partition of the drive; false (with a diagnostic)
// when one stays mounted.
bool ReleaseMounts(DiskJob& job);

}  // namespace qk
