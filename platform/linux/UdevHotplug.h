#pragma once
// USB arrivals and removals from the udev monitor, or from the kernel's
// uevents where no udev daemon runs.
#include <atomic>
#include <thread>

#include "platform/Hotplug.h"

namespace qk {

class UdevHotplug : public HotplugSource {
 public:
  ~UdevHotplug() override { stop(); }
  bool start(std::function<void(DeviceChange)> onChange) override;
  void stop() override;

  // "udev" while the daemon's control socket exists, else "kernel".
  static const char* eventSource(const char* controlSocket = "/run/udev/control");

 private:
  std::jthread thread_;
};

}  // namespace qk
