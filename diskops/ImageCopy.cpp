#include "diskops/ImageCopy.h"

#include "platform/LittleEndian.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "diskops/Partitioner.h"
#include "platform/DebugOutput.h"

namespace qk {

namespace {

class File {
 public:
  explicit File(int fd) : fd_(fd) {}
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  int fd() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  std::uint64_t size() const {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
  }
  // Reads up to n bytes at `at`; the count read, or -1.
  long long readAt(std::uint8_t* out, std::size_t n, std::uint64_t at) const {
    std::size_t got = 0;
    while (got < n) {
      ssize_t r = ::pread(fd_, out + got, n - got, static_cast<off_t>(at + got));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return -1;
      if (r == 0) break;
      got += static_cast<std::size_t>(r);
    }
    return static_cast<long long>(got);
  }
  bool append(const std::uint8_t* in, std::size_t n) const {
    while (n > 0) {
      ssize_t r = ::write(fd_, in, n);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
      in += r;
      n -= static_cast<std::size_t>(r);
    }
    return true;
  }

 private:
  int fd_;
};


// Each copy opens the image on its own, so many ports can read one file at once.
File openImage(const std::string& file) { return File(::open(file.c_str(), O_RDONLY | O_CLOEXEC)); }

}  // namespace

bool IsBlockImage(const std::uint8_t* head, std::size_t length) {
  return length >= kBlockRecordBytes && head[16390] == 'N' && head[16391] == 'T';
}

bool ReadGhostImg(DiskJob& job, const std::string& file, std::uint32_t sizeMiB) {
  File out(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!out.ok()) {
    debugPrintf("cannot create %s: %s", file.c_str(), std::strerror(errno));
    return false;
  }
  const std::uint64_t bytes = std::uint64_t{sizeMiB} * 1048576;
  const std::uint64_t chunks = (bytes + kImageChunkBytes - 1) / kImageChunkBytes;
  std::vector<std::uint8_t> buffer(kImageChunkBytes);
  std::uint32_t sector = 0;
  for (std::uint64_t i = 0; i < chunks; ++i, sector += 128) {
    if (!job.device.readSectors(sector, 128, buffer.data())) return false;
    if (!out.append(buffer.data(), buffer.size())) {
      debugPrintf("cannot write %s: %s", file.c_str(), std::strerror(errno));
      return false;
    }
  }
  return true;
}

bool FlushGhostImg(DiskJob& job, const std::string& file) {
  std::vector<std::uint8_t> buffer(kImageChunkBytes);
  {
    File in = openImage(file);
    if (!in.ok()) return false;
    const long long head = in.readAt(buffer.data(), kBlockRecordBytes, 0);
    if (head < 0) return false;
    if (IsBlockImage(buffer.data(), static_cast<std::size_t>(head))) return FlushGhostNTFSImg(job, file);
  }
  File in = openImage(file);
  if (!in.ok()) return false;
  const std::uint64_t size = in.size();
  if (size == 0) return false;
  ::posix_fadvise(in.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
  // The image is read a megabyte at a time and written a chunk at a time:
  // the drive takes 64 KiB transfers, the file system prefers large reads.
  constexpr std::size_t kChunksPerRead = 16;
  buffer.resize(kChunksPerRead * kImageChunkBytes);
  std::uint32_t sector = 0;
  for (std::uint64_t at = 0; at < size; at += buffer.size()) {
    const long long got = in.readAt(buffer.data(), buffer.size(), at);
    if (got < 0) return false;
    // The last chunk is padded with zeros to its full length.
    const std::size_t used = static_cast<std::size_t>(got);
    const std::size_t chunks = (used + kImageChunkBytes - 1) / kImageChunkBytes;
    std::memset(buffer.data() + used, 0, chunks * kImageChunkBytes - used);
    for (std::size_t c = 0; c < chunks; ++c, sector += 128) {
      if (!job.device.writeSectors(sector, 128, buffer.data() + c * kImageChunkBytes)) return false;
    }
    if (used < buffer.size()) break;
  }
  return true;
}

bool FlushGhostNTFSImg(DiskJob& job, const std::string& file) {
  File in = openImage(file);
  if (!in.ok()) return false;
  const std::uint64_t records = in.size() / kBlockRecordBytes;

  // The system must not write its own view of the volume while we replace it.
  std::unique_ptr<ExclusiveHandle> lock;
  const auto volume = FindDriveLetter(job);
  if (volume) {
    for (int i = 0; i < kVolumeLockTries && !lock; ++i) {
      auto now = job.volumes.firstVolume(job.device.path());
      if (now && !now->mountPoint.empty()) job.volumes.unmount(now->mountPoint);
      lock = job.volumes.openExclusive(volume->node);
      if (!lock && !job.clock.sleepFor(kVolumeLockWaitMs, job.stop)) return false;
    }
    if (!lock) {
      debugPrintf("%s: the volume %s cannot be locked", job.device.path().c_str(), volume->node.c_str());
      return false;
    }
  }

  std::vector<std::uint8_t> record(kBlockRecordBytes);
  for (std::uint64_t i = 0; i < records; ++i) {
    if (in.readAt(record.data(), record.size(), i * kBlockRecordBytes) != static_cast<long long>(record.size())) {
      return false;
    }
    if (!job.device.writeSectors(le32(record.data() + kBlockDataBytes), 32, record.data())) return false;
  }
  if (!volume) return true;
  // Dismount: nothing may still hold the old file system; then the kernel forgets its cache.
  bool ok = true;
  auto now = job.volumes.firstVolume(job.device.path());
  if (now && !now->mountPoint.empty()) ok = job.volumes.unmount(now->mountPoint);
  lock.reset();
  job.volumes.flushBuffers(volume->node);
  job.volumes.flushBuffers(job.device.path());
  return ok;
}

bool CheckImgPattern(DiskJob& job) {
  std::vector<std::uint8_t> buffer(kImageChunkBytes);
  bool ok = job.device.readSectors(0, 128, buffer.data());
  if (!ok || buffer[0] != 0xEB) ok = job.device.readSectors(63, 128, buffer.data());
  // A read that failed never passes, whatever the buffer still holds.
  return ok;
}

}  // namespace qk
