#include "platform/linux/SysfsRemoval.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

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

bool SysfsRemoval::remove(const std::string& usbInstance) {
  if (usbInstance.empty()) return false;
  const fs::path dir(usbInstance);
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return false;
  static const std::regex scsiDevice(R"(\d+:\d+:\d+:\d+)");
  std::vector<fs::path> scsi;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_directory(ec) && std::regex_match(it->path().filename().string(), scsiDevice)) {
      scsi.push_back(it->path());
    }
  }
  for (const auto& p : scsi) writeAttr(p / "delete", "1");
  return writeAttr(dir / "remove", "1");
}

}  // namespace qk
