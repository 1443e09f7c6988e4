#pragma once
// SG_IO on a device node (/dev/sdX or /dev/sgN).
#include "platform/PassThrough.h"

namespace qk {

class LinuxPassThrough : public PassThrough {
 public:
  PassThroughResult execute(const std::string& path, const PassThroughRequest& request) override;
  bool deviceNumber(const std::string& path, DeviceNumber& out) override;
};

}  // namespace qk
