#pragma once
// Vendor command blocks sent as the CDB itself (FF 04 ...): every
// sub-operation on a drive that answers natively on USB; only the bridge
// set-up (sub-operation 0x32) behind a bridge, which the bridge takes.
#include "sim/SimDrive.h"

namespace qk::sim {

class VendorFamily : public SimCommandFamily {
 public:
  bool accepts(const SimDrive& drive, const SimCommand& command) const override;
  SimReply execute(SimDrive& drive, const SimCommand& command) override;
};

}  // namespace qk::sim
