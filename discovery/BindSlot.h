#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "discovery/DeviceList.h"
#include "discovery/DriveProbe.h"
#include "run/PortContext.h"

namespace qk {

// 1 "ide", 2 "scsi", 3 "usbstor", tested in that order on the lower-cased path; else 0.
std::uint8_t PathKindOf(const std::string& devicePath);

// Binds slot `slot`'s record to the first untaken disk whose parent is the
// record's USB device (location keys compared lower-cased), one disk per slot,
// identifies its bridge and lets it choose the transport path. Then sets
// `active` from the bridge code. True when a disk was matched in this call.
bool BindSlot(PortContext& record, int slot, std::vector<DeviceRecord>& list, DriveProbe& probe);

}  // namespace qk
