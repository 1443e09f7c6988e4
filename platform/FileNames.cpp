#include "platform/FileNames.h"

namespace qk {

std::string SafeFileNamePart(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    auto u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) c = '_';
  }
  // A name part of only dots could climb out of the folder when used alone.
  if (out.find_first_not_of('.') == std::string::npos && !out.empty()) out.assign(out.size(), '_');
  return out;
}

}  // namespace qk
