#pragma once
// Safe removal of one USB device and the disks on it.
#include <string>

namespace qk {

class Removal {
 public:
  virtual ~Removal() = default;
  // One attempt; `usbInstance` is the port record's USB instance. True when the
  // device is gone (or going) without objection.
  virtual bool remove(const std::string& usbInstance) = 0;
};

}  // namespace qk
