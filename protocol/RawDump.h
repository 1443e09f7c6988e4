#pragma once
// Raw dumps of what a port read or wrote, for diagnosis. Best effort: a dump
// that cannot be written is skipped, never a reason to fail.
#include <cstddef>
#include <cstdint>
#include <string>

namespace qk {

// Writes (creates or replaces) folder + name when enabled.
void WriteDump(bool enabled, const std::string& folder, const std::string& name, const std::uint8_t* data,
               std::size_t length);

}  // namespace qk
