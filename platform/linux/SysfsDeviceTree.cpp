#include "platform/linux/SysfsDeviceTree.h"

#include <libudev.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <tuple>

namespace fs = std::filesystem;

namespace qk {

namespace {

std::string readAttr(const std::string& dir, const char* name) {
  std::ifstream in(dir + "/" + name);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && (line.back() == '\n' || line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return line;
}

int readInt(const std::string& dir, const char* name) { return std::atoi(readAttr(dir, name).c_str()); }

std::uint16_t readHex16(const std::string& dir, const char* name) {
  return static_cast<std::uint16_t>(std::strtoul(readAttr(dir, name).c_str(), nullptr, 16));
}

bool isHubDevice(const std::string& dir) { return readAttr(dir, "bDeviceClass") == "09"; }

// Driver of a sysfs device: the last component of its "driver" link.
std::string driverOf(const fs::path& dir) {
  std::error_code ec;
  fs::path target = fs::read_symlink(dir / "driver", ec);
  return ec ? std::string() : target.filename().string();
}

const std::regex usbInterfaceName(R"(\d+-[\d.]+:\d+\.\d+)");
const std::regex scsiDeviceName(R"(\d+:\d+:\d+:\d+)");
const std::regex rootHubName(R"(usb(\d+))");

constexpr int HubDepthLimit = 8;  // USB allows five tiers of hubs

struct UdevList {
  udev* u = udev_new();
  udev_enumerate* e = u ? udev_enumerate_new(u) : nullptr;
  ~UdevList() {
    if (e) udev_enumerate_unref(e);
    if (u) udev_unref(u);
  }
  // syspath of every device of `subsystem` whose DEVTYPE is `devtype`.
  std::optional<std::vector<std::string>> scan(const char* subsystem, const char* devtype) {
    if (!e || udev_enumerate_add_match_subsystem(e, subsystem) < 0 ||
        udev_enumerate_add_match_property(e, "DEVTYPE", devtype) < 0 || udev_enumerate_scan_devices(e) < 0) {
      return std::nullopt;
    }
    std::vector<std::string> out;
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) out.push_back(udev_list_entry_get_name(entry));
    return out;
  }
};

}  // namespace

SysfsDeviceTree::SysfsDeviceTree() : root_("/sys"), live_(true) {}

SysfsDeviceTree::SysfsDeviceTree(std::string root) : root_(std::move(root)), live_(false) {}

std::optional<std::map<std::string, std::string>> SysfsDeviceTree::usbDevices() const {
  std::map<std::string, std::string> out;
  if (live_) {
    UdevList list;
    auto paths = list.scan("usb", "usb_device");
    if (!paths) return std::nullopt;
    for (const auto& p : *paths) out[fs::path(p).filename().string()] = p;
    return out;
  }
  std::error_code ec;
  fs::directory_iterator it(root_ + "/bus/usb/devices", ec);
  if (ec) return std::nullopt;
  for (const auto& entry : it) {
    std::string name = entry.path().filename().string();
    if (name.find(':') != std::string::npos) continue;
    fs::path dir = fs::canonical(entry.path(), ec);
    if (!ec) out[name] = dir.string();
  }
  return out;
}

std::optional<std::vector<std::string>> SysfsDeviceTree::diskFolders() const {
  if (live_) {
    UdevList list;
    return list.scan("block", "disk");
  }
  std::error_code ec;
  fs::directory_iterator it(root_ + "/class/block", ec);
  if (ec) return std::nullopt;
  std::vector<std::string> out;
  for (const auto& entry : it) {
    fs::path dir = fs::canonical(entry.path(), ec);
    if (ec || fs::exists(dir / "partition")) continue;
    out.push_back(dir.string());
  }
  std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) {
    return fs::path(a).filename() < fs::path(b).filename();
  });
  return out;
}

UsbDeviceDesc SysfsDeviceTree::readDevice(const std::string& name, const std::string& dir) const {
  UsbDeviceDesc d;
  d.locationKey = name;
  // The device's node under /dev/bus/usb identifies this connection.
  char node[64];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", readInt(dir, "busnum"), readInt(dir, "devnum"));
  d.driverKey = node;
  d.idVendor = readHex16(dir, "idVendor");
  d.idProduct = readHex16(dir, "idProduct");
  d.serial = readAttr(dir, "serial");
  return d;
}

std::shared_ptr<HubDesc> SysfsDeviceTree::readHub(const std::string& name, const std::string& dir,
                                                  const std::string& bus,
                                                  const std::map<std::string, std::string>& devices,
                                                  int depth) const {
  auto hub = std::make_shared<HubDesc>();
  hub->name = name;
  const std::string maxchild = readAttr(dir, "maxchild");
  if (maxchild.empty()) {
    hub->readable = false;
    return hub;
  }
  hub->ports.resize(std::clamp(std::atoi(maxchild.c_str()), 0, 255));
  // Children are named by port path: bus-port for a root hub's ports, then .port per tier.
  const std::string prefix = depth == 0 ? bus + "-" : name + ".";
  for (size_t k = 1; k <= hub->ports.size(); ++k) {
    auto it = devices.find(prefix + std::to_string(k));
    if (it == devices.end()) continue;
    PortDesc& port = hub->ports[k - 1];
    if (isHubDevice(it->second)) {
      if (depth + 1 > HubDepthLimit) continue;
      port.state = PortDesc::State::Hub;
      port.hub = readHub(it->first, it->second, bus, devices, depth + 1);
    } else {
      port.state = PortDesc::State::Device;
      port.device = readDevice(it->first, it->second);
    }
  }
  return hub;
}

std::optional<std::vector<std::shared_ptr<HubDesc>>> SysfsDeviceTree::rootHubs() {
  auto devices = usbDevices();
  if (!devices) return std::nullopt;
  // Bus numbers follow the order controllers come up and can change between
  // boots; the controller's device path (its PCI address) does not. A
  // controller's own root hubs keep their order: high speed before super speed.
  struct Root {
    fs::path controller;
    double speed;
    int bus;
    std::string name;
  };
  std::vector<Root> roots;
  for (const auto& [name, dir] : *devices) {
    std::smatch m;
    if (!std::regex_match(name, m, rootHubName)) continue;
    roots.push_back({fs::path(dir).parent_path(), std::strtod(readAttr(dir, "speed").c_str(), nullptr),
                     std::stoi(m[1].str()), name});
  }
  std::sort(roots.begin(), roots.end(), [](const Root& a, const Root& b) {
    return std::tie(a.controller, a.speed, a.bus) < std::tie(b.controller, b.speed, b.bus);
  });
  std::vector<std::shared_ptr<HubDesc>> out;
  for (const Root& r : roots) {
    // Full-speed-only controllers get no slots.
    if (r.speed < 480.0) continue;
    out.push_back(readHub(r.name, devices->at(r.name), std::to_string(r.bus), *devices, 0));
  }
  return out;
}

std::optional<std::vector<DiskDesc>> SysfsDeviceTree::disks() {
  auto folders = diskFolders();
  if (!folders) return std::nullopt;
  std::vector<DiskDesc> out;
  for (const std::string& folder : *folders) {
    DiskDesc d;
    fs::path dir(folder);
    d.devicePath = "/dev/" + dir.filename().string();
    d.diskInstance = folder;
    bool directAccess = dir.filename().string().rfind("sr", 0) != 0;
    for (fs::path p = dir.parent_path(); !p.empty() && p != p.root_path(); p = p.parent_path()) {
      const std::string name = p.filename().string();
      if (std::regex_match(name, scsiDeviceName)) {
        d.diskInstance = p.string();
        // Peripheral type 0 (direct access) or 14 (reduced block commands);
        // CD-ROMs and other types are never production drives.
        const std::string type = readAttr(p.string(), "type");
        if (!type.empty()) directAccess = type == "0" || type == "14";
      }
      if (std::regex_match(name, usbInterfaceName)) {
        const std::string driver = driverOf(p);
        d.usbStorage = driver == "usb-storage" || driver == "uas";
        d.parentKey = p.parent_path().filename().string();
        d.parentInstance = p.parent_path().string();
        break;
      }
    }
    if (directAccess) out.push_back(std::move(d));
  }
  return out;
}

}  // namespace qk
