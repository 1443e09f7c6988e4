#include "protocol/VendorCommand.h"

namespace qk {

VendorCommand::VendorCommand(TransportPath path, std::uint8_t subOperation) {
  bytes[0] = 0xFF;
  bytes[1] = path == TransportPath::UsbPath ? kVendorUsbMarker : kVendorSataMarker;
  bytes[2] = subOperation;
}

VendorCommand& VendorCommand::put8(std::size_t at, std::uint8_t v) {
  bytes[at] = v;
  return *this;
}

VendorCommand& VendorCommand::put16(std::size_t at, std::uint16_t v) {
  bytes[at] = static_cast<std::uint8_t>(v >> 8);
  bytes[at + 1] = static_cast<std::uint8_t>(v);
  return *this;
}

VendorCommand& VendorCommand::put32(std::size_t at, std::uint32_t v) {
  bytes[at] = static_cast<std::uint8_t>(v >> 24);
  bytes[at + 1] = static_cast<std::uint8_t>(v >> 16);
  bytes[at + 2] = static_cast<std::uint8_t>(v >> 8);
  bytes[at + 3] = static_cast<std::uint8_t>(v);
  return *this;
}

std::array<std::uint8_t, 12> WrappedCdb(WrapDirection direction, std::uint8_t variant, std::uint8_t sectors,
                                        std::uint8_t lbaLow) {
  const bool out = direction == WrapDirection::Out;
  std::uint8_t command;
  switch (variant) {
    case 2: command = out ? 0x88 : 0x86; break;
    case 1: command = out ? 0x8F : 0x8A; break;
    default: command = out ? 0xC5 : 0xC4; break;
  }
  std::uint8_t byte1 = out ? (variant == 2 ? 0x16 : 0x0A) : (variant == 2 ? 0x14 : 0x08);
  return {0xA1, byte1, static_cast<std::uint8_t>(out ? 0x03 : 0x0B), 0x00, sectors, lbaLow,
          0x34, 0x12, 0xE0, command, 0x00, 0x00};
}

}  // namespace qk
