#pragma once
// Bridge identification from the four characters at INQUIRY bytes 36..39.
#include <cstdint>

namespace qk {

constexpr std::uint8_t kBridgeUnknown = 0;
constexpr std::uint8_t kBridgeNativeUsb = 10;  // the controller itself answering on USB

// Looks the token up in table order, case-sensitive over exactly 4 bytes; 0 when none matches.
std::uint8_t BridgeCodeForToken(const char token[4]);
// True for the USB-to-SATA bridge chips: 1, 4, 7, 8, 9, 11, 12.
bool IsBridgeCode(std::uint8_t code);

}  // namespace qk
