#pragma once
// Arrivals and removals of USB devices, disks and SCSI generic nodes from the
// udev monitor, or from the kernel's uevents where no udev daemon runs.
#include <atomic>
#include <optional>
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
  // What an event of the monitor means for the rescan; nullopt: not ours.
  static std::optional<DeviceChange> classify(const char* subsystem, const char* devtype, const char* action);

 private:
  std::jthread thread_;
};

}  // namespace qk
