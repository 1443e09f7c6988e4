#include "discovery/TransportProbe.h"

namespace qk {

std::uint8_t TransportProbe::identifyBridge(const std::string& devicePath) {
  return transport_.IdentifyBridge(devicePath);
}

void TransportProbe::selectTransportPath(const std::string& devicePath) {
  transport_.SelectTransportPath(devicePath);
}

void TransportProbe::bindPort(int slot, const std::string& devicePath) {
  if (slot < 0 || slot >= SlotLimit) return;
  std::lock_guard lock(mutex_);
  ports_[slot] = devicePath;
}

std::string TransportProbe::portPath(int slot) const {
  if (slot < 0 || slot >= SlotLimit) return {};
  std::lock_guard lock(mutex_);
  return ports_[slot];
}

bool TransportProbe::setBridgeMode(int slot, bool on) { return commands_.SetBridgeMode(portPath(slot), on) == 1; }

std::uint32_t TransportProbe::readCapacitySectors(int slot) { return commands_.ReadCapacitySectors(portPath(slot)); }

}  // namespace qk
