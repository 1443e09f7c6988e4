#pragma once
// USB arrivals and removals from the udev monitor.
#include <atomic>
#include <thread>

#include "platform/Hotplug.h"

namespace qk {

class UdevHotplug : public HotplugSource {
 public:
  ~UdevHotplug() override { stop(); }
  bool start(std::function<void(DeviceChange)> onChange) override;
  void stop() override;

 private:
  std::jthread thread_;
};

}  // namespace qk
