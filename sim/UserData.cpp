#include "sim/UserData.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unordered_map>
#include <vector>

namespace qk::sim {

namespace {

// Chunks of 64 KiB appear on first write, so a large drive costs nothing until used.
class MemoryData : public UserData {
 public:
  explicit MemoryData(std::uint32_t sectors) : UserData(sectors) {}

  bool read(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) override {
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint64_t s = static_cast<std::uint64_t>(lba) + i;
      auto it = chunks_.find(s / kChunkSectors);
      std::uint8_t* dst = out + static_cast<size_t>(i) * kSectorSize;
      if (it == chunks_.end()) {
        std::memset(dst, 0, kSectorSize);
      } else {
        std::memcpy(dst, it->second.data() + (s % kChunkSectors) * kSectorSize, kSectorSize);
      }
    }
    return true;
  }

  bool write(std::uint32_t lba, std::uint32_t count, const std::uint8_t* in) override {
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint64_t s = static_cast<std::uint64_t>(lba) + i;
      auto& chunk = chunks_[s / kChunkSectors];
      if (chunk.empty()) chunk.assign(static_cast<size_t>(kChunkSectors) * kSectorSize, 0);
      std::memcpy(chunk.data() + (s % kChunkSectors) * kSectorSize, in + static_cast<size_t>(i) * kSectorSize,
                  kSectorSize);
    }
    return true;
  }

 private:
  static constexpr std::uint64_t kChunkSectors = 128;
  std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> chunks_;
};

class FileData : public UserData {
 public:
  FileData(int fd, std::uint32_t sectors) : UserData(sectors), fd_(fd) {}
  ~FileData() override { ::close(fd_); }

  bool read(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) override {
    return transfer(lba, count, out, false);
  }
  bool write(std::uint32_t lba, std::uint32_t count, const std::uint8_t* in) override {
    return transfer(lba, count, const_cast<std::uint8_t*>(in), true);
  }

 private:
  bool transfer(std::uint32_t lba, std::uint32_t count, std::uint8_t* buf, bool toFile) {
    size_t left = static_cast<size_t>(count) * kSectorSize;
    off_t at = static_cast<off_t>(lba) * kSectorSize;
    while (left > 0) {
      ssize_t n = toFile ? ::pwrite(fd_, buf, left, at) : ::pread(fd_, buf, left, at);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) {  // beyond the end of a file someone shortened: zeros
        if (toFile) return false;
        std::memset(buf, 0, left);
        return true;
      }
      buf += n;
      at += n;
      left -= static_cast<size_t>(n);
    }
    return true;
  }

  int fd_;
};

}  // namespace

std::unique_ptr<UserData> UserData::inMemory(std::uint32_t sectors) { return std::make_unique<MemoryData>(sectors); }

std::unique_ptr<UserData> UserData::inFile(const std::string& path, std::uint32_t sectors, std::string& error) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  struct stat st{};
  off_t want = static_cast<off_t>(sectors) * kSectorSize;
  if (::fstat(fd, &st) != 0 || (st.st_size < want && ::ftruncate(fd, want) != 0)) {
    error = "cannot size " + path + ": " + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<FileData>(fd, sectors);
}

}  // namespace qk::sim
