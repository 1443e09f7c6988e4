#include "config/EditRules.h"

namespace qk {

std::optional<char> FilterKey(KeyFilter filter, char key) {
  const auto u = static_cast<unsigned char>(key);
  if (u < 0x20 || u == 0x7F) return key;
  switch (filter) {
    case KeyFilter::Hex:
      if (key >= '0' && key <= '9') return key;
      if (key >= 'A' && key <= 'F') return key;
      if (key >= 'a' && key <= 'f') return static_cast<char>(key - 'a' + 'A');
      return std::nullopt;
    case KeyFilter::Digits:
      if (key >= '0' && key <= '9') return key;
      return std::nullopt;
    case KeyFilter::NoBackslash:
      if (key == '\\') return std::nullopt;
      return key;
  }
  return std::nullopt;
}

KeyFilter SerialKeyFilter(int snDecimal) { return snDecimal == 0 ? KeyFilter::Hex : KeyFilter::Digits; }

std::size_t StringEditLimit(int tag) {
  switch (tag) {
    case 0: return 40;
    case 1: return 8;
    case 2: return 20;
    case 3: return 16;
    case 4: return 24;
    default: return std::string::npos;
  }
}

bool CutText(std::string& text, std::size_t limit) {
  if (text.size() <= limit) return false;
  text.resize(limit);
  return true;
}

bool CutFat32Label(std::string& label, int formatIndex) {
  if (formatIndex != 0) return false;
  return CutText(label, kFat32LabelLength);
}

}  // namespace qk
