#include "platform/linux/MachineCheck.h"

#include <grp.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/linux/LinuxPassThrough.h"
#include "platform/linux/UdevHotplug.h"

namespace fs = std::filesystem;

namespace qk {

namespace {

constexpr int kCapSysRawio = 17;

// The effective capability set from the process's status file.
std::uint64_t effectiveCaps(const std::string& statusFile) {
  std::ifstream in(statusFile);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("CapEff:", 0) == 0) return std::stoull(line.substr(7), nullptr, 16);
  }
  return 0;
}

// True when the file carries CAP_SYS_RAWIO in its permitted set.
bool fileHasRawio(const std::string& program) {
  std::uint8_t data[24] = {};
  const ssize_t n = ::getxattr(program.c_str(), "security.capability", data, sizeof data);
  if (n < 8) return false;
  const std::uint32_t permitted = data[4] | data[5] << 8 | data[6] << 16 | static_cast<std::uint32_t>(data[7]) << 24;
  return (permitted >> kCapSysRawio) & 1u;
}

bool inGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
  const int n = ::getgroups(static_cast<int>(groups.size()), groups.data());
  for (int i = 0; i < n; ++i) {
    if (groups[static_cast<std::size_t>(i)] == gid) return true;
  }
  return false;
}

MachineCheckItem item(std::string name, bool ok, std::string detail, std::string fix) {
  return {std::move(name), ok, std::move(detail), ok ? std::string() : std::move(fix)};
}

}  // namespace

bool MachineCheck::root() const { return ::geteuid() == 0; }

MachineCheckItem MachineCheck::capability() const {
  const bool effective = (effectiveCaps(paths_.procStatus) >> kCapSysRawio) & 1u;
  std::string missing;
  for (const auto& p : paths_.programs) {
    if (fs::exists(p) && !fileHasRawio(p)) missing += (missing.empty() ? "" : " ") + p;
  }
  const std::string fix = "sudo setcap cap_sys_rawio+ep " + (missing.empty() ? std::string("<program>") : missing);
  if (!effective) return item("capability", false, "CAP_SYS_RAWIO is not in effect: vendor commands are refused", fix);
  if (!missing.empty()) {
    return item("capability", false, "CAP_SYS_RAWIO in effect here, but not set on " + missing, fix);
  }
  return item("capability", true, "CAP_SYS_RAWIO in effect", {});
}

MachineCheckItem MachineCheck::group() const {
  const struct group* g = ::getgrnam(kStationGroup);
  if (!g) {
    return item("group", false, std::string("no group ") + kStationGroup,
                std::string("sudo groupadd --system ") + kStationGroup + " && sudo usermod -aG " + kStationGroup +
                    " $USER (then log in again)");
  }
  if (root()) return item("group", true, std::string("running as root; group ") + kStationGroup + " exists", {});
  if (!inGroup(g->gr_gid)) {
    return item("group", false, std::string("this user is not in the group ") + kStationGroup,
                std::string("sudo usermod -aG ") + kStationGroup + " $USER (then log in again)");
  }
  return item("group", true, std::string("member of ") + kStationGroup, {});
}

MachineCheckItem MachineCheck::rule() const {
  for (const auto& dir : paths_.rulesDirs) {
    const fs::path p = fs::path(dir) / kUdevRuleName;
    std::error_code ec;
    if (fs::exists(p, ec)) return item("udev rule", true, p.string(), {});
  }
  return item("udev rule", false, std::string(kUdevRuleName) + " is not installed",
              std::string("sudo cp packaging/") + kUdevRuleName +
                  " /etc/udev/rules.d/ && sudo udevadm control --reload && sudo udevadm trigger");
}

std::vector<MachineCheckItem> MachineCheck::nodes(DeviceTree& tree) const {
  std::vector<MachineCheckItem> out;
  auto disks = tree.disks();
  if (!disks) {
    out.push_back(item("drives", false, "the disks cannot be listed", "check that " + paths_.sysRoot + " is mounted"));
    return out;
  }
  LinuxPassThrough pt(nullptr, paths_.sysRoot);
  for (const auto& d : *disks) {
    if (!d.usbStorage) continue;
    std::vector<std::string> nodes{d.devicePath};
    const std::string generic = pt.commandNode(d.devicePath);
    if (generic != d.devicePath) nodes.push_back(generic);
    std::string denied;
    for (const auto& n : nodes) {
      if (::access(n.c_str(), R_OK | W_OK) != 0) denied += (denied.empty() ? "" : " ") + n;
    }
    const std::string all = nodes.size() > 1 ? nodes[0] + " " + nodes[1] : nodes[0];
    out.push_back(item("drive " + d.parentKey, denied.empty(),
                       denied.empty() ? all + " read-write" : "no read-write access to " + denied,
                       std::string("install the udev rule and join the group ") + kStationGroup +
                           ", then unplug and plug the drive"));
  }
  if (out.empty()) out.push_back(item("drives", true, "no USB drive attached", {}));
  return out;
}

MachineCheckItem MachineCheck::udev() const {
  std::error_code ec;
  const bool running = fs::exists(paths_.udevControl, ec);
  return item("udev", running, running ? "the udev daemon is running" : "no udev daemon (" + paths_.udevControl + ")",
              "start systemd-udevd: without it the nodes keep root-only permissions");
}

MachineCheckItem MachineCheck::hotplug() const {
  const std::string source = UdevHotplug::eventSource(paths_.udevControl.c_str());
  UdevHotplug monitor;
  const bool armed = monitor.start([](DeviceChange) {});
  monitor.stop();
  return item("hot-plug", armed,
              std::string(armed ? "" : "cannot listen to ") +
                  (source == "udev" ? "device changes from udev" : "device changes from the kernel's uevents"),
              "without device-change notifications only Refresh finds new drives");
}

std::vector<MachineCheckItem> MachineCheck::run(DeviceTree& tree) const {
  std::vector<MachineCheckItem> out{capability(), group(), rule()};
  for (auto& n : nodes(tree)) out.push_back(std::move(n));
  out.push_back(udev());
  out.push_back(hotplug());
  return out;
}

}  // namespace qk
