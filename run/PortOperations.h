#pragma once
// Everything a port worker asks of its drive, one call per operation of the
// production steps. The station's implementation sends the controller
// protocol and the disk operations to the port's device; tests script it.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "config/GlobalParameter.h"
#include "platform/PassThrough.h"

namespace qk {

using WorkBuffer = std::span<std::uint8_t>;  // the worker's 64 KiB reply buffer

// The drive identity record kept in the loader area (USB identity form).
struct UsbIdentity {
  std::string vendor;         // 8 characters
  std::string product;        // 16 characters
  std::string manufacturer;
  std::string productString;
  std::string serial;
};

class PortOperations {
 public:
  virtual ~PortOperations() = default;

  virtual bool isLoaderMode() = 0;
  virtual bool identifyDevice(WorkBuffer buffer) = 0;  // 512 bytes of IDENTIFY DEVICE data
  virtual bool inquiry(WorkBuffer buffer) = 0;         // 36 bytes
  virtual bool sendBridgeSetup(int value) = 0;

  virtual bool flashModuleTest(WorkBuffer buffer) = 0;
  virtual bool finishTables(WorkBuffer buffer) = 0;
  virtual bool busInterfaceTest(WorkBuffer buffer) = 0;
  virtual bool flashInterfaceTest(WorkBuffer buffer, std::int32_t& subCode, std::uint8_t& status) = 0;
  virtual bool dramTest(WorkBuffer buffer) = 0;
  virtual bool eraseSearch(WorkBuffer buffer) = 0;
  virtual bool findSystemBlocks(WorkBuffer buffer) = 0;
  virtual bool preformat(WorkBuffer buffer, bool eraseSearch, bool laterBad, bool repairUsed) = 0;
  // `parameters` is the port's own block as the worker left it (update mode
  // puts the drive's model number into it); the download writes that one.
  virtual bool downloadFirmware(WorkBuffer buffer, const GlobalParameter& parameters, const std::string& serial,
                                const std::string& ebPath, int familyCode) = 0;
  virtual bool checkTables(WorkBuffer buffer) = 0;
  virtual bool leaveLoaderMode(WorkBuffer buffer) = 0;
  // The 640-byte row table and the five column totals, zero-filled by the caller.
  virtual bool countBadBlocks(WorkBuffer buffer, std::span<std::uint8_t> rows,
                              std::array<std::uint32_t, 5>& totals) = 0;
  virtual bool checkTemperature(WorkBuffer buffer, std::uint8_t limit, std::uint8_t& temperature) = 0;
  virtual std::optional<UsbIdentity> readUsbIdentity(WorkBuffer buffer) = 0;
  virtual std::uint64_t readCapacitySectors() = 0;  // 0 when it cannot be read
  // SMART data into the buffer from offset 2 (the attributes the run log reads).
  virtual bool readSmartData(WorkBuffer buffer) = 0;

  // Out of loader mode, partition, wait for the system's volume (it names it),
  // format it FAT32 with the label.
  virtual bool diskFormat(const std::string& label, std::string& volume) = 0;
  virtual bool copyImage(const std::string& imagePath) = 0;
  virtual bool readSectors(std::uint32_t lba, std::uint32_t count, WorkBuffer buffer) = 0;
  virtual bool flushCache() = 0;
  virtual bool checkImage(const std::string& imagePath) = 0;

  // The R/W tests leave their five-word failure record in the buffer.
  virtual bool quickRwTest(WorkBuffer buffer) = 0;
  virtual bool rwTestPercentage(WorkBuffer buffer, int percent) = 0;
  virtual bool eraseAllData(WorkBuffer buffer) = 0;
  // Stamps addresses across the drive and reads them back; the failure record
  // goes into the buffer. `keepData`: put back what the stamps overwrote.
  virtual bool capacityProbe(WorkBuffer buffer, const std::string& driveId, bool keepData) = 0;

  // Called from another thread once the port is cut off: resets the drive so
  // that a command blocked on it returns. True when a reset was issued.
  virtual bool resetDrive(PassThrough::ResetLevel /*level*/) { return false; }
};

}  // namespace qk
