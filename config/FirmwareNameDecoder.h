#pragma once
// Decodes the geometry and array-shape codes that a firmware file name
// carries in its 7th and 8th characters (e.g. "SYS_SIAA.bin").
#include <string>

namespace qk {

inline constexpr const char* kDefaultDecodeName = "SYS_SIAA.bin";

// The decoded lines, each ending in "\n"; empty when the name is empty or its
// codes are unknown.
std::string DecodeFirmwareName(const std::string& name);

}  // namespace qk
