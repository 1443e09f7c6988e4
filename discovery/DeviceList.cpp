#include "discovery/DeviceList.h"

#include <mutex>

#include "config/IniFile.h"
#include "platform/DebugOutput.h"

namespace qk {

bool EnumerateDisks(DeviceTree& tree, NamedLock& usbAccess, std::vector<DeviceRecord>& list, int capacity) {
  std::lock_guard guard(usbAccess);
  list.clear();
  auto disks = tree.disks();
  if (!disks) {
    debugPrintf("the disks cannot be listed");
    return false;
  }
  for (const DiskDesc& d : *disks) {
    if (!d.usbStorage) continue;
    if (static_cast<int>(list.size()) >= capacity) {
      debugPrintf("more than %d disks: %s and later ones left out", capacity, d.devicePath.c_str());
      break;
    }
    list.push_back({toLower(d.parentKey), d.devicePath, d.diskInstance, d.parentInstance, false});
  }
  return true;
}

}  // namespace qk
