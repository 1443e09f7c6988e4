#pragma once
// Strict number and list parsing for bench files: trailing junk is an error.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qk::sim {

std::string trimText(const std::string& s);
// Decimal, or hex with 0x.
std::optional<std::int64_t> parseInteger(const std::string& text);
std::optional<std::int64_t> parseHex(const std::string& text);  // hex without prefix (0x allowed)
std::optional<double> parseReal(const std::string& text);
// Splits at commas and trims the parts; empty parts are kept (callers reject them).
std::vector<std::string> splitList(const std::string& text);

}  // namespace qk::sim
