#pragma once
// The USB mass-storage disks of one enumeration, each with the USB device it
// belongs to. Rebuilt from scratch by every enumeration.
#include <string>
#include <vector>

#include "platform/DeviceTree.h"
#include "platform/Locks.h"

namespace qk {

struct DeviceRecord {
  std::string parentId;        // lower-cased location key of the parent USB device
  std::string devicePath;
  std::string diskInstance;
  std::string parentInstance;
  bool taken = false;          // given to a slot by this enumeration's binding
};

constexpr int DeviceListLimit = 256;

// Fills `list` with at most `capacity` USB mass-storage disks. False when the
// disks cannot be listed; disks that are not USB mass storage never enter it.
// Holds `usbAccess` (the station's "QKUSBAcess") on every way out.
bool EnumerateDisks(DeviceTree& tree, NamedLock& usbAccess, std::vector<DeviceRecord>& list, int capacity);

}  // namespace qk
