#pragma once
// Discovery's questions to a drive, answered through the station's transport.
#include <array>
#include <mutex>

#include "discovery/DriveProbe.h"
#include "protocol/StandardCommands.h"
#include "run/PortContext.h"
#include "transport/DeviceTransport.h"

namespace qk {

class TransportProbe : public DriveProbe {
 public:
  explicit TransportProbe(DeviceTransport& transport) : transport_(transport), commands_(transport) {}

  std::uint8_t identifyBridge(const std::string& devicePath) override;
  void selectTransportPath(const std::string& devicePath) override;
  void bindPort(int slot, const std::string& devicePath) override;
  bool setBridgeMode(int slot, bool on) override;
  std::uint32_t readCapacitySectors(int slot) override;

  // The path bound to a slot; empty when none.
  std::string portPath(int slot) const;

 private:
  DeviceTransport& transport_;
  StandardCommands commands_;
  mutable std::mutex mutex_;
  std::array<std::string, SlotLimit> ports_;
};

}  // namespace qk
