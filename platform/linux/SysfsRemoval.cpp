#include "platform/linux/SysfsRemoval.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <filesystem>
#include <regex>

#include "platform/DebugOutput.h"

namespace fs = std::filesystem;

namespace qk {

namespace {

// Writes to an existing attribute only; sysfs attributes are never created.
bool writeAttr(const fs::path& file, const char* value) {
  int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t n = static_cast<ssize_t>(std::char_traits<char>::length(value));
  bool ok = ::write(fd, value, static_cast<size_t>(n)) == n;
  ::close(fd);
  return ok;
}

}  // namespace

std::string SysfsRemoval::inUse(const std::string& blockName) {
  const std::string node = "/dev/" + blockName;
  auto mounts = volumes_.mountsOf(node);
  if (!mounts.empty()) return node + " is mounted on " + mounts.front();
  // O_EXCL on a block device fails with EBUSY while a file system, a mapper
  // or another exclusive user holds it. Read-only, so closing it stirs no udev.
  int fd = ::open(node.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    ::close(fd);
    return {};
  }
  return errno == EBUSY ? node + " is in use" : std::string();
}

bool SysfsRemoval::remove(const std::string& usbInstance) {
  if (usbInstance.empty()) return false;
  const fs::path dir(usbInstance);
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return false;
  static const std::regex scsiDevice(R"(\d+:\d+:\d+:\d+)");
  std::vector<fs::path> scsi;
  std::vector<std::string> disks;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_directory(ec)) continue;
    if (std::regex_match(it->path().filename().string(), scsiDevice)) scsi.push_back(it->path());
    if (it->path().parent_path().filename() == "block") disks.push_back(it->path().filename().string());
  }
  for (const auto& disk : disks) {
    const std::string why = inUse(disk);
    if (!why.empty()) {
      debugPrintf("removal of %s refused: %s", usbInstance.c_str(), why.c_str());
      return false;
    }
  }
  for (const auto& p : scsi) writeAttr(p / "delete", "1");
  return writeAttr(dir / "remove", "1");
}

}  // namespace qk
