#pragma once
// What device discovery asks of a bound drive: its bridge, the station-wide
// transport choice, the bridge mode and the capacity. The station's transport
// implements it; tests script it.
#include <cstdint>
#include <string>

namespace qk {

class DriveProbe {
 public:
  virtual ~DriveProbe() = default;
  // The drive's bridge code from its INQUIRY token; 0 when unknown or failed.
  virtual std::uint8_t identifyBridge(const std::string& devicePath) = 0;
  // Lets the drive's bridge decide the station-wide transport path.
  virtual void selectTransportPath(const std::string& devicePath) = 0;
  // Port-indexed commands of slot `slot` address this path from now on.
  virtual void bindPort(int slot, const std::string& devicePath) = 0;
  virtual bool setBridgeMode(int slot, bool on) = 0;
  // Number of sectors; 0 when the read failed.
  virtual std::uint32_t readCapacitySectors(int slot) = 0;
};

}  // namespace qk
