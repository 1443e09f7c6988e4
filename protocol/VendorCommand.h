#pragma once
// The controller's 12-byte vendor command block and the two ATA PASS-THROUGH
// blocks that carry it across a USB-to-SATA bridge.
#include <array>
#include <cstdint>

#include "transport/TransportState.h"

namespace qk {

// Sub-operation codes (byte 2).
namespace subop {
// Boot ROM and firmware.
inline constexpr std::uint8_t ReadLoaderInfo = 0x80;
inline constexpr std::uint8_t ResetController = 0x81;
inline constexpr std::uint8_t RunRamCode = 0x82;
inline constexpr std::uint8_t SelectBootSource = 0x83;
inline constexpr std::uint8_t ReadRegisterByte = 0x84;
inline constexpr std::uint8_t WriteRegisterByte = 0x85;
inline constexpr std::uint8_t ReadRam = 0x86;
inline constexpr std::uint8_t WriteRam = 0x87;
inline constexpr std::uint8_t ReadFlashId = 0x88;
inline constexpr std::uint8_t ReadFlashPage = 0x89;
inline constexpr std::uint8_t WriteFlashPage = 0x8A;
inline constexpr std::uint8_t EraseFlashBlock = 0x8B;
// General-purpose RAM program.
inline constexpr std::uint8_t GetTaskStatus = 0x00;
inline constexpr std::uint8_t ReadDetectResult = 0x05;
inline constexpr std::uint8_t ReadErrorRecord = 0x06;
inline constexpr std::uint8_t ReadBlockList = 0x07;
// Test RAM program.
inline constexpr std::uint8_t TestStatus = 0x00;
inline constexpr std::uint8_t TestRun = 0x01;
inline constexpr std::uint8_t TestReport = 0x02;
inline constexpr std::uint8_t TestReadMemory = 0x03;
inline constexpr std::uint8_t TestWriteMemory = 0x04;
inline constexpr std::uint8_t TestWriteValue = 0x05;
// Low codes outside the RAM programs.
inline constexpr std::uint8_t BadBlockStatistics = 0x00;
inline constexpr std::uint8_t ReadFirmwarePages = 0x04;
}  // namespace subop

inline constexpr std::uint8_t kVendorUsbMarker = 0x04;
inline constexpr std::uint8_t kVendorSataMarker = 0xE5;
// Status sectors read through the bridge start with this byte.
inline constexpr std::uint8_t kSataStatusSignature = 0xE5;
inline constexpr std::uint8_t kTaskBusy = 0xAA;

// byte 0      FF
// byte 1      04 (UsbPath) / E5 (SataPath)
// byte 2      sub-operation
// bytes 3..11 parameters, multi-byte values big-endian, unused bytes 0
struct VendorCommand {
  std::array<std::uint8_t, 12> bytes{};

  VendorCommand(TransportPath path, std::uint8_t subOperation);
  std::uint8_t subOperation() const { return bytes[2]; }
  VendorCommand& put8(std::size_t at, std::uint8_t v);
  VendorCommand& put16(std::size_t at, std::uint16_t v);
  VendorCommand& put32(std::size_t at, std::uint32_t v);
};

enum class WrapDirection { Out, In };

// WrappedOut / WrappedIn (N = sector count, L = LBA low):
// byte   WrappedOut                  WrappedIn
// 0      A1                          A1
// 1      16 (variant 2) else 0A      14 (variant 2) else 08
// 2      03                          0B
// 3      00                          00
// 4      N                           N
// 5      L                           L
// 6..8   34 12 E0                    34 12 E0
// 9      88 / 8F / C5 (v2 / v1 / v0) 86 / 8A / C4
// 10,11  00                          00
std::array<std::uint8_t, 12> WrappedCdb(WrapDirection direction, std::uint8_t variant, std::uint8_t sectors,
                                        std::uint8_t lbaLow);

}  // namespace qk
