#pragma once
// The bench's hubs and what is plugged into their ports, as a device tree.
// A USB device's instance identifier is "USB\VID_vvvv&PID_pppp\<name>", upper
// case as the platform would report it; its removal handle is its name.
#include "platform/DeviceTree.h"
#include "platform/Hotplug.h"
#include "platform/Removal.h"

namespace qk::sim {
class Bench;
}

namespace qk {

class BenchDeviceTree : public DeviceTree {
 public:
  explicit BenchDeviceTree(sim::Bench& bench) : bench_(bench) {}
  std::optional<std::vector<std::shared_ptr<HubDesc>>> rootHubs() override;
  std::optional<std::vector<DiskDesc>> disks() override;

 private:
  sim::Bench& bench_;
};

// Plug and unplug on the bench, as notifications.
class BenchHotplug : public HotplugSource {
 public:
  explicit BenchHotplug(sim::Bench& bench) : bench_(bench) {}
  ~BenchHotplug() override { stop(); }
  bool start(std::function<void(DeviceChange)> onChange) override;
  void stop() override;

 private:
  sim::Bench& bench_;
  int listener_ = 0;
};

// Safe removal on the bench unplugs the simulated drive.
class BenchRemoval : public Removal {
 public:
  explicit BenchRemoval(sim::Bench& bench) : bench_(bench) {}
  bool remove(const std::string& usbInstance) override;

 private:
  sim::Bench& bench_;
};

}  // namespace qk
