#include "protocol/TableFile.h"

#include "platform/BoundedRead.h"

#include "platform/LittleEndian.h"

#include <algorithm>
#include <array>
#include <tuple>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "platform/DebugOutput.h"

namespace qk {

namespace {

constexpr char kSignatureText[12] = "QKR20X-V001";  // with its zero byte
constexpr std::size_t kSignatureSize = 16;
constexpr std::size_t kEntrySize = 4;


void putEntry(std::uint8_t* p, std::uint16_t v, std::uint8_t b2, std::uint8_t b3) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = b2;
  p[3] = b3;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A cursor over a table text. Every read checks the end, so a truncated or
// garbled file is a plain failure.
class TableReader {
 public:
  explicit TableReader(const std::string& text) : t_(text) {}

  // The next tag letter; 0 at the end, -1 when the text is not an item.
  int nextTag() {
    while (i_ < t_.size() && (t_[i_] == '\r' || t_[i_] == '\n' || t_[i_] == ' ' || t_[i_] == '\t')) ++i_;
    if (i_ >= t_.size()) return 0;
    if (i_ + 1 >= t_.size() || t_[i_ + 1] != '#') return -1;
    char tag = t_[i_];
    if (!((tag >= 'A' && tag <= 'Z') || (tag >= 'a' && tag <= 'z'))) return -1;
    i_ += 2;
    return tag >= 'a' ? tag - 'a' + 'A' : tag;
  }
  // One or two decimal digits ("C#03", "D#1").
  bool number(int& v) {
    v = 0;
    int n = 0;
    while (n < 2 && i_ < t_.size() && t_[i_] >= '0' && t_[i_] <= '9') v = v * 10 + (t_[i_++] - '0'), ++n;
    return n > 0;
  }
  bool hex4(std::uint16_t& v) {
    if (i_ + 4 > t_.size()) return false;
    std::uint32_t r = 0;
    for (int k = 0; k < 4; ++k) {
      int h = hexValue(t_[i_ + static_cast<std::size_t>(k)]);
      if (h < 0) return false;
      r = r << 4 | static_cast<std::uint32_t>(h);
    }
    i_ += 4;
    v = static_cast<std::uint16_t>(r);
    return true;
  }
  bool expect(char c) {
    if (i_ >= t_.size() || t_[i_] != c) return false;
    ++i_;
    return true;
  }
  bool any(char& c) {
    if (i_ >= t_.size()) return false;
    c = t_[i_++];
    return true;
  }
  // True when only a line break or the end follows the current item.
  bool atLineEnd() const { return i_ >= t_.size() || t_[i_] == '\r' || t_[i_] == '\n'; }

 private:
  const std::string& t_;
  std::size_t i_ = 0;
};

struct FactoryEntry {
  std::uint16_t block;
  std::uint8_t fields;  // the two nibbles of byte 2
  std::uint8_t kind;
  bool operator<(const FactoryEntry& o) const {
    return std::tie(block, fields, kind) < std::tie(o.block, o.fields, o.kind);
  }
};

// "U#" hhhh "," x y "," k; x and y stand for nibbles as 0x30 | n.
bool readFactoryEntry(TableReader& r, FactoryEntry& e) {
  char x = 0, y = 0, k = 0;
  if (!r.hex4(e.block) || !r.expect(',') || !r.any(x) || !r.any(y) || !r.expect(',') || !r.any(k)) return false;
  if (x < '0' || x > '?' || y < '0' || y > '?' || k < '0' || k > '9') return false;
  // The two markers are not block numbers: written as entries they would end the table or start a bank.
  if (e.block == kBankMarker || e.block == kTableEnd) return false;
  e.fields = static_cast<std::uint8_t>((x - '0') * 16 + (y - '0'));
  e.kind = static_cast<std::uint8_t>(k - '0');
  return true;
}

// Every channel of the drive named in the file: a file cut short would leave
// the channels it misses without their factory bad blocks.
bool allChannels(unsigned seen, const TableShape& s) { return seen == (1u << s.channels) - 1; }

bool shapeFits(std::span<const std::uint8_t> pages, const TableShape& s) {
  return s.pageBytes >= 32 && s.channels >= 1 && s.channels <= 8 &&
         static_cast<std::size_t>(s.channels) * s.pageBytes <= pages.size();
}

// Old files (version 12) read by type-21 firmware on 4 KiB pages: the entries
// of each channel pair are merged and kept per bank, sorted.
bool importPairedLists(TableReader& r, std::span<std::uint8_t> pages, const TableShape& s) {
  std::array<std::vector<FactoryEntry>, 64> lists;
  int channel = -1, bank = 0;
  unsigned seen = 0;
  for (int tag; (tag = r.nextTag()) != 0;) {
    int d = 0;
    FactoryEntry e{};
    switch (tag) {
      case 'C':
        if (!r.number(d) || d >= s.channels) return false;
        channel = d;
        seen |= 1u << d;
        if (int other = d ^ 1; other < s.channels) seen |= 1u << other;  // the pair shares the list
        bank = 0;
        break;
      case 'B':
        if (!r.number(d) || d >= s.banks || d >= 8) return false;
        bank = d;
        break;
      case 'U':
        if (channel < 0 || !readFactoryEntry(r, e)) return false;
        lists[static_cast<std::size_t>(channel * 8 + bank)].push_back(e);
        if (int other = channel ^ 1; other < s.channels)
          lists[static_cast<std::size_t>(other * 8 + bank)].push_back(e);
        break;
      default:
        return false;
    }
  }
  if (channel < 0 || !allChannels(seen, s)) return false;
  for (int c = 0; c < s.channels; ++c) {
    std::uint8_t* page = pages.data() + static_cast<std::size_t>(c) * s.pageBytes;
    std::size_t pos = kSignatureSize;
    WriteTableSignature(page, kFactoryTag);
    for (int b = 0; b < 8; ++b) {
      auto& list = lists[static_cast<std::size_t>(c * 8 + b)];
      if (list.empty()) continue;
      std::sort(list.begin(), list.end());
      if (pos + (list.size() + 2) * kEntrySize > s.pageBytes) return false;
      putEntry(page + pos, kBankMarker, static_cast<std::uint8_t>(b), 0);
      pos += kEntrySize;
      for (const auto& e : list) putEntry(page + pos, e.block, e.fields, e.kind), pos += kEntrySize;
    }
    putEntry(page + pos, kTableEnd, 0, 0);
  }
  return true;
}

}  // namespace

void WriteTableSignature(std::uint8_t* page, const std::uint8_t* tag) {
  std::memcpy(page, tag, 4);
  std::memcpy(page + 4, kSignatureText, sizeof kSignatureText);
}

bool HasTableSignature(const std::uint8_t* page, const std::uint8_t* tag) {
  return std::memcmp(page, tag, 4) == 0 && std::memcmp(page + 4, kSignatureText, sizeof kSignatureText) == 0;
}

std::string TableVersionItem(int firmwareType) {
  switch (firmwareType) {
    case 11: case 12: case 20: case 21: case 30: return "V#" + std::to_string(firmwareType);
    default: return {};
  }
}

std::string FactoryTableText(std::span<const std::uint8_t> pages, const TableShape& s, int firmwareType) {
  std::string out = TableVersionItem(firmwareType) + "\r\n";
  if (s.pageBytes < kSignatureSize) return out;
  char entry[16];
  for (unsigned c = 0; c < s.channels && (c + 1) * static_cast<std::size_t>(s.pageBytes) <= pages.size(); ++c) {
    const std::uint8_t* page = pages.data() + c * static_cast<std::size_t>(s.pageBytes);
    if (page[0] == kFactoryTag[0]) {
      out += "C#0" + std::to_string(c);
      for (std::size_t off = kSignatureSize; off + kEntrySize <= s.pageBytes; off += kEntrySize) {
        const std::uint16_t v = le16(page + off);
        if (v == kTableEnd) break;
        if (v == kBankMarker) {
          out += "\r\nB#0";
          out += static_cast<char>('0' + page[off + 2]);
          continue;
        }
        const std::uint8_t b2 = page[off + 2], kind = page[off + 3];
        std::snprintf(entry, sizeof entry, "U#%04X,%c%c,%c", v, (b2 >> 4) | 0x30, (b2 & 0x0F) | 0x30,
                      kind > 7 ? '9' : '0' + kind);
        out += entry;
      }
    }
    if (c + 1 < s.channels) out += "\r\n";
  }
  return out;
}

bool ExportFactoryTable(std::span<const std::uint8_t> pages, const TableShape& shape, const std::string& path,
                        int firmwareType) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) {
    debugPrintf("table file %s cannot be created", path.c_str());
    return false;
  }
  const std::string text = FactoryTableText(pages, shape, firmwareType);
  f.write(text.data(), static_cast<std::streamsize>(text.size()));
  f.close();
  return static_cast<bool>(f);
}

bool ImportTableText(const std::string& text, std::span<std::uint8_t> pages, const TableShape& s, int firmwareType) {
  if (!shapeFits(pages, s)) return false;
  std::fill_n(pages.begin(), static_cast<std::size_t>(s.channels) * s.pageBytes, 0);
  TableReader r(text);

  // A version line is optional (files of other firmware types have none).
  int version = 0;
  int tag = r.nextTag();
  if (tag == 'V') {
    if (!r.number(version)) return false;
    tag = r.nextTag();
  }
  if (version == 12 && firmwareType == 21 && s.pageSectors == 8) {
    TableReader again(text);
    if (again.nextTag() != 'V' || !again.number(version)) return false;
    return importPairedLists(again, pages, s);
  }

  const std::size_t page = s.pageBytes;
  std::size_t pos = 0;
  int channel = -1;
  unsigned seen = 0;
  // Room for one more entry and the end marker inside the current channel's page.
  auto room = [&] { return channel >= 0 && pos + 2 * kEntrySize <= (static_cast<std::size_t>(channel) + 1) * page; };
  for (; tag != 0; tag = r.nextTag()) {
    int d = 0;
    FactoryEntry e{};
    switch (tag) {
      case 'C': {
        if (!r.number(d) || d >= s.channels) return false;
        const std::size_t start = static_cast<std::size_t>(d) * page;
        if (d != 0) {
          if (pos + 2 > start) return false;  // channels must come in increasing order
          putEntry(pages.data() + pos, kTableEnd, 0, 0);
          pages[pos + 2] = 0;
          pos = start;
        } else if (pos != 0) {
          return false;
        }
        WriteTableSignature(pages.data() + pos, kFactoryTag);
        pos += kSignatureSize;
        channel = d;
        seen |= 1u << d;
        break;
      }
      case 'B':
        if (!r.number(d) || d >= s.banks || !room()) return false;
        putEntry(pages.data() + pos, kBankMarker, static_cast<std::uint8_t>(d), 0);
        pos += kEntrySize;
        break;
      case 'U':
        if (!readFactoryEntry(r, e) || !room()) return false;
        if (version == 21 && firmwareType == 12 && e.kind != channel) break;
        putEntry(pages.data() + pos, e.block, e.fields, e.kind);
        pos += kEntrySize;
        break;
      default:
        return false;  // unknown tag, or a later-table item in a factory file
    }
  }
  if (channel < 0 || !allChannels(seen, s)) return false;
  pages[pos] = 0xFE;
  pages[pos + 1] = 0xD1;
  pages[pos + 2] = 0;
  return true;
}

bool ImportTableFile(std::span<std::uint8_t> pages, const TableShape& shape, const std::string& path,
                     int firmwareType) {
  std::string text, why;
  if (ReadBoundedFile(path, text, &why) != ReadOutcome::Ok) {
    debugPrintf("table file %s", why.c_str());
    return false;
  }
  return ImportTableText(text, pages, shape, firmwareType);
}

}  // namespace qk
