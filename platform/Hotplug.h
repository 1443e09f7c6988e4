#pragma once
// Device-change notification: a USB device arrived or left.
#include <functional>

namespace qk {

enum class DeviceChange { Arrival, Removal };

class HotplugSource {
 public:
  virtual ~HotplugSource() = default;
  // Delivers every change to `onChange`, from a thread of the source, until stop().
  // False when notifications cannot be armed.
  virtual bool start(std::function<void(DeviceChange)> onChange) = 0;
  virtual void stop() = 0;
};

}  // namespace qk
