#pragma once
// A scripted device tree and drive probe for the discovery tests.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "discovery/DriveProbe.h"
#include "platform/DeviceTree.h"
#include "platform/Removal.h"

namespace qk::test {

class FakeTree : public DeviceTree {
 public:
  std::shared_ptr<HubDesc> addRoot(const std::string& name, int ports) {
    roots.push_back(makeHub(name, ports));
    return roots.back();
  }
  static std::shared_ptr<HubDesc> makeHub(const std::string& name, int ports) {
    auto h = std::make_shared<HubDesc>();
    h->name = name;
    h->ports.resize(ports);
    return h;
  }
  static std::shared_ptr<HubDesc> addHub(HubDesc& parent, int port, const std::string& name, int ports) {
    auto h = makeHub(name, ports);
    parent.ports.at(port - 1).state = PortDesc::State::Hub;
    parent.ports.at(port - 1).hub = h;
    return h;
  }
  static void plug(HubDesc& hub, int port, const std::string& key, const std::string& serial = "0001",
                   std::uint16_t vid = 0x1234, std::uint16_t pid = 0x5678) {
    PortDesc& p = hub.ports.at(port - 1);
    p.state = PortDesc::State::Device;
    p.device = {key, "drv:" + key, vid, pid, serial};
  }
  static void unplug(HubDesc& hub, int port) { hub.ports.at(port - 1) = PortDesc{}; }
  void addDisk(const std::string& parentKey, const std::string& path, bool usb = true) {
    diskList.push_back({path, parentKey, "disk:" + path, "usb:" + parentKey, usb});
  }
  void removeDisk(const std::string& path) {
    std::erase_if(diskList, [&](const DiskDesc& d) { return d.devicePath == path; });
  }

  std::optional<std::vector<std::shared_ptr<HubDesc>>> rootHubs() override {
    ++walks;
    if (hubsFail) return std::nullopt;
    return roots;
  }
  std::optional<std::vector<DiskDesc>> disks() override {
    if (disksFail) return std::nullopt;
    return diskList;
  }

  std::vector<std::shared_ptr<HubDesc>> roots;
  std::vector<DiskDesc> diskList;
  bool hubsFail = false;
  bool disksFail = false;
  int walks = 0;
};

class FakeProbe : public DriveProbe {
 public:
  std::uint8_t identifyBridge(const std::string& path) override {
    auto it = codes.find(path);
    return it == codes.end() ? 10 : it->second;
  }
  void selectTransportPath(const std::string& path) override { selected.push_back(path); }
  void bindPort(int slot, const std::string& path) override { portPath[slot] = path; }
  bool setBridgeMode(int slot, bool on) override {
    bridgeModes.push_back({slot, on});
    return true;
  }
  std::uint32_t readCapacitySectors(int slot) override {
    auto it = capacity.find(portPath[slot]);
    return it == capacity.end() ? 0 : it->second;
  }

  std::map<std::string, std::uint8_t> codes;  // default: 10, a drive on USB
  std::map<std::string, std::uint32_t> capacity;
  std::vector<std::string> selected;
  std::map<int, std::string> portPath;
  std::vector<std::pair<int, bool>> bridgeModes;
};

// Unplugs a drive from the fake tree after it has refused `refusals` attempts.
class FakeRemoval : public Removal {
 public:
  bool remove(const std::string& usbInstance) override {
    std::lock_guard lock(mutex);
    int n = ++attempts[usbInstance];
    auto it = refusals.find(usbInstance);
    if (it != refusals.end() && n <= it->second) return false;
    removed.insert(usbInstance);
    if (onRemoved) onRemoved(usbInstance);
    return true;
  }
  std::mutex mutex;
  std::function<void(const std::string&)> onRemoved;
  std::map<std::string, int> refusals;  // usb instance -> attempts refused
  std::map<std::string, int> attempts;
  std::set<std::string> removed;
};

}  // namespace qk::test
