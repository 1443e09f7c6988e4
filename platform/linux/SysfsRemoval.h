#pragma once
// Safe removal through sysfs: delete every SCSI device of the USB device (the
// kernel flushes and detaches its disks), then remove the USB device itself.
#include "platform/Removal.h"

namespace qk {

class SysfsRemoval : public Removal {
 public:
  // `usbInstance` is the USB device's sysfs folder.
  bool remove(const std::string& usbInstance) override;
};

}  // namespace qk
