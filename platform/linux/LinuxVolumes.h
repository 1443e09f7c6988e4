#pragma once
// Volumes of real block devices: ioctls on the disk node, partitions from
// sysfs, mounts from /proc/self/mounts.
#include "platform/Volumes.h"

namespace qk {

class LinuxVolumes : public Volumes {
 public:
  // sysRoot and mountsFile let tests point at fixture trees.
  explicit LinuxVolumes(std::string sysRoot = "/sys", std::string mountsFile = "/proc/self/mounts",
                        std::string devRoot = "/dev")
      : sys_(std::move(sysRoot)), mounts_(std::move(mountsFile)), dev_(std::move(devRoot)) {}

  bool geometry(const std::string& disk, DiskGeometry& out) override;
  bool flushBuffers(const std::string& node) override;
  bool rereadPartitions(const std::string& disk) override;
  std::optional<VolumeInfo> firstVolume(const std::string& disk) override;
  std::vector<std::string> mountsOf(const std::string& disk) override;
  bool unmount(const std::string& mountPoint) override;
  std::unique_ptr<ExclusiveHandle> openExclusive(const std::string& node) override;
  bool space(const VolumeInfo& volume, std::uint64_t& totalBytes, std::uint64_t& freeBytes) override;

  // The block device name ("sdb") of a disk path: /dev/sdb, or /dev/sgN of a disk.
  std::string blockName(const std::string& disk) const;
  // The disk's block node: a generic SCSI node is mapped to its disk.
  std::string blockNode(const std::string& disk) const;
  // Partition names of a disk, by partition number.
  std::vector<std::string> partitionNames(const std::string& blockName) const;

 private:
  std::string sys_, mounts_, dev_;
};

}  // namespace qk
