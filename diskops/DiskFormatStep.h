#pragma once
// The "Disk Format" step: out of loader mode, partition, wait for the
// system's volume, format it.
#include <string>

#include "diskops/DiskJob.h"
#include "diskops/Mbr.h"

namespace qk {

constexpr int kVolumeLookupTries = 101;
constexpr std::int64_t kVolumeLookupWaitMs = 1000;

// `volume` (optional) receives the system's volume once it was found; true
// when the drive was partitioned and formatted.
bool RunDiskFormat(DiskJob& job, const std::string& label, std::string* volume = nullptr,
                   MbrVariant variant = MbrVariant::Modern);

}  // namespace qk
