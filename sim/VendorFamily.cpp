#include "sim/VendorFamily.h"

namespace qk::sim {

bool VendorFamily::accepts(const SimDrive& drive, const SimCommand& c) const {
  if (c.cdb[0] != 0xFF || c.cdbLength < 12 || c.cdb[1] != 0x04) return false;
  return drive.nativeUsb() || c.cdb[2] == 0x32;
}

SimReply VendorFamily::execute(SimDrive& drive, const SimCommand& c) {
  return drive.controller().vendor(c.cdb, false, c.direction, c.data, c.length);
}

}  // namespace qk::sim
