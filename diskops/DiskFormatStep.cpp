#include "diskops/DiskFormatStep.h"

#include <vector>

#include "diskops/Fat32Formatter.h"
#include "diskops/Partitioner.h"
#include "platform/DebugOutput.h"

namespace qk {

bool RunDiskFormat(DiskJob& job, const std::string& label, std::string* volumeOut, MbrVariant variant) {
  std::vector<std::uint8_t> work(65536);
  job.device.leaveLoaderMode(work.data());
  if (!PartitionDisk(job, variant)) return false;
  for (int i = 0; i < kVolumeLookupTries; ++i) {
    if (!job.clock.sleepFor(kVolumeLookupWaitMs, job.stop)) return false;
    auto volume = FindDriveLetter(job);
    if (!volume) continue;
    if (volumeOut) *volumeOut = volume->node;
    return FormatFat32(job, label);
  }
  debugPrintf("%s: no volume after %d tries", job.device.path().c_str(), kVolumeLookupTries);
  return false;
}

}  // namespace qk
