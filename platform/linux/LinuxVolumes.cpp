#include "platform/linux/LinuxVolumes.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/DebugOutput.h"

namespace fs = std::filesystem;

namespace qk {

namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

class ExclusiveFd : public ExclusiveHandle {
 public:
  explicit ExclusiveFd(int fd) : fd_(fd) {}
  ~ExclusiveFd() override { ::close(fd_); }

 private:
  int fd_;
};

std::string baseName(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int partitionNumber(const fs::path& dir) {
  std::ifstream in(dir / "partition");
  int n = 0;
  return (in >> n) ? n : 0;
}

// /proc/self/mounts escapes blanks and a few others as \ooo.
std::string unescapeMountField(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1]))) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

std::string LinuxVolumes::blockName(const std::string& disk) const {
  const std::string name = baseName(disk);
  if (name.rfind("sg", 0) == 0) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(fs::path(sys_) / "class/scsi_generic" / name / "device/block", ec)) {
      return e.path().filename().string();
    }
    return {};
  }
  return name;
}

std::string LinuxVolumes::blockNode(const std::string& disk) const {
  const std::string name = blockName(disk);
  if (name.empty()) return disk;
  return baseName(disk) == name ? disk : dev_ + "/" + name;
}

std::vector<std::string> LinuxVolumes::partitionNames(const std::string& block) const {
  std::vector<std::pair<int, std::string>> found;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::path(sys_) / "block" / block, ec)) {
    if (!e.is_directory(ec)) continue;
    const std::string n = e.path().filename().string();
    if (n.rfind(block, 0) != 0) continue;
    int number = partitionNumber(e.path());
    if (number > 0) found.emplace_back(number, n);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> out;
  for (auto& f : found) out.push_back(f.second);
  return out;
}

bool LinuxVolumes::geometry(const std::string& disk, DiskGeometry& out) {
  Fd fd(::open(blockNode(disk).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.ok()) return false;
  hd_geometry geo{};
  int sectorSize = 0;
  std::uint64_t bytes = 0;
  if (::ioctl(fd.get(), BLKSSZGET, &sectorSize) != 0 || sectorSize <= 0) return false;
  if (::ioctl(fd.get(), BLKGETSIZE64, &bytes) != 0) return false;
  out.bytesPerSector = static_cast<std::uint32_t>(sectorSize);
  out.diskBytes = bytes;
  // Drives that report no geometry get the customary translated one.
  if (::ioctl(fd.get(), HDIO_GETGEO, &geo) == 0 && geo.heads != 0 && geo.sectors != 0) {
    out.heads = geo.heads;
    out.sectorsPerTrack = geo.sectors;
  } else {
    out.heads = 255;
    out.sectorsPerTrack = 63;
  }
  // HDIO_GETGEO's cylinder field is 16 bits wide: count them from the size.
  const std::uint64_t cylBytes = static_cast<std::uint64_t>(out.heads) * out.sectorsPerTrack * out.bytesPerSector;
  out.cylinders = cylBytes ? bytes / cylBytes : 0;
  return true;
}

bool LinuxVolumes::flushBuffers(const std::string& node) {
  Fd fd(::open(node.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.ok()) return false;
  ::fsync(fd.get());
  if (::ioctl(fd.get(), BLKFLSBUF, 0) != 0) {
    debugPrintf("BLKFLSBUF %s: %s", node.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

bool LinuxVolumes::rereadPartitions(const std::string& disk) {
  Fd fd(::open(blockNode(disk).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.ok()) return false;
  if (::ioctl(fd.get(), BLKRRPART, 0) != 0) {
    debugPrintf("BLKRRPART %s: %s", disk.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

std::optional<VolumeInfo> LinuxVolumes::firstVolume(const std::string& disk) {
  const std::string block = blockName(disk);
  if (block.empty()) return std::nullopt;
  auto parts = partitionNames(block);
  if (parts.empty()) return std::nullopt;
  VolumeInfo v;
  v.node = dev_ + "/" + parts.front();
  struct stat want {};
  if (::stat(v.node.c_str(), &want) != 0) return std::nullopt;  // udev has not made the node yet
  std::ifstream in(mounts_);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string source, target;
    if (!(ls >> source >> target)) continue;
    source = unescapeMountField(source);
    struct stat st {};
    if (source == v.node || (::stat(source.c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == want.st_rdev)) {
      v.mountPoint = unescapeMountField(target);
      break;
    }
  }
  return v;
}

std::vector<std::string> LinuxVolumes::mountsOf(const std::string& disk) {
  std::vector<dev_t> devs;
  const std::string block = blockName(disk);
  std::vector<std::string> nodes{blockNode(disk)};
  for (const auto& p : partitionNames(block)) nodes.push_back(dev_ + "/" + p);
  for (const auto& n : nodes) {
    struct stat st {};
    if (::stat(n.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) devs.push_back(st.st_rdev);
  }
  std::vector<std::string> out;
  std::ifstream in(mounts_);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string source, target;
    if (!(ls >> source >> target)) continue;
    source = unescapeMountField(source);
    struct stat st {};
    bool mine = std::find(nodes.begin(), nodes.end(), source) != nodes.end();
    if (!mine && ::stat(source.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
      mine = std::find(devs.begin(), devs.end(), st.st_rdev) != devs.end();
    }
    if (mine) out.push_back(unescapeMountField(target));
  }
  return out;
}

bool LinuxVolumes::unmount(const std::string& mountPoint) {
  if (::umount2(mountPoint.c_str(), 0) != 0) {
    debugPrintf("unmount %s: %s", mountPoint.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

std::unique_ptr<ExclusiveHandle> LinuxVolumes::openExclusive(const std::string& node) {
  // O_EXCL on a block device fails with EBUSY while it is mounted or held.
  int fd = ::open(blockNode(node).c_str(), O_RDWR | O_EXCL | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_unique<ExclusiveFd>(fd);
}

bool LinuxVolumes::space(const VolumeInfo& volume, std::uint64_t& totalBytes, std::uint64_t& freeBytes) {
  if (volume.mountPoint.empty()) return false;
  struct statvfs st {};
  if (::statvfs(volume.mountPoint.c_str(), &st) != 0) return false;
  totalBytes = static_cast<std::uint64_t>(st.f_blocks) * st.f_frsize;
  freeBytes = static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
  return true;
}

}  // namespace qk
