#pragma once
// A SectorDevice over the transport's READ(10)/WRITE(10) and the standard
// commands. It has no loader-mode handling of its own: a drive in loader
// mode is taken as it is.
#include "diskops/SectorDevice.h"
#include "protocol/StandardCommands.h"
#include "transport/DeviceTransport.h"

namespace qk {

class TransportSectorDevice : public SectorDevice {
 public:
  TransportSectorDevice(DeviceTransport& transport, std::string path)
      : t_(transport), cmd_(transport), path_(std::move(path)) {}

  const std::string& path() const override { return path_; }
  bool readSectors(std::uint32_t lba, std::uint32_t count, std::uint8_t* buffer) override;
  bool writeSectors(std::uint32_t lba, std::uint32_t count, const std::uint8_t* buffer) override;
  std::uint32_t capacitySectors() override;
  void flushCache() override;
  bool leaveLoaderMode(std::uint8_t*) override { return true; }

 private:
  DeviceTransport& t_;
  StandardCommands cmd_;
  std::string path_;
};

}  // namespace qk
