#include "diskops/TransportSectorDevice.h"

#include "transport/AtaPassThrough12.h"

namespace qk {

std::unique_ptr<SectorDevice> MakeSectorDevice(DeviceTransport& transport, const std::string& path) {
  return std::make_unique<TransportSectorDevice>(transport, path);
}

bool TransportSectorDevice::readSectors(std::uint32_t lba, std::uint32_t count, std::uint8_t* buffer) {
  return t_.ReadSectors(path_, buffer, lba, count * 512) == 1;
}

bool TransportSectorDevice::writeSectors(std::uint32_t lba, std::uint32_t count, const std::uint8_t* buffer) {
  return t_.WriteSectors(path_, buffer, lba, count * 512) == 1;
}

std::uint32_t TransportSectorDevice::capacitySectors() { return cmd_.ReadCapacitySectors(path_); }

// A1 06 00 00 00 00 00 E0 00 E7 00 00 (non-data); not sent on the USB path
void TransportSectorDevice::flushCache() {
  if (t_.state().transportPath() == TransportPath::UsbPath) return;
  AtaPassThrough12 ata;
  ata.protocol = AtaProtocol::NonData;
  ata.device = 0xE0;
  ata.command = 0xE7;
  auto cdb = ata.encode();
  t_.SendCommand(path_, false, cdb.data(), cdb.size(), nullptr, 0);
}

}  // namespace qk
