#include "protocol/VendorCommands.h"

#include <array>
#include <cstring>

namespace qk {

int VendorCommands::SendVendorCommand(bool dataIn, const VendorCommand& cmd, std::uint8_t* buffer,
                                      std::uint32_t sectors) {
  const std::uint32_t length = sectors * 512;
  if (path() == TransportPath::UsbPath) {
    return t_.SendCommand(path_, dataIn, cmd.bytes.data(), cmd.bytes.size(), sectors ? buffer : nullptr, length) == 1
               ? 1
               : 2;
  }
  // The wrapped data phase counts sectors in one byte; more would not match the buffer.
  if (sectors > 0xFF) return 2;
  const std::uint8_t variant = t_.state().ataWrapVariant();
  std::array<std::uint8_t, 512> block{};
  std::memcpy(block.data(), cmd.bytes.data(), cmd.bytes.size());
  auto out = WrappedCdb(WrapDirection::Out, variant, 1, 0xFF);
  if (t_.SendCommand(path_, false, out.data(), out.size(), block.data(), 512) != 1) return 2;
  if (sectors == 0) return 1;
  auto data = WrappedCdb(dataIn ? WrapDirection::In : WrapDirection::Out, variant,
                         static_cast<std::uint8_t>(sectors), cmd.subOperation());
  return t_.SendCommand(path_, dataIn, data.data(), data.size(), buffer, length) == 1 ? 1 : 2;
}

int VendorCommands::readStatus(const VendorCommand& cmd, std::uint8_t& value) {
  std::array<std::uint8_t, 512> sector{};
  if (SendVendorCommand(true, cmd, sector.data(), 1) != 1) return 2;
  if (path() == TransportPath::UsbPath) {
    value = sector[0];
    return 1;
  }
  if (sector[0] != kSataStatusSignature) return 3;
  value = sector[1];
  return 1;
}

int VendorCommands::ReadLoaderInfo(std::uint8_t* buffer, std::uint32_t sectors) {
  return SendVendorCommand(true, command(subop::ReadLoaderInfo), buffer, sectors);
}

// byte 3: reset mode (always 1 through a bridge)
int VendorCommands::ResetController(std::uint8_t resetMode) {
  if (path() == TransportPath::SataPath) resetMode = 1;
  return SendVendorCommand(false, command(subop::ResetController).put8(3, resetMode), nullptr, 0);
}

int VendorCommands::RunRamCode() { return SendVendorCommand(false, command(subop::RunRamCode), nullptr, 0); }

// byte 3: 0 stay in ROM, 1 or 2 boot the firmware
int VendorCommands::SelectBootSource(std::uint8_t source) {
  return SendVendorCommand(false, command(subop::SelectBootSource).put8(3, source), nullptr, 0);
}

// bytes 3..6: address
int VendorCommands::ReadRegisterByte(std::uint32_t address, std::uint8_t& value) {
  return readStatus(command(subop::ReadRegisterByte).put32(3, address), value);
}

// bytes 3..6: address; byte 7: value
int VendorCommands::WriteRegisterByte(std::uint32_t address, std::uint8_t value) {
  return SendVendorCommand(false, command(subop::WriteRegisterByte).put32(3, address).put8(7, value), nullptr, 0);
}

// byte 3: area; bytes 4..7: address
int VendorCommands::ReadRam(std::uint8_t area, std::uint32_t address, std::uint8_t* buffer, std::uint32_t sectors) {
  return SendVendorCommand(true, command(subop::ReadRam).put8(3, area).put32(4, address), buffer, sectors);
}

int VendorCommands::WriteRam(std::uint8_t area, std::uint32_t address, const std::uint8_t* buffer,
                             std::uint32_t sectors) {
  // Data-out: the transport only reads the buffer.
  return SendVendorCommand(false, command(subop::WriteRam).put8(3, area).put32(4, address),
                           const_cast<std::uint8_t*>(buffer), sectors);
}

// byte 3: channel; byte 4: chip enable
int VendorCommands::ReadFlashId(std::uint8_t channel, std::uint8_t chipEnable, std::uint8_t* buffer,
                                std::uint32_t sectors) {
  return SendVendorCommand(true, command(subop::ReadFlashId).put8(3, channel).put8(4, chipEnable), buffer, sectors);
}

// byte 3: channel; 4: chip enable; 5..6: block; 7..8: page; 9: mode; 10: 0
int VendorCommands::ReadFlashPage(std::uint8_t channel, std::uint8_t chipEnable, std::uint16_t block,
                                  std::uint16_t page, std::uint8_t mode, std::uint8_t* buffer, std::uint32_t sectors) {
  auto cmd = command(subop::ReadFlashPage).put8(3, channel).put8(4, chipEnable).put16(5, block).put16(7, page);
  return SendVendorCommand(true, cmd.put8(9, mode), buffer, sectors);
}

// as ReadFlashPage with byte 3 = 8 (all channels)
int VendorCommands::WriteFlashPage(std::uint8_t chipEnable, std::uint16_t block, std::uint16_t page,
                                   std::uint8_t mode, const std::uint8_t* buffer, std::uint32_t sectors) {
  auto cmd = command(subop::WriteFlashPage).put8(3, 8).put8(4, chipEnable).put16(5, block).put16(7, page);
  return SendVendorCommand(false, cmd.put8(9, mode), const_cast<std::uint8_t*>(buffer), sectors);
}

// byte 3: channel or 8; 4: chip enable; 5..6: block
int VendorCommands::EraseFlashBlock(std::uint8_t channel, std::uint8_t chipEnable, std::uint16_t block) {
  auto cmd = command(subop::EraseFlashBlock).put8(3, channel).put8(4, chipEnable).put16(5, block);
  return SendVendorCommand(false, cmd, nullptr, 0);
}

int VendorCommands::GetTaskStatus(std::uint8_t& status) { return readStatus(command(subop::GetTaskStatus), status); }

// task 1..4 is the sub-operation; byte 3: task flags
int VendorCommands::StartTask(std::uint8_t task, std::uint8_t flags) {
  return SendVendorCommand(false, command(task).put8(3, flags), nullptr, 0);
}

int VendorCommands::ReadTaskResult(std::uint8_t which, std::uint8_t* buffer, std::uint32_t sectors) {
  return SendVendorCommand(true, command(which), buffer, sectors);
}

int VendorCommands::GetTestStatus(std::uint8_t& status) { return readStatus(command(subop::TestStatus), status); }

// byte 3: test number; 4..5: argument
int VendorCommands::RunTest(std::uint8_t test, std::uint16_t argument, std::uint8_t& value) {
  std::array<std::uint8_t, 512> sector{};
  value = 0xFF;
  int r = SendVendorCommand(true, command(subop::TestRun).put8(3, test).put16(4, argument), sector.data(), 1);
  if (r != 1) return r;
  if (sector[0] == 1) value = sector[1];
  return 1;
}

int VendorCommands::ReadTestReport(std::uint8_t* buffer, std::uint32_t sectors) {
  return SendVendorCommand(true, command(subop::TestReport), buffer, sectors);
}

// byte 3: area; 4..7: address
int VendorCommands::ReadTestMemory(std::uint8_t area, std::uint32_t address, std::uint8_t* buffer,
                                   std::uint32_t sectors) {
  return SendVendorCommand(true, command(subop::TestReadMemory).put8(3, area).put32(4, address), buffer, sectors);
}

int VendorCommands::WriteTestMemory(std::uint8_t area, std::uint32_t address, const std::uint8_t* buffer,
                                    std::uint32_t sectors) {
  return SendVendorCommand(false, command(subop::TestWriteMemory).put8(3, area).put32(4, address),
                           const_cast<std::uint8_t*>(buffer), sectors);
}

// bytes 4..7: address; 8..11: value; one sector out
int VendorCommands::WriteTestValue(std::uint32_t address, std::uint32_t value, const std::uint8_t* sector) {
  return SendVendorCommand(false, command(subop::TestWriteValue).put32(4, address).put32(8, value),
                           const_cast<std::uint8_t*>(sector), 1);
}

// byte 3: A; 4: B
int VendorCommands::ReadBadBlockStatistics(std::uint8_t a, std::uint8_t b, std::uint8_t* buffer,
                                           std::uint32_t sectors) {
  return SendVendorCommand(true, command(subop::BadBlockStatistics).put8(3, a).put8(4, b), buffer, sectors);
}

// byte 3: channel mask; 4: 0; 5..6: block; 7..8: page; 9: mode; 10: 0
int VendorCommands::ReadFirmwarePagesRaw(std::uint8_t channelMask, std::uint16_t block, std::uint16_t page,
                                         std::uint8_t mode, std::uint8_t* buffer, std::uint32_t sectors) {
  auto cmd = command(subop::ReadFirmwarePages).put8(3, channelMask).put16(5, block).put16(7, page).put8(9, mode);
  return SendVendorCommand(true, cmd, buffer, sectors);
}

}  // namespace qk
