#pragma once
// SG_IO on a drive's SCSI generic node. The station names drives by their disk
// node (/dev/sdX); commands go through the disk's /dev/sgN, found from sysfs,
// so that closing a handle does not make udev re-probe the disk between the
// station's commands. One handle per drive stays open across its commands.
#include <map>
#include <memory>
#include <mutex>

#include "platform/AccessProblems.h"
#include "platform/PassThrough.h"

namespace qk {

class LinuxPassThrough : public PassThrough {
 public:
  // sysRoot lets tests point at fixture trees; problems (may be null) hears of
  // permission failures.
  explicit LinuxPassThrough(AccessProblems* problems = nullptr, std::string sysRoot = "/sys");

  PassThroughResult execute(const std::string& path, const PassThroughRequest& request) override;
  bool deviceNumber(const std::string& path, DeviceNumber& out) override;
  bool reset(const std::string& path, ResetLevel level) override;

  // The node commands to `path` go through: the disk's generic node when sysfs
  // names one, else the path itself.
  std::string commandNode(const std::string& path) const;
  // The /dev/bus/usb node of the USB device a disk belongs to; empty when none.
  std::string usbNode(const std::string& path) const;
  // The `disable` attribute of the hub port that device is plugged into; empty when none.
  std::string portDisable(const std::string& path) const;

 private:
  struct Handle;
  // The sysfs folder of the USB device a disk belongs to; empty when none.
  std::string usbDevice(const std::string& path) const;
  // The disk's SCSI device folder in sysfs; empty when none.
  std::string scsiDevice(const std::string& path) const;
  // The open handle of a drive, opened on demand. The kept handle is used
  // as it is (sysfs is read only when opening): under a line's load the
  // lookups cost more than the command. `fresh` looks again and reopens when
  // the node or the SCSI device changed.
  std::shared_ptr<Handle> handle(const std::string& path, int& error, bool fresh = false);
  void drop(const std::string& path, const std::shared_ptr<Handle>& h);

  AccessProblems* problems_;
  std::string sys_;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Handle>> handles_;
};

}  // namespace qk
