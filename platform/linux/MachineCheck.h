#pragma once
// What a station needs of the machine to work with real drives without root:
// the capability for vendor commands, the group and udev rule that open the
// drives' nodes, the nodes themselves, a udev daemon for hot-plug. Each check
// says what to fix when it fails.
#include <string>
#include <vector>

#include "platform/DeviceTree.h"

namespace qk {

struct MachineCheckItem {
  std::string name;    // "capability", "group", ...
  bool ok = false;
  std::string detail;  // what was found
  std::string fix;     // what to do; empty when ok
};

struct MachinePaths {
  std::string procStatus = "/proc/self/status";
  std::vector<std::string> rulesDirs{"/etc/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
  std::string udevControl = "/run/udev/control";
  std::string sysRoot = "/sys";
  std::vector<std::string> programs;  // binaries that need the capability
};

inline constexpr const char* kStationGroup = "qkstation";
inline constexpr const char* kUdevRuleName = "70-qkstation.rules";

class MachineCheck {
 public:
  explicit MachineCheck(MachinePaths paths) : paths_(std::move(paths)) {}

  // Every check, in the order they are printed; `tree` lists the attached drives.
  std::vector<MachineCheckItem> run(DeviceTree& tree) const;

  MachineCheckItem capability() const;
  MachineCheckItem group() const;
  MachineCheckItem rule() const;
  // One item per USB-attached disk: its block and generic nodes readable and writable.
  std::vector<MachineCheckItem> nodes(DeviceTree& tree) const;
  MachineCheckItem udev() const;
  MachineCheckItem hotplug() const;

 private:
  bool root() const;
  MachinePaths paths_;
};

}  // namespace qk
