#pragma once
// The "Disk Format" step: out of loader mode, partition, wait for the
// system's volume, format it.
#include <string>

#include "diskops/DiskJob.h"
#include "diskops/Mbr.h"
#include "run/PortContext.h"

namespace qk {

constexpr int kVolumeLookupTries = 101;
constexpr std::int64_t kVolumeLookupWaitMs = 1000;

// The port record (optional) receives the volume and the formatted flag.
bool RunDiskFormat(DiskJob& job, const std::string& label, PortContext* port = nullptr,
                   MbrVariant variant = MbrVariant::Modern);

}  // namespace qk
