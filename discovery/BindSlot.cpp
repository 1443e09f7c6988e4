#include "discovery/BindSlot.h"

#include "config/IniFile.h"

namespace qk {

std::uint8_t PathKindOf(const std::string& devicePath) {
  std::string p = toLower(devicePath);
  if (p.find("ide") != std::string::npos) return 1;
  if (p.find("scsi") != std::string::npos) return 2;
  if (p.find("usbstor") != std::string::npos) return 3;
  return 0;
}

bool BindSlot(PortContext& record, int slot, std::vector<DeviceRecord>& list, DriveProbe& probe) {
  record.locationKey.assign(toLower(record.locationKey.str()));
  const std::string key = record.locationKey.str();
  bool matched = false;
  if (!key.empty()) {
    for (DeviceRecord& d : list) {
      if (d.taken || d.parentId != key) continue;
      record.devicePath.assign(d.devicePath);
      record.diskInstance.assign(d.diskInstance);
      record.usbInstance.assign(d.parentInstance);
      probe.bindPort(slot, d.devicePath);
      record.bridgeCode = probe.identifyBridge(d.devicePath);
      d.taken = true;
      probe.selectTransportPath(d.devicePath);
      matched = true;
      break;
    }
  }
  if (record.bridgeCode != 0) {
    record.active = 1;
    if (matched) record.pathKind = PathKindOf(record.devicePath.str());
  } else {
    record.active = 0;
  }
  return matched;
}

}  // namespace qk
