#pragma once
// The number fields of the settings pages: a text converts only when all of it
// is one decimal integer; anything else is refused with a message for the
// operator instead of being read as 0.
#include <cstdint>
#include <optional>
#include <string>

namespace qk {

// Optional sign, then decimal digits only, inside the 32-bit range.
std::optional<std::int32_t> StrictToInt(const std::string& text);

// "'12a' is not a valid integer value"
std::string NotAnIntegerMessage(const std::string& text);

}  // namespace qk
