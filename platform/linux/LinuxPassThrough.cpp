#include "platform/linux/LinuxPassThrough.h"

#include <cerrno>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace qk {

PassThroughResult LinuxPassThrough::execute(const std::string& path, const PassThroughRequest& request) {
  PassThroughResult result;
  int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    result.osError = errno;
    return result;
  }
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

  result.sent = true;
  int rc = ::ioctl(fd, SG_IO, &hdr);
  if (rc < 0) {
    result.osError = errno;
  } else {
    // A CHECK CONDITION sets the driver's sense flag (0x08); only the low
    // bits and the host status tell of a transport failure or time-out.
    result.completed = hdr.host_status == 0 && (hdr.driver_status & 0x07) == 0;
    result.scsiStatus = hdr.status;
    std::int64_t moved = static_cast<std::int64_t>(hdr.dxfer_len) - hdr.resid;
    result.transferred = moved > 0 ? static_cast<std::uint32_t>(moved) : 0;
    if (!result.completed) result.osError = EIO;
  }
  ::close(fd);
  return result;
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
