#include "platform/bench/BenchVolumes.h"

#include "platform/LittleEndian.h"

#include <cstring>

namespace qk {

class BenchExclusive : public ExclusiveHandle {
 public:
  BenchExclusive(BenchVolumes& owner, std::string node) : owner_(owner), node_(std::move(node)) {}
  ~BenchExclusive() override { owner_.release(node_); }

 private:
  BenchVolumes& owner_;
  std::string node_;
};

namespace {
}  // namespace

bool BenchVolumes::readSector(const std::string& disk, std::uint32_t lba, std::uint8_t* out) {
  // READ(10) of one sector
  std::uint8_t cdb[10] = {0x28, 0, static_cast<std::uint8_t>(lba >> 24), static_cast<std::uint8_t>(lba >> 16),
                          static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba), 0, 0, 1, 0};
  PassThroughRequest r;
  r.cdb = cdb;
  r.cdbLength = sizeof cdb;
  r.direction = DataDirection::In;
  r.buffer = out;
  r.length = 512;
  r.timeoutMs = 10000;
  auto res = pt_.execute(disk, r);
  return res.sent && res.completed && res.scsiStatus == kScsiStatusGood && res.transferred == 512;
}

std::uint64_t BenchVolumes::capacitySectors(const std::string& disk) {
  std::uint8_t cdb[10] = {0x25};
  std::uint8_t data[8] = {};
  PassThroughRequest r;
  r.cdb = cdb;
  r.cdbLength = sizeof cdb;
  r.direction = DataDirection::In;
  r.buffer = data;
  r.length = sizeof data;
  r.timeoutMs = 10000;
  auto res = pt_.execute(disk, r);
  if (!res.sent || !res.completed || res.scsiStatus != kScsiStatusGood || res.transferred < 8) return 0;
  std::uint32_t last = static_cast<std::uint32_t>(data[0]) << 24 | static_cast<std::uint32_t>(data[1]) << 16 |
                       static_cast<std::uint32_t>(data[2]) << 8 | data[3];
  return static_cast<std::uint64_t>(last) + 1;
}

std::string BenchVolumes::diskOf(const std::string& node) const {
  if (node.size() > 2 && node.compare(node.size() - 2, 2, "p1") == 0) return node.substr(0, node.size() - 2);
  return node;
}

bool BenchVolumes::geometry(const std::string& disk, DiskGeometry& out) {
  const std::uint64_t sectors = capacitySectors(disk);
  if (sectors == 0) return false;
  out = DiskGeometry{};
  out.diskBytes = sectors * 512;
  out.cylinders = sectors / (255 * 63);
  return true;
}

bool BenchVolumes::flushBuffers(const std::string& node) {
  std::lock_guard lock(mutex_);
  calls_.push_back("flush " + node);
  return true;
}

bool BenchVolumes::rereadPartitions(const std::string& disk) {
  std::lock_guard lock(mutex_);
  calls_.push_back("reread " + disk);
  for (const auto& [point, m] : mounts_) {
    if (diskOf(m.node) == disk) return false;  // busy, as the kernel answers
  }
  return true;
}

std::optional<VolumeInfo> BenchVolumes::firstVolume(const std::string& disk) {
  std::uint8_t mbr[512];
  if (!readSector(disk, 0, mbr)) return std::nullopt;
  if (mbr[510] != 0x55 || mbr[511] != 0xAA) return std::nullopt;
  const std::uint8_t* entry = mbr + 0x1BE;
  if (entry[4] == 0 || le32(entry + 12) == 0) return std::nullopt;
  VolumeInfo v;
  v.node = partitionNode(disk);
  std::lock_guard lock(mutex_);
  for (const auto& [point, m] : mounts_) {
    if (m.node == v.node) v.mountPoint = point;
  }
  return v;
}

std::vector<std::string> BenchVolumes::mountsOf(const std::string& disk) {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& [point, m] : mounts_) {
    if (diskOf(m.node) == disk) out.push_back(point);
  }
  return out;
}

bool BenchVolumes::unmount(const std::string& mountPoint) {
  std::lock_guard lock(mutex_);
  calls_.push_back("unmount " + mountPoint);
  auto it = mounts_.find(mountPoint);
  if (it == mounts_.end() || it->second.stubborn) return false;
  mounts_.erase(it);
  return true;
}

std::unique_ptr<ExclusiveHandle> BenchVolumes::openExclusive(const std::string& node) {
  std::lock_guard lock(mutex_);
  const std::string disk = diskOf(node);
  for (const auto& [point, m] : mounts_) {
    // A mounted volume holds its disk, as a mounted partition does on Linux.
    if (m.node == node || (node == disk && diskOf(m.node) == disk)) return nullptr;
  }
  for (const auto& h : held_) {
    if (h == node || diskOf(h) == node || h == disk) return nullptr;
  }
  held_.insert(node);
  return std::make_unique<BenchExclusive>(*this, node);
}

void BenchVolumes::release(const std::string& node) {
  std::lock_guard lock(mutex_);
  held_.erase(node);
}

bool BenchVolumes::space(const VolumeInfo& volume, std::uint64_t& totalBytes, std::uint64_t& freeBytes) {
  const std::string disk = diskOf(volume.node);
  std::uint8_t mbr[512], boot[512], info[512];
  if (!readSector(disk, 0, mbr)) return false;
  const std::uint32_t start = le32(mbr + 0x1BE + 8);
  if (!readSector(disk, start, boot) || boot[510] != 0x55 || boot[511] != 0xAA) return false;
  if (std::memcmp(boot + 82, "FAT32   ", 8) != 0) return false;
  const std::uint32_t bps = le16(boot + 11), spc = boot[13], reserved = le16(boot + 14);
  const std::uint32_t fats = boot[16], fatSize = le32(boot + 36), total = le32(boot + 32);
  if (bps != 512 || spc == 0 || total <= reserved + fats * fatSize) return false;
  if (!readSector(disk, start + le16(boot + 48), info) || le32(info) != 0x41615252) return false;
  const std::uint64_t clusterBytes = static_cast<std::uint64_t>(spc) * bps;
  totalBytes = (total - reserved - fats * fatSize) / spc * clusterBytes;
  freeBytes = static_cast<std::uint64_t>(le32(info + 488)) * clusterBytes;
  if (freeBytes > totalBytes) return false;
  return true;
}

void BenchVolumes::mount(const std::string& node, const std::string& mountPoint, bool stubborn) {
  std::lock_guard lock(mutex_);
  mounts_[mountPoint] = Mount{node, stubborn};
}

bool BenchVolumes::isMounted(const std::string& node) const {
  std::lock_guard lock(mutex_);
  for (const auto& [point, m] : mounts_) {
    if (m.node == node) return true;
  }
  return false;
}

std::vector<std::string> BenchVolumes::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

}  // namespace qk
