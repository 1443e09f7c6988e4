#pragma once
// Standard SCSI commands every simulated drive answers: INQUIRY,
// READ CAPACITY(10), READ(10), WRITE(10), TEST UNIT READY.
#include "sim/SimDrive.h"

namespace qk::sim {

class ScsiFamily : public SimCommandFamily {
 public:
  bool accepts(const SimDrive& drive, const SimCommand& command) const override;
  SimReply execute(SimDrive& drive, const SimCommand& command) override;

 private:
  SimReply inquiry(SimDrive& drive, const SimCommand& command);
  SimReply readCapacity(SimDrive& drive, const SimCommand& command);
  SimReply readWrite(SimDrive& drive, const SimCommand& command, bool write);
};

}  // namespace qk::sim
