#include "diskops/Partitioner.h"

#include "platform/DebugOutput.h"

namespace qk {

bool ReleaseMounts(DiskJob& job) {
  for (const auto& point : job.volumes.mountsOf(job.device.path())) {
    if (!job.volumes.unmount(point)) {
      debugPrintf("%s is mounted on %s and cannot be unmounted", job.device.path().c_str(), point.c_str());
      return false;
    }
    debugPrintf("Unmounted %s from %s", job.device.path().c_str(), point.c_str());
  }
  return true;
}

bool PartitionDisk(DiskJob& job, MbrVariant variant) {
  const std::string& disk = job.device.path();
  const std::uint32_t capacity = job.device.capacitySectors();
  if (capacity == 0) {
    debugPrintf("PartitionDisk %s: capacity unknown", disk.c_str());
    return false;
  }
  // A partition table rewritten under a live mount leaves the kernel with a stale view.
  if (!ReleaseMounts(job)) return false;
  DiskGeometry g;
  if (!job.volumes.geometry(disk, g)) {
    debugPrintf("Failed to get device geometry");
    return false;
  }
  const std::uint64_t length = PartitionSectors(variant, capacity, g);
  if (length == 0 || length > 0xFFFFFFFFull) {
    debugPrintf("PartitionDisk %s: no room for a partition (%u sectors)", disk.c_str(), capacity);
    return false;
  }
  const Sector mbr = EncodeMbr(variant, static_cast<std::uint32_t>(length), g);
  if (!job.device.writeSectors(0, 1, mbr.data())) {
    debugPrintf("Failed to write");
    return false;
  }
  // The write went around the kernel's buffer cache: drop it, or the re-read sees the old table.
  job.volumes.flushBuffers(disk);
  if (!job.volumes.rereadPartitions(disk)) {
    debugPrintf("PartitionDisk %s: the kernel did not take the new table", disk.c_str());
    return false;
  }
  return true;
}

std::optional<VolumeInfo> FindDriveLetter(DiskJob& job) { return job.volumes.firstVolume(job.device.path()); }

}  // namespace qk
