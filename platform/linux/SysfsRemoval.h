#pragma once
// Safe removal through sysfs: delete every SCSI device of the USB device (the
// kernel flushes and detaches its disks), then remove the USB device itself.
// A disk with a mounted file system or another exclusive holder is left alone.
#include "platform/Removal.h"
#include "platform/linux/LinuxVolumes.h"

namespace qk {

class SysfsRemoval : public Removal {
 public:
  // sysRoot and mountsFile let tests point at fixture trees.
  explicit SysfsRemoval(std::string sysRoot = "/sys", std::string mountsFile = "/proc/self/mounts")
      : volumes_(std::move(sysRoot), std::move(mountsFile)) {}

  // `usbInstance` is the USB device's sysfs folder.
  bool remove(const std::string& usbInstance) override;

 private:
  // Why a disk of the device must not be pulled now; empty when it may.
  std::string inUse(const std::string& blockName);

  LinuxVolumes volumes_;
};

}  // namespace qk
