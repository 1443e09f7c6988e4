#pragma once
// The USB topology and the disks on it, as plain descriptions. Discovery numbers
// the ports and binds the disks from these; the platform only reports what is
// there (sysfs on Linux, the simulated hubs on the bench).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qk {

struct UsbDeviceDesc {
  std::string locationKey;  // instance identifier of the device on its port
  std::string driverKey;
  std::uint16_t idVendor = 0;
  std::uint16_t idProduct = 0;
  std::string serial;       // serial-number string; empty when it declares none
};

struct HubDesc;

struct PortDesc {
  enum class State { Empty, Device, Hub };
  State state = State::Empty;
  UsbDeviceDesc device;          // State::Device
  std::shared_ptr<HubDesc> hub;  // State::Hub
};

struct HubDesc {
  std::string name;
  // False when the hub cannot be opened or gives no node information: the walk skips it.
  bool readable = true;
  std::vector<PortDesc> ports;  // one per port, port k at index k - 1
};

struct DiskDesc {
  std::string devicePath;       // the node commands open
  std::string parentKey;        // location key of the USB device the disk belongs to
  std::string diskInstance;     // platform handle of the disk node
  std::string parentInstance;   // platform handle of the USB device
  bool usbStorage = false;      // reached through a USB mass-storage interface
};

class DeviceTree {
 public:
  virtual ~DeviceTree() = default;
  // Root hubs to walk, in walk order (full-speed-only controllers left out).
  // nullopt: the hubs cannot be listed at all.
  virtual std::optional<std::vector<std::shared_ptr<HubDesc>>> rootHubs() = 0;
  // Every disk of the machine, USB mass storage or not. nullopt: cannot be listed.
  virtual std::optional<std::vector<DiskDesc>> disks() = 0;
};

}  // namespace qk
