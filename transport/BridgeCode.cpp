#include "transport/BridgeCode.h"

#include <cstring>

namespace qk {

namespace {
struct TokenCode {
  const char* token;
  std::uint8_t code;
};
// Looked up in this order; the first match wins.
constexpr TokenCode kTokens[] = {
    {"k402", 1},  {"k403", 9},  {"k404", 4},  {"k401", 7},  {"k405", 8},  {"k406", 11}, {"k408", 12},
    {"k407", 12}, {"k409", 10}, {"R20X", 10}, {"ice ", 10}, {"q21x", 10}, {"R21X", 10},
};
}  // namespace

std::uint8_t BridgeCodeForToken(const char token[4]) {
  for (const auto& t : kTokens) {
    if (std::memcmp(token, t.token, 4) == 0) return t.code;
  }
  return kBridgeUnknown;
}

bool IsBridgeCode(std::uint8_t code) {
  switch (code) {
    case 1: case 4: case 7: case 8: case 9: case 11: case 12:
      return true;
    default:
      return false;
  }
}

}  // namespace qk
