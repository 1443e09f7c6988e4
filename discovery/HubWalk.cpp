#include "discovery/HubWalk.h"

#include "platform/DebugOutput.h"

namespace qk {

namespace {

struct Walk {
  PortTable& table;
  int base = 0;
  int slotCount = 0;
  int hubsSeen = 0;

  // Hub chains are at most a few tiers deep; the cap only guards a malformed tree.
  static constexpr int DepthLimit = 16;

  bool admit(const HubDesc& hub) {
    if (hubsSeen >= HubWalk::HubLimit) {
      debugPrintf("hub %s beyond the limit of %d hubs: not walked", hub.name.c_str(), HubWalk::HubLimit);
      return false;
    }
    ++hubsSeen;
    if (!hub.readable) {
      debugPrintf("hub %s gives no node information: skipped", hub.name.c_str());
      return false;
    }
    return true;
  }

  void record(int slot, const UsbDeviceDesc& dev) {
    if (slot >= SlotLimit) {
      debugPrintf("device %s on slot %d beyond the table: not recorded", dev.locationKey.c_str(), slot);
      return;
    }
    PortContext& r = table[slot];
    if (!dev.driverKey.empty() && !dev.locationKey.empty()) {
      r.driverKey.assign(dev.driverKey);
      r.locationKey.assign(dev.locationKey);
    }
    r.configured = 1;
    r.usbVendorId = dev.idVendor;
    r.usbProductId = dev.idProduct;
    r.usbSerial.assign(dev.serial);
  }

  void walkHub(const HubDesc& hub, int depth) {
    const int n = static_cast<int>(hub.ports.size());
    slotCount += n;
    for (int k = 1; k <= n; ++k) {
      const PortDesc& port = hub.ports[k - 1];
      switch (port.state) {
        case PortDesc::State::Empty:
          break;
        case PortDesc::State::Hub:
          if (!port.hub || depth + 1 > DepthLimit || !admit(*port.hub)) break;
          walkHub(*port.hub, depth + 1);
          base += static_cast<int>(port.hub->ports.size());
          break;
        case PortDesc::State::Device:
          record(base + k - 1, port.device);
          break;
      }
    }
  }
};

}  // namespace

int HubWalk::run(DeviceTree& tree, PortTable& scanTable) {
  auto roots = tree.rootHubs();
  if (!roots) {
    debugPrintf("the hubs cannot be listed");
    return 0;
  }
  Walk walk{scanTable};
  for (const auto& root : *roots) {
    if (!root || !walk.admit(*root)) continue;
    walk.walkHub(*root, 0);
    walk.base += static_cast<int>(root->ports.size());
  }
  return walk.slotCount;
}

}  // namespace qk
