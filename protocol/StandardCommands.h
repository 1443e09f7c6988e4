#pragma once
// Standard ATA and SCSI commands sent beside the vendor commands, shaped by
// the station-wide transport path. Single commands return 1 (success) or 2.
#include <cstdint>
#include <string>

#include "transport/DeviceTransport.h"

namespace qk {

class StandardCommands {
 public:
  explicit StandardCommands(DeviceTransport& transport) : t_(transport) {}

  // IDENTIFY DEVICE into 512 bytes; bridge path only (fails without I/O on USB).
  int IdentifyDevice(const std::string& path, std::uint8_t* buffer);
  // SET FEATURES DC with 4A (on) or 4D (off); succeeds without I/O on USB.
  int SetBridgeMode(const std::string& path, bool on);
  // User capacity in sectors; 0 when it cannot be read.
  std::uint32_t ReadCapacitySectors(const std::string& path);
  // SMART READ DATA into 512 bytes; bridge path only.
  int SmartReadData(const std::string& path, std::uint8_t* buffer);
  // FLUSH CACHE; succeeds without I/O on USB.
  int FlushCache(const std::string& path);

  // READ(10)/WRITE(10) of user data, judged strictly (status and count). On
  // failure the buffer's first two little-endian words become the failure
  // kind (2 read, 1 write) and the LBA.
  int ReadUserSectors(const std::string& path, std::uint8_t* buffer, std::uint32_t sectors, std::uint32_t lba);
  int WriteUserSectors(const std::string& path, std::uint8_t* buffer, std::uint32_t sectors, std::uint32_t lba);

 private:
  DeviceTransport& t_;
};

}  // namespace qk
