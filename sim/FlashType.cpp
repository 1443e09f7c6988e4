#include "sim/FlashType.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "config/IniFile.h"

namespace qk::sim {

std::uint32_t DecodePageSectors(std::uint16_t w) {
  static const std::uint32_t table[8] = {4, 8, 16, 0, 0, 0, 0, 0};
  return table[w & 7];
}
std::uint32_t DecodePagesPerBlock(std::uint16_t w) {
  static const std::uint32_t table[8] = {64, 128, 256, 512, 0, 0, 0, 0};
  return table[(w >> 3) & 7];
}
std::uint32_t DecodeBlocksPerCe(std::uint16_t w) {
  static const std::uint32_t table[8] = {2048, 4096, 8192, 16384, 1024, 0, 0, 0};
  return table[(w >> 6) & 7];
}

std::uint32_t FlashType::pageSectors() const { return DecodePageSectors(idWord); }
std::uint32_t FlashType::pagesPerBlock() const { return DecodePagesPerBlock(idWord); }
std::uint32_t FlashType::blocksPerCe() const { return DecodeBlocksPerCe(idWord); }

std::uint8_t FlashType::ceNumber(int slot) const {
  const int per = cePerPackage == 0 ? 1 : cePerPackage;
  return static_cast<std::uint8_t>((slot / per) * 4 + slot % per);
}

int FlashType::slotOf(std::uint8_t ce, int slots) const {
  for (int s = 0; s < slots; ++s) {
    if (ceNumber(s) == ce) return s;
  }
  return -1;
}

namespace {

// A type line: runs of letters and digits are the columns.
std::vector<std::string> tokens(const std::string& line) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : line) {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      cur += c;
    } else if (!cur.empty()) {
      out.push_back(cur);
      cur.clear();
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

long number(const std::string& t) { return std::strtol(t.c_str(), nullptr, 0); }

bool fromLine(const std::string& line, FlashType& t) {
  auto col = tokens(line);
  if (col.size() < 15) return false;
  t.name = col[0];
  t.idWord = static_cast<std::uint16_t>(number(col[2]));
  t.cePerPackage = static_cast<std::uint8_t>(number(col[3]));
  if (t.cePerPackage == 0) t.cePerPackage = 1;
  t.eccMode = static_cast<std::uint8_t>(number(col[4]));
  for (int i = 0; i < 5; ++i) t.idBytes[static_cast<size_t>(i)] = static_cast<std::uint8_t>(number(col[5 + static_cast<size_t>(i)]));
  t.twoPlane = ((number(col[10]) >> 16) & 0xFF) != 0;
  t.column12 = number(col[11]) != 0;
  t.altBlockCount = static_cast<std::uint16_t>(number(col[13]));
  return true;
}

std::string keyName(int i) {
  char k[16];
  std::snprintf(k, sizeof k, "Name%2.2d", i);
  return k;
}

}  // namespace

bool FindFlashType(const std::string& flashList, const std::string& name, FlashType& out) {
  IniFile ini = IniFile::parse(flashList);
  bool haveFirst = false;
  FlashType first;
  for (int v = 0; v < 10; ++v) {
    std::string vendor = ini.getString("Vendor", keyName(v), "No");
    if (vendor == "No") break;
    for (int i = 0; i < 500; ++i) {
      std::string line = ini.getString(vendor, keyName(i), "No");
      if (line == "No") break;
      FlashType t;
      if (!fromLine(line, t)) continue;
      if (t.name == name) {
        out = t;
        return true;
      }
      if (!haveFirst) {
        first = t;
        haveFirst = true;
      }
    }
  }
  if (haveFirst) out = first;
  return haveFirst;
}

}  // namespace qk::sim
