#include "diskops/Fat32Formatter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "diskops/Mbr.h"
#include "diskops/Partitioner.h"
#include "platform/DebugOutput.h"

namespace qk {

namespace {

constexpr std::uint32_t kBurstSectors = 128;

// Internal errors that the operator is shown without a caption.
bool internalError(DiskJob& job, const char* what) {
  debugPrintf("%s", what);
  if (job.op) job.op->showMessage(what, " ", MessageIcon::Error);
  return false;
}

bool writeOne(DiskJob& job, std::uint64_t volumeSector, const Sector& s) {
  if (job.device.writeSectors(static_cast<std::uint32_t>(kVolumeStartSector + volumeSector), 1, s.data())) return true;
  debugPrintf("Failed to write");
  return false;
}

// The volume's length: the partition's own when sector 0 holds one at 63
// that fits the drive, else what the partitioner would make.
std::uint64_t volumeSectors(DiskJob& job, std::uint32_t capacity, const DiskGeometry& g) {
  std::uint8_t mbr[512];
  std::uint32_t start = 0, length = 0;
  if (job.device.readSectors(0, 1, mbr) && ReadFirstPartition(mbr, start, length) && start == kVolumeStartSector &&
      std::uint64_t{start} + length <= capacity) {
    return length;
  }
  return PartitionSectors(MbrVariant::Modern, capacity, g);
}

void summary(const Fat32Layout& l) {
  debugPrintf("Size : %gGB %llu sectors", static_cast<double>(l.diskBytes / 1000000000ull),
              static_cast<unsigned long long>(l.totalSectors));
  debugPrintf("%u Bytes Per Sector, Cluster size %u bytes", l.bytesPerSector,
              l.bytesPerSector * l.sectorsPerCluster);
  debugPrintf("Volume ID is %x:%x", l.volumeId >> 16, l.volumeId & 0xFFFF);
  debugPrintf("%u Reserved Sectors, %u Sectors per FAT, %u fats", kFatReservedSectors, l.fatSectors, kFatCount);
  debugPrintf("%llu Total clusters", static_cast<unsigned long long>(l.clusterCount));
  debugPrintf("%llu Free Clusters", static_cast<unsigned long long>(l.freeClusters()));
}

// Diagnostic lines for every doubt; false when the layout is no valid volume.
bool sanityChecks(const Fat32Layout& l) {
  if (l.bytesPerSector != 512) debugPrintf("Warning - sector size is %u, not 512", l.bytesPerSector);
  if (l.totalSectors < 65536) debugPrintf("Warning - the volume has fewer than 65536 sectors");
  if (l.totalSectors >= 0xFFFFFFFFull) debugPrintf("Warning - the volume has too many sectors for FAT32");
  if (l.clusterCount >= 0x0FFFFFFF) debugPrintf("Warning - too many clusters for FAT32");
  const std::uint64_t needed = (FatEntriesNeeded(l) * 4 + l.bytesPerSector - 1) / l.bytesPerSector;
  if (needed > l.fatSectors) debugPrintf("Warning - the FAT needs %llu sectors", static_cast<unsigned long long>(needed));
  if (Fat32LayoutConsistent(l)) return true;
  debugPrintf("The volume's layout is inconsistent: not formatted");
  return false;
}

bool writeLabelEntry(DiskJob& job, const Fat32Layout& l) {
  Sector root{};
  const auto rootAbs = static_cast<std::uint32_t>(kVolumeStartSector + l.rootDirSector());
  if (!job.device.readSectors(rootAbs, 1, root.data())) {
    debugPrintf("Failed to read");
    return false;
  }
  const auto entry = EncodeLabelEntry(l.label);
  std::memcpy(root.data(), entry.data(), 12);
  if (!job.device.writeSectors(rootAbs, 1, root.data())) {
    debugPrintf("Failed to write");
    return false;
  }
  return true;
}

}  // namespace

bool ZeroSectors(DiskJob& job, std::uint64_t first, std::uint32_t bps, std::uint64_t count) {
  if (count == 0 || bps != 512) return false;
  std::vector<std::uint8_t> zeros(std::size_t{kBurstSectors} * bps, 0);
  std::vector<std::uint8_t> back(zeros.size());
  const std::int64_t began = job.clock.nowMs();
  bool ok = true;
  for (std::uint64_t done = 0; done < count && ok;) {
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kBurstSectors, count - done));
    const auto at = static_cast<std::uint32_t>(first + done);
    if (!job.device.writeSectors(at, n, zeros.data())) {
      debugPrintf("Failed to write");
      ok = false;
      break;
    }
    std::fill(back.begin(), back.begin() + std::size_t{n} * bps, 0xA5);
    if (!job.device.readSectors(at, n, back.data())) {
      debugPrintf("Failed to read");
      ok = false;
      break;
    }
    const std::size_t bytes = std::size_t{n} * bps;
    if (back[0] != 0 || std::memcmp(back.data(), back.data() + 1, bytes - 1) != 0) {
      debugPrintf("Sector %u..%u did not read back as zeros", at, at + n - 1);
      ok = false;
      break;
    }
    done += n;
  }
  const std::int64_t elapsed = job.clock.nowMs() - began;
  const unsigned long long bytes = static_cast<unsigned long long>(count) * bps;
  if (elapsed > 0) {
    const double seconds = static_cast<double>(elapsed) / 1000.0;
    debugPrintf("Wrote %llu bytes in %g seconds, %f bytes/sec", bytes, seconds, static_cast<double>(bytes) / seconds);
  } else {
    debugPrintf("Wrote %llu bytes in less than a millisecond", bytes);
  }
  return ok;
}

bool FormatFat32(DiskJob& job, const std::string& label, Fat32Layout* out) {
  const std::string& disk = job.device.path();
  const LocalTime now = job.clock.localTime();
  const std::uint32_t volumeId = VolumeIdFromTime(now);

  // Never format under a live mount: the kernel would write its own view back.
  if (!ReleaseMounts(job)) return false;

  // Exclusive use of the disk; kept for the whole format so nothing mounts it meanwhile.
  std::unique_ptr<ExclusiveHandle> exclusive;
  const int attempts = 5 * std::max(1, job.activeDrives);
  for (int i = 0; i < attempts; ++i) {
    exclusive = job.volumes.openExclusive(disk);
    if (exclusive) break;
    if (i + 1 < attempts && !job.clock.sleepFor(1000, job.stop)) return false;
  }
  if (!exclusive) {
    debugPrintf("FormatFat32 %s: no exclusive access after %d attempts", disk.c_str(), attempts);
    return false;
  }
  DiskGeometry g;
  if (!job.volumes.geometry(disk, g)) {
    debugPrintf("Failed to get device geometry");
    return false;
  }
  if (g.diskBytes == 0) {
    debugPrintf("Failed to get parition info");
    return false;
  }

  const std::uint32_t capacity = job.device.capacitySectors();
  if (capacity == 0) {
    debugPrintf("FormatFat32 %s: capacity unknown", disk.c_str());
    return false;
  }
  if (g.bytesPerSector == 0) return internalError(job, "format_direct BytesPerSect");
  const std::uint64_t diskBytes = std::uint64_t{capacity} * 512;
  const std::uint64_t total = volumeSectors(job, capacity, g);
  if (total == 0) return internalError(job, "Format_direct TotalSectors");

  Fat32Layout l = ComputeFat32Layout(diskBytes, total, g.bytesPerSector, g.sectorsPerTrack, g.heads, volumeId,
                                     label);
  if (l.sectorsPerCluster == 0) return internalError(job, "get_spc");
  if (l.clusterCount == 0) return internalError(job, "get_fat_size_sectors");
  summary(l);
  if (out) *out = l;
  if (!sanityChecks(l)) return false;

  const std::uint64_t clear = l.rootDirSector() + l.sectorsPerCluster;
  debugPrintf("Clearing out %llu sectors for Reserved sectors, fats and root cluster...",
              static_cast<unsigned long long>(clear));
  if (!ZeroSectors(job, kVolumeStartSector, l.bytesPerSector, clear)) return false;

  debugPrintf("Initialising reserved sectors and FATs...");
  const Sector boot = EncodeBootSector(l), info = EncodeFsInfo(l), fat = EncodeFirstFatSector();
  if (!writeOne(job, 0, boot) || !writeOne(job, 1, info) || !writeOne(job, 6, boot) || !writeOne(job, 7, info) ||
      !writeOne(job, kFatReservedSectors, fat) || !writeOne(job, kFatReservedSectors + l.fatSectors, fat)) {
    return false;
  }

  // A blank label entry is no valid name: an empty label leaves the root directory empty.
  if (!l.label.empty() && !writeLabelEntry(job, l)) return false;
  exclusive.reset();
  // The writes bypassed the kernel: drop what it cached of the disk and the volume.
  job.volumes.flushBuffers(disk);
  if (auto v = job.volumes.firstVolume(disk)) job.volumes.flushBuffers(v->node);
  debugPrintf("Done");
  return true;
}

}  // namespace qk
