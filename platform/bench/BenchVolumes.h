#pragma once
// Volumes of the bench's drives. The bench plays the operating system: it
// reads a drive's partition table and file system through the pass-through,
// as a kernel would. Geometry is the customary translation (255 heads,
// 63 sectors per track, 512-byte sectors). The first partition of
// /dev/bench/DriveK is /dev/bench/DriveKp1; it is found as soon as the
// drive's partition table has an entry. Nothing is mounted unless a test
// mounts it; free space is read from the volume's FAT32 FSInfo sector.
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/PassThrough.h"
#include "platform/Volumes.h"

namespace qk {

class BenchVolumes : public Volumes {
 public:
  explicit BenchVolumes(PassThrough& passThrough) : pt_(passThrough) {}

  bool geometry(const std::string& disk, DiskGeometry& out) override;
  bool flushBuffers(const std::string& node) override;
  bool rereadPartitions(const std::string& disk) override;
  std::optional<VolumeInfo> firstVolume(const std::string& disk) override;
  std::vector<std::string> mountsOf(const std::string& disk) override;
  bool unmount(const std::string& mountPoint) override;
  std::unique_ptr<ExclusiveHandle> openExclusive(const std::string& node) override;
  bool space(const VolumeInfo& volume, std::uint64_t& totalBytes, std::uint64_t& freeBytes) override;

  // Test hooks: a volume mounted by someone else; a mount that refuses to go.
  void mount(const std::string& node, const std::string& mountPoint, bool stubborn = false);
  bool isMounted(const std::string& node) const;
  // Every flush, re-read and unmount in order ("flush NODE", "reread DISK", "unmount POINT").
  std::vector<std::string> calls() const;

  static std::string partitionNode(const std::string& disk) { return disk + "p1"; }

 private:
  friend class BenchExclusive;
  struct Mount {
    std::string node;
    bool stubborn = false;
  };
  bool readSector(const std::string& disk, std::uint32_t lba, std::uint8_t* out);
  std::uint64_t capacitySectors(const std::string& disk);
  void release(const std::string& node);
  std::string diskOf(const std::string& node) const;

  PassThrough& pt_;
  mutable std::mutex mutex_;
  std::map<std::string, Mount> mounts_;  // by mount point
  std::set<std::string> held_;            // nodes open exclusively
  std::vector<std::string> calls_;
};

}  // namespace qk
