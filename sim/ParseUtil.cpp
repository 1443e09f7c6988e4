#include "sim/ParseUtil.h"

#include <cerrno>
#include <cstdlib>

namespace qk::sim {

std::string trimText(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

namespace {
std::optional<std::int64_t> parseBase(const std::string& raw, int base) {
  std::string t = trimText(raw);
  if (t.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(t.c_str(), &end, base);
  if (errno != 0 || end == t.c_str() || *end != '\0') return std::nullopt;
  return v;
}
bool hasHexPrefix(const std::string& t) { return t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X'); }
}  // namespace

std::optional<std::int64_t> parseInteger(const std::string& text) {
  std::string t = trimText(text);
  if (hasHexPrefix(t)) return parseBase(t.substr(2), 16);
  return parseBase(t, 10);
}

std::optional<std::int64_t> parseHex(const std::string& text) {
  std::string t = trimText(text);
  if (hasHexPrefix(t)) t = t.substr(2);
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) return std::nullopt;
  return parseBase(t, 16);
}

std::optional<double> parseReal(const std::string& text) {
  std::string t = trimText(text);
  if (t.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(t.c_str(), &end);
  if (errno != 0 || end == t.c_str() || *end != '\0') return std::nullopt;
  return v;
}

std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (true) {
    auto comma = text.find(',', pos);
    parts.push_back(trimText(text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos)));
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return parts;
}

}  // namespace qk::sim
