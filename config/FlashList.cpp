#include "config/FlashList.h"

#include <algorithm>
#include <cstdio>

#include "config/IniFile.h"

namespace qk {

namespace {

// Letters and digits as the C locale sees them; bytes above 0x7F separate.
bool isTokenChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string listKey(int index) {
  char key[24];
  std::snprintf(key, sizeof key, "Name%2.2d", index);
  return key;
}

// A list section ends at the first key that reads "No"; a missing key reads "No".
std::vector<std::string> readList(const IniFile& ini, const std::string& section, size_t limit, bool& overLimit) {
  std::vector<std::string> out;
  overLimit = false;
  for (int i = 0;; ++i) {
    std::string value = ini.getString(section, listKey(i), "No");
    if (value == "No") break;
    if (out.size() == limit) {
      overLimit = true;
      break;
    }
    out.push_back(std::move(value));
  }
  return out;
}

bool fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

bool toRecord(const std::vector<std::string>& t, FlashTypeRecord& r) {
  if (t.size() < 15) return false;
  auto num = [&](size_t column) { return parseIntAuto(t[column - 1]); };
  r.uniqueName = t[0];
  r.partNumber = t[1];
  r.flashIdWord = static_cast<std::uint16_t>(num(3));
  r.ceCount = static_cast<std::uint8_t>(num(4));
  r.eccMode = static_cast<std::uint16_t>(num(5));
  for (size_t i = 0; i < 5; ++i) r.idBytes[i] = static_cast<std::uint8_t>(num(6 + i));
  std::int64_t packed = num(11);
  r.featureBit = static_cast<std::uint8_t>(packed);
  r.optionBit = static_cast<std::uint8_t>(packed >> 8);
  r.twoPlane = static_cast<std::uint8_t>(packed >> 16);
  r.flagBit5 = static_cast<std::int32_t>(num(12));
  r.extraWordA = static_cast<std::uint16_t>(num(13));
  r.altBlockCount = static_cast<std::uint16_t>(num(14));
  r.tableSelect = static_cast<std::uint8_t>(num(15));
  return true;
}

}  // namespace

std::vector<std::string> SplitFlashLine(const std::string& line) {
  std::vector<std::string> tokens;
  std::string cur;
  for (char c : line) {
    if (isTokenChar(c)) {
      cur += c;
    } else if (!cur.empty()) {
      tokens.push_back(std::move(cur));
      cur.clear();
    }
  }
  if (!cur.empty()) tokens.push_back(std::move(cur));
  return tokens;
}

bool ParseFlashList(const std::string& path, FlashCatalogue& catalogue, std::string* error) {
  IniFile ini = IniFile::load(path);
  if (!ini.loadedFromFile()) return fail(error, "cannot read flash list " + path);
  return ParseFlashList(ini, catalogue, error);
}

bool ParseFlashList(const IniFile& ini, FlashCatalogue& catalogue, std::string* error) {
  FlashCatalogue out;
  bool over = false;
  out.vendors = readList(ini, "Vendor", kMaxFlashVendors, over);
  if (over) return fail(error, "more than " + std::to_string(kMaxFlashVendors) + " vendors");
  if (out.vendors.empty()) return fail(error, "no vendor in section Vendor");
  for (const auto& v : out.vendors) {
    if (v.size() > kMaxFlashNameLength) return fail(error, "vendor name too long: " + v);
  }

  for (const auto& vendor : out.vendors) {
    size_t room = static_cast<size_t>(kMaxFlashTypes) - out.types.size();
    std::vector<std::string> lines = readList(ini, vendor, room, over);
    if (over) return fail(error, "more than " + std::to_string(kMaxFlashTypes) + " flash types");
    for (size_t i = 0; i < lines.size(); ++i) {
      FlashTypeRecord r;
      std::string where = vendor + "/" + listKey(static_cast<int>(i));
      if (!toRecord(SplitFlashLine(lines[i]), r)) return fail(error, where + ": fewer than 15 columns");
      if (r.uniqueName.size() > kMaxFlashNameLength || r.partNumber.size() > kMaxFlashNameLength)
        return fail(error, where + ": name longer than " + std::to_string(kMaxFlashNameLength) + " characters");
      out.types.push_back(std::move(r));
    }
    out.boundaries.push_back(static_cast<int>(out.types.size()));
  }
  catalogue = std::move(out);
  if (error) error->clear();
  return true;
}

int FlashCatalogue::findUnique(const std::string& name) const {
  size_t n = std::min(types.size(), static_cast<size_t>(kMaxFlashTypes));
  for (size_t i = 0; i < n; ++i) {
    if (types[i].uniqueName == name) return static_cast<int>(i);
  }
  return -1;
}

int FlashCatalogue::vendorOf(int type) const {
  if (type < 0) return -1;
  for (size_t v = 0; v < boundaries.size(); ++v) {
    if (boundaries[v] > type) return static_cast<int>(v);
  }
  return -1;
}

}  // namespace qk
