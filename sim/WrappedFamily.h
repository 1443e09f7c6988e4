#pragma once
// Vendor commands wrapped in ATA PASS-THROUGH(12) behind a bridge: a command
// sector (LBA low 0xFF) carrying the block, then a data phase whose LBA low is
// the sub-operation. All three code sets are understood.
#include "sim/SimDrive.h"

namespace qk::sim {

class WrappedFamily : public SimCommandFamily {
 public:
  bool accepts(const SimDrive& drive, const SimCommand& command) const override;
  SimReply execute(SimDrive& drive, const SimCommand& command) override;
};

}  // namespace qk::sim
