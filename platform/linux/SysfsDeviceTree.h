#pragma once
// The USB topology from sysfs: root hubs usbN of at least high speed (in their
// controllers' order), port counts from `maxchild`, devices named by port path
// (N-p.q), and the direct-access disks whose sysfs path passes through a USB
// mass-storage interface.
#include <map>
#include <string>
#include <vector>

#include "platform/DeviceTree.h"

namespace qk {

class SysfsDeviceTree : public DeviceTree {
 public:
  // The live system, listed through libudev.
  SysfsDeviceTree();
  // A tree shaped like /sys below `root` (tests), listed with directory reads.
  explicit SysfsDeviceTree(std::string root);

  std::optional<std::vector<std::shared_ptr<HubDesc>>> rootHubs() override;
  std::optional<std::vector<DiskDesc>> disks() override;

 private:
  // USB device name -> its sysfs folder; interfaces (names with ':') left out.
  std::optional<std::map<std::string, std::string>> usbDevices() const;
  // sysfs folders of whole disks (no partitions).
  std::optional<std::vector<std::string>> diskFolders() const;
  std::shared_ptr<HubDesc> readHub(const std::string& name, const std::string& dir, const std::string& bus,
                                   const std::map<std::string, std::string>& devices, int depth) const;
  UsbDeviceDesc readDevice(const std::string& name, const std::string& dir) const;

  std::string root_;
  bool live_;
};

}  // namespace qk
