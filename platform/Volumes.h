#pragma once
// What the disk operations ask of the operating system about a disk and the
// volume on it: geometry, the kernel's view of the partition table, finding
// the first partition, mounts, exclusive use and free space. The Linux
// implementation works on block devices; the bench's answers for its drives.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qk {

struct DiskGeometry {
  std::uint32_t bytesPerSector = 512;
  std::uint32_t sectorsPerTrack = 63;
  std::uint32_t heads = 255;
  std::uint64_t cylinders = 0;   // whole cylinders of the disk
  std::uint64_t diskBytes = 0;
};

// The volume that stands for a drive letter: the first partition of the disk.
struct VolumeInfo {
  std::string node;        // the partition's device node
  std::string mountPoint;  // empty when not mounted
};

// Held while the disk or volume is in exclusive use; released on destruction.
class ExclusiveHandle {
 public:
  virtual ~ExclusiveHandle() = default;
};

class Volumes {
 public:
  virtual ~Volumes() = default;

  // Geometry and size of a whole disk; false when the disk cannot be asked.
  virtual bool geometry(const std::string& disk, DiskGeometry& out) = 0;
  // Drops the kernel's cached blocks of the disk or volume (after raw writes).
  virtual bool flushBuffers(const std::string& node) = 0;
  // Asks the kernel to read the partition table again.
  virtual bool rereadPartitions(const std::string& disk) = 0;
  // The first partition of the disk, when the system knows one.
  virtual std::optional<VolumeInfo> firstVolume(const std::string& disk) = 0;
  // Mount points of every partition of the disk (and of the disk itself).
  virtual std::vector<std::string> mountsOf(const std::string& disk) = 0;
  virtual bool unmount(const std::string& mountPoint) = 0;
  // Opens the node for exclusive use: fails while it is mounted or held by another.
  virtual std::unique_ptr<ExclusiveHandle> openExclusive(const std::string& node) = 0;
  // Size and free bytes of a mounted volume; false when it cannot be asked.
  virtual bool space(const VolumeInfo& volume, std::uint64_t& totalBytes, std::uint64_t& freeBytes) = 0;
};

}  // namespace qk
