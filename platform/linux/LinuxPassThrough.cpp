#include "platform/linux/LinuxPassThrough.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/DebugOutput.h"

namespace fs = std::filesystem;

namespace qk {

struct LinuxPassThrough::Handle {
  Handle(int f, std::string n, std::string d) : fd(f), node(std::move(n)), device(std::move(d)) {}
  ~Handle() { ::close(fd); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  int fd;
  std::string node;
  std::string device;  // the SCSI device's sysfs folder when opened
};

namespace {

std::string readAttr(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// The kernel's answers when a node is closed to us (open) or a command is
// refused for want of CAP_SYS_RAWIO (SG_IO).
bool isPermission(int error) { return error == EACCES || error == EPERM; }

bool isGone(int error) { return error == ENODEV || error == ENXIO; }

bool writeAttr(const std::string& file, const char* value) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const auto n = static_cast<ssize_t>(std::strlen(value));
  const bool ok = ::write(fd, value, static_cast<std::size_t>(n)) == n;
  ::close(fd);
  return ok;
}

}  // namespace

LinuxPassThrough::LinuxPassThrough(AccessProblems* problems, std::string sysRoot)
    : problems_(problems), sys_(std::move(sysRoot)) {}

std::string LinuxPassThrough::commandNode(const std::string& path) const {
  const std::string name = fs::path(path).filename().string();
  if (name.empty() || name.rfind("sg", 0) == 0) return path;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::path(sys_) / "class/block" / name / "device/scsi_generic", ec)) {
    return "/dev/" + e.path().filename().string();
  }
  return path;  // no sg driver: the disk node carries the commands
}

std::string LinuxPassThrough::usbDevice(const std::string& path) const {
  std::error_code ec;
  fs::path dir = fs::canonical(fs::path(sys_) / "class/block" / fs::path(path).filename(), ec);
  if (ec) return {};
  for (; !dir.empty() && dir != dir.root_path(); dir = dir.parent_path()) {
    if (dir.filename().string().find(':') != std::string::npos) continue;  // interfaces, SCSI addresses
    if (!readAttr(dir / "busnum").empty() && !readAttr(dir / "devnum").empty()) return dir.string();
  }
  return {};
}

std::string LinuxPassThrough::usbNode(const std::string& path) const {
  const std::string dir = usbDevice(path);
  if (dir.empty()) return {};
  char node[64];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", std::atoi(readAttr(fs::path(dir) / "busnum").c_str()),
                std::atoi(readAttr(fs::path(dir) / "devnum").c_str()));
  return node;
}

std::string LinuxPassThrough::portDisable(const std::string& path) const {
  const std::string dir = usbDevice(path);
  if (dir.empty()) return {};
  std::error_code ec;
  const fs::path port = fs::canonical(fs::path(dir) / "port", ec);
  if (ec || !fs::exists(port / "disable", ec)) return {};
  return (port / "disable").string();
}

std::string LinuxPassThrough::scsiDevice(const std::string& path) const {
  std::error_code ec;
  fs::path dir = fs::canonical(fs::path(sys_) / "class/block" / fs::path(path).filename() / "device", ec);
  return ec ? std::string() : dir.string();
}

std::shared_ptr<LinuxPassThrough::Handle> LinuxPassThrough::handle(const std::string& path, int& error, bool fresh) {
  if (!fresh) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(path);
    if (it != handles_.end()) return it->second;
  }
  const std::string node = commandNode(path);
  // A drive pulled and plugged again may get the same disk and generic names;
  // its SCSI address is new, and so must be the handle.
  const std::string device = scsiDevice(path);
  {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(path);
    if (it != handles_.end() && it->second->node == node && it->second->device == device) return it->second;
  }
  // Read-write: the kernel lets write-class commands through only on such a handle.
  int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    if (problems_ && isPermission(error)) problems_->report(path, node, AccessProblems::Missing::NodeAccess);
    return nullptr;
  }
  auto h = std::make_shared<Handle>(fd, node, device);
  std::lock_guard lock(mutex_);
  handles_[path] = h;
  return h;
}

void LinuxPassThrough::drop(const std::string& path, const std::shared_ptr<Handle>& h) {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(path);
  if (it != handles_.end() && it->second == h) handles_.erase(it);
}

PassThroughResult LinuxPassThrough::execute(const std::string& path, const PassThroughRequest& request) {
  PassThroughResult result;
  std::uint8_t sense[32] = {};
  sg_io_hdr_t hdr{};
  hdr.interface_id = 'S';
  switch (request.direction) {
    case DataDirection::In: hdr.dxfer_direction = SG_DXFER_FROM_DEV; break;
    case DataDirection::Out: hdr.dxfer_direction = SG_DXFER_TO_DEV; break;
    case DataDirection::None: hdr.dxfer_direction = SG_DXFER_NONE; break;
  }
  hdr.cmd_len = static_cast<unsigned char>(request.cdbLength);
  hdr.cmdp = const_cast<unsigned char*>(request.cdb);
  hdr.mx_sb_len = sizeof sense;
  hdr.sbp = sense;
  if (request.direction != DataDirection::None) {
    hdr.dxfer_len = request.length;
    hdr.dxferp = request.buffer;
  }
  hdr.timeout = request.timeoutMs;

  int error = 0;
  auto h = handle(path, error);
  if (!h) {
    result.osError = error;
    return result;
  }
  int rc = ::ioctl(h->fd, SG_IO, &hdr);
  if (rc != 0 && isGone(errno)) {
    // A drive pulled and plugged again may get the same disk and generic
    // names with a new SCSI device; the kept handle still points at the old
    // one, which refuses the command unsent. The same command goes once to
    // the device now at the path.
    const int gone = errno;
    drop(path, h);
    auto now = handle(path, error, true);
    if (now && now->device != h->device) {
      h = now;
      rc = ::ioctl(h->fd, SG_IO, &hdr);
    } else {
      errno = gone;
    }
  }
  if (rc != 0) {
    result.osError = errno;
    if (problems_ && isPermission(result.osError)) {
      problems_->report(path, h->node, AccessProblems::Missing::RawIo);
    }
    // The drive went away: the next command opens whatever is at the path then.
    if (isGone(result.osError)) drop(path, h);
  }
  result.sent = true;
  if (rc == 0) {
    // A CHECK CONDITION sets the driver's sense flag (0x08); only the low
    // bits and the host status tell of a transport failure or time-out.
    result.completed = hdr.host_status == 0 && (hdr.driver_status & 0x07) == 0;
    result.scsiStatus = hdr.status;
    std::int64_t moved = static_cast<std::int64_t>(hdr.dxfer_len) - hdr.resid;
    result.transferred = moved > 0 ? static_cast<std::uint32_t>(moved) : 0;
    if (!result.completed) result.osError = EIO;
  }
  return result;
}

bool LinuxPassThrough::reset(const std::string& path, ResetLevel level) {
  if (level == ResetLevel::UsbPort) {
    // usb-storage holds its device lock for the whole of a command, and both
    // its device reset and a USB reset wait for that lock: only the port
    // going dark (the device detached) ends the command. The drive then
    // enumerates afresh.
    const std::string disable = portDisable(path);
    if (!disable.empty()) {
      const bool off = writeAttr(disable, "1");
      ::usleep(200 * 1000);  // the hub needs a moment to see the port off
      const bool on = writeAttr(disable, "0");
      if (off && on) return true;
      debugPrintf("reset of %s through %s failed", path.c_str(), disable.c_str());
    }
  }
  const std::string node = level == ResetLevel::Device ? commandNode(path) : usbNode(path);
  if (node.empty()) return false;
  // A handle of its own: the drive's handle is busy with the blocked command.
  int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    debugPrintf("reset of %s: %s: %s", path.c_str(), node.c_str(), std::strerror(errno));
    return false;
  }
  int rc;
  if (level == ResetLevel::Device) {
    int op = SG_SCSI_RESET_DEVICE;
    rc = ::ioctl(fd, SG_SCSI_RESET, &op);
  } else {
    rc = ::ioctl(fd, USBDEVFS_RESET, 0);
  }
  if (rc != 0) debugPrintf("reset of %s through %s: %s", path.c_str(), node.c_str(), std::strerror(errno));
  ::close(fd);
  return rc == 0;
}

bool LinuxPassThrough::deviceNumber(const std::string& path, DeviceNumber& out) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return false;
  if (!S_ISBLK(st.st_mode) && !S_ISCHR(st.st_mode)) return false;
  out.blockDevice = S_ISBLK(st.st_mode);
  out.major = ::major(st.st_rdev);
  out.minor = ::minor(st.st_rdev);
  return true;
}

}  // namespace qk
