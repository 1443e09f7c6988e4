#pragma once
// What the disk operations need of one drive: user sectors in and out, the
// capacity, a cache flush and getting the drive out of loader mode. Outcomes
// are plain flags; the failure records of the read/write tests are written
// by the callers.
#include <cstdint>
#include <memory>
#include <string>

namespace qk {

class DeviceTransport;

class SectorDevice {
 public:
  virtual ~SectorDevice() = default;
  // The drive's device path (what the volume queries name).
  virtual const std::string& path() const = 0;
  // count sectors of 512 bytes, at most 128 per call.
  virtual bool readSectors(std::uint32_t lba, std::uint32_t count, std::uint8_t* buffer) = 0;
  virtual bool writeSectors(std::uint32_t lba, std::uint32_t count, const std::uint8_t* buffer) = 0;
  // User capacity in sectors; 0 when it cannot be read.
  virtual std::uint32_t capacitySectors() = 0;
  // FLUSH CACHE where the path carries it; the answer cannot mean failure.
  virtual void flushCache() = 0;
  // Leaves the boot ROM for the firmware when the drive is in loader mode.
  virtual bool leaveLoaderMode(std::uint8_t* work) = 0;
};

// The device the station's disk operations use for a drive path.
std::unique_ptr<SectorDevice> MakeSectorDevice(DeviceTransport& transport, const std::string& path);

}  // namespace qk
