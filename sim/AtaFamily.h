#pragma once
// Standard ATA commands a bridged drive answers inside ATA PASS-THROUGH(12):
// IDENTIFY DEVICE, SET FEATURES, SMART READ DATA, FLUSH CACHE.
#include "sim/SimDrive.h"

namespace qk::sim {

class AtaFamily : public SimCommandFamily {
 public:
  bool accepts(const SimDrive& drive, const SimCommand& command) const override;
  SimReply execute(SimDrive& drive, const SimCommand& command) override;

  // The drive's 512-byte IDENTIFY DEVICE data.
  static void identifyData(const SimDrive& drive, std::uint8_t* out);
};

}  // namespace qk::sim
