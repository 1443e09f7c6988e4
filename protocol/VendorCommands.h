#pragma once
// The single vendor commands of one port, on whichever path the station is
// set to. Each returns 1 on success, 2 on failure and 3 when a status sector
// read through the bridge lacks its signature. Nothing here retries.
#include <cstdint>
#include <string>

#include "protocol/VendorCommand.h"
#include "transport/DeviceTransport.h"

namespace qk {

class VendorCommands {
 public:
  VendorCommands(DeviceTransport& transport, const std::string& devicePath)
      : t_(transport), path_(devicePath) {}

  TransportPath path() const { return t_.state().transportPath(); }
  VendorCommand command(std::uint8_t subOperation) const { return VendorCommand(path(), subOperation); }

  // USB: the block is the CDB. SATA: a WrappedOut of the block (LBA low FF),
  // then, with sectors, the data phase with LBA low = the sub-operation.
  int SendVendorCommand(bool dataIn, const VendorCommand& cmd, std::uint8_t* buffer, std::uint32_t sectors);

  // Boot ROM and firmware.
  int ReadLoaderInfo(std::uint8_t* buffer, std::uint32_t sectors);
  int ResetController(std::uint8_t resetMode);
  int RunRamCode();
  int SelectBootSource(std::uint8_t source);
  int ReadRegisterByte(std::uint32_t address, std::uint8_t& value);
  int WriteRegisterByte(std::uint32_t address, std::uint8_t value);
  int ReadRam(std::uint8_t area, std::uint32_t address, std::uint8_t* buffer, std::uint32_t sectors);
  int WriteRam(std::uint8_t area, std::uint32_t address, const std::uint8_t* buffer, std::uint32_t sectors);
  int ReadFlashId(std::uint8_t channel, std::uint8_t chipEnable, std::uint8_t* buffer, std::uint32_t sectors);
  int ReadFlashPage(std::uint8_t channel, std::uint8_t chipEnable, std::uint16_t block, std::uint16_t page,
                    std::uint8_t mode, std::uint8_t* buffer, std::uint32_t sectors);
  // All channels at once; the data holds one page per channel in channel order.
  int WriteFlashPage(std::uint8_t chipEnable, std::uint16_t block, std::uint16_t page, std::uint8_t mode,
                     const std::uint8_t* buffer, std::uint32_t sectors);
  int EraseFlashBlock(std::uint8_t channel, std::uint8_t chipEnable, std::uint16_t block);

  // General-purpose RAM program.
  int GetTaskStatus(std::uint8_t& status);
  int StartTask(std::uint8_t task, std::uint8_t flags);
  int ReadTaskResult(std::uint8_t which, std::uint8_t* buffer, std::uint32_t sectors);

  // Test RAM program.
  int GetTestStatus(std::uint8_t& status);
  // value: byte 1 of the answer when byte 0 says answered, else 0xFF.
  int RunTest(std::uint8_t test, std::uint16_t argument, std::uint8_t& value);
  int ReadTestReport(std::uint8_t* buffer, std::uint32_t sectors);
  int ReadTestMemory(std::uint8_t area, std::uint32_t address, std::uint8_t* buffer, std::uint32_t sectors);
  int WriteTestMemory(std::uint8_t area, std::uint32_t address, const std::uint8_t* buffer, std::uint32_t sectors);
  int WriteTestValue(std::uint32_t address, std::uint32_t value, const std::uint8_t* sector);

  // Low codes sent in loader mode and to the firmware alike.
  int ReadBadBlockStatistics(std::uint8_t a, std::uint8_t b, std::uint8_t* buffer, std::uint32_t sectors);
  int ReadFirmwarePagesRaw(std::uint8_t channelMask, std::uint16_t block, std::uint16_t page, std::uint8_t mode,
                           std::uint8_t* buffer, std::uint32_t sectors);

 private:
  // A one-sector status read: USB byte 0; SATA byte 0 must be E5, value in byte 1.
  int readStatus(const VendorCommand& cmd, std::uint8_t& value);

  DeviceTransport& t_;
  const std::string& path_;
};

}  // namespace qk
