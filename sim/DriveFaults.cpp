#include "sim/DriveFaults.h"

#include "config/IniFile.h"
#include "sim/ParseUtil.h"

namespace qk::sim {

bool CommandSelector::matches(const std::uint8_t* cdb, std::size_t cdbLength) const {
  if (cdbLength == 0 || cdb[0] != opcode) return false;
  if (ataCommand < 0) return true;
  return cdbLength >= 10 && cdb[9] == static_cast<std::uint8_t>(ataCommand);
}

bool LbaRange::overlaps(std::uint32_t lba, std::uint32_t count) const {
  if (count == 0) return false;
  std::uint64_t end = static_cast<std::uint64_t>(lba) + count - 1;
  return lba <= last && end >= first;
}

std::optional<std::uint32_t> DriveFaults::Alias::map(std::uint32_t lba) const {
  switch (kind) {
    case Wrap:
      return lba % value;
    case Bit:
      return lba & ~(std::uint32_t{1} << value);
    case Lost:
      if (lba >= value) return std::nullopt;
      return lba;
    case None:
      break;
  }
  return lba;
}

namespace {

bool parseSelectors(const std::string& value, std::vector<CommandSelector>& out, std::string& error) {
  for (const auto& part : splitList(value)) {
    CommandSelector sel;
    auto colon = part.find(':');
    auto op = parseHex(part.substr(0, colon));
    if (!op || *op > 0xFF) {
      error = "bad command \"" + part + "\" (hex opcode, or A1:<ATA command>)";
      return false;
    }
    sel.opcode = static_cast<std::uint8_t>(*op);
    if (colon != std::string::npos) {
      auto ata = parseHex(part.substr(colon + 1));
      if (!ata || *ata > 0xFF) {
        error = "bad ATA command in \"" + part + "\"";
        return false;
      }
      sel.ataCommand = static_cast<int>(*ata);
    }
    out.push_back(sel);
  }
  return true;
}

std::optional<std::uint32_t> parseLba(const std::string& text) {
  auto v = parseInteger(text);
  if (!v || *v < 0 || *v > 0xFFFFFFFFLL) return std::nullopt;
  return static_cast<std::uint32_t>(*v);
}

bool parseRanges(const std::string& value, std::vector<LbaRange>& out, std::string& error) {
  for (const auto& part : splitList(value)) {
    auto dash = part.find('-');
    auto first = parseLba(part.substr(0, dash));
    auto last = dash == std::string::npos ? first : parseLba(part.substr(dash + 1));
    if (!first || !last || *last < *first) {
      error = "bad LBA range \"" + part + "\" (LBA or FIRST-LAST)";
      return false;
    }
    out.push_back({*first, *last});
  }
  return true;
}

// "a:b:c" -> numbers (decimal or 0x hex), each within [0, max].
bool numbers(const std::string& text, size_t count, std::int64_t max, std::vector<std::int64_t>& out,
             size_t optional = 0) {
  out.clear();
  size_t start = 0;
  while (true) {
    auto colon = text.find(':', start);
    auto v = parseInteger(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (!v || *v < 0 || *v > max) return false;
    out.push_back(*v);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return out.size() >= count - optional && out.size() <= count;
}

bool oneOf(const std::string& v, std::initializer_list<const char*> names) {
  for (const char* n : names) {
    if (v == n) return true;
  }
  return false;
}

}  // namespace

bool DriveFaults::set(const std::string& key, const std::string& value, std::string& error) {
  const std::string k = toLower(key);
  if (k == "faultfail") return parseSelectors(value, fail, error);
  if (k == "faulttimeout") return parseSelectors(value, noAnswer, error);
  if (k == "faultreaderror") return parseRanges(value, readError, error);
  if (k == "faultwriteerror") return parseRanges(value, writeError, error);
  if (k == "faultshortread") {
    for (const auto& part : splitList(value)) {
      auto lba = parseLba(part);
      if (!lba) {
        error = "bad LBA \"" + part + "\"";
        return false;
      }
      shortRead.push_back(*lba);
    }
    return true;
  }
  if (k == "faultalias") {
    const std::string v = toLower(trimText(value));
    const auto colon = v.find(':');
    const std::string kind = v.substr(0, colon);
    const std::int64_t n = colon == std::string::npos ? -1 : parseInteger(v.substr(colon + 1)).value_or(-1);
    if (kind == "bit" && n >= 0 && n <= 31) {
      alias = {Alias::Bit, static_cast<std::uint32_t>(n)};
      return true;
    }
    // Zero sectors would leave nowhere to wrap to.
    if ((kind == "wrap" || kind == "lost") && n >= 1 && n <= 0xFFFFFFFFLL) {
      alias = {kind == "wrap" ? Alias::Wrap : Alias::Lost, static_cast<std::uint32_t>(n)};
      return true;
    }
    return error = "expected wrap:SECTORS, bit:N (0..31) or lost:SECTORS", false;
  }
  if (k == "faultpullat") {
    auto n = parseInteger(value);
    if (!n || *n < 1 || *n > 0xFFFFFFFFLL) {
      error = "expected a command number from 1";
      return false;
    }
    pullAtCommand = static_cast<std::uint32_t>(*n);
    return true;
  }
  std::vector<std::int64_t> n;
  if (k == "faultflashid") {
    for (const auto& part : splitList(value)) {
      FlashId f;
      std::vector<std::string> words;
      size_t at = 0;
      while (at < part.size()) {
        auto sp = part.find_first_of(" \t", at);
        std::string w = part.substr(at, sp == std::string::npos ? std::string::npos : sp - at);
        if (!w.empty()) words.push_back(w);
        if (sp == std::string::npos) break;
        at = sp + 1;
      }
      bool ok = words.size() == 6 && numbers(words[0], 2, 7, n);
      for (size_t i = 1; ok && i < 6; ++i) {
        auto b = parseHex(words[i]);
        ok = b && *b >= 0 && *b <= 0xFF;
        if (ok) f.id[i - 1] = static_cast<std::uint8_t>(*b);
      }
      if (!ok) return error = "expected ch:slot and five hex ID bytes, e.g. 0:1 EC D7 94 7A 54", false;
      f.channel = static_cast<int>(n[0]);
      f.slot = static_cast<int>(n[1]);
      flashId.push_back(f);
    }
    return true;
  }
  if (k == "faultdetect") {
    if (!numbers(value, 2, 255, n)) return error = "expected channels:slots", false;
    detect = std::array<int, 2>{static_cast<int>(n[0]), static_cast<int>(n[1])};
    return true;
  }
  if (k == "faultbus") {
    for (const auto& part : splitList(value)) {
      if (!numbers(part, 2, 0xFFFF, n)) return error = "expected area:round", false;
      bus.push_back({static_cast<int>(n[0]), static_cast<int>(n[1])});
    }
    return true;
  }
  if (k == "faultdram") {
    std::string v = toLower(trimText(value));
    if (v == "register") {
      dramRegister = true;
      return true;
    }
    if (v.rfind("status:", 0) == 0) {
      auto s = parseInteger(v.substr(7));
      if (s && *s >= 0 && *s <= 255) {
        dramStatus = static_cast<int>(*s);
        return true;
      }
    }
    return error = "expected register or status:N", false;
  }
  if (k == "faultinterface") {
    for (const auto& part : splitList(value)) {
      if (!numbers(part, 3, 254, n)) return error = "expected kind:channel:bank entries", false;
      interfaceFail.push_back({static_cast<std::uint8_t>(n[0]), static_cast<std::uint8_t>(n[1]),
                               static_cast<std::uint8_t>(n[2])});
    }
    return true;
  }
  if (k == "faultpreformat") {
    for (const auto& part : splitList(value)) {
      if (!numbers(part, 5, 0xFFFF, n) || n[0] > 255 || n[1] > 255 || n[2] > 255 || n[3] > 255)
        return error = "expected kind:channel:bank:die:value entries", false;
      preformat.push_back({static_cast<std::uint16_t>(n[0]), static_cast<std::uint16_t>(n[1]),
                           static_cast<std::uint16_t>(n[2]), static_cast<std::uint16_t>(n[3]),
                           static_cast<std::uint16_t>(n[4])});
    }
    if (preformat.size() > 100) return error = "at most 100 entries", false;
    return true;
  }
  if (k == "faultsystemblocks") {
    std::vector<std::uint16_t> list;
    for (const auto& part : splitList(value)) {
      auto v = parseInteger(part);
      if (!v || *v < 0 || *v > 0xFFFF) return error = "expected up to four block numbers", false;
      list.push_back(static_cast<std::uint16_t>(*v));
    }
    if (list.empty() || list.size() > 4) return error = "expected up to four block numbers", false;
    systemBlocks = list;
    return true;
  }
  if (k == "faultlaterbad") {
    for (const auto& part : splitList(value)) {
      if (!numbers(part, 6, 0xFFFF, n, 3) || n[0] > 255) return error = "expected kind:block:bits entries", false;
      LaterBad e;
      e.kind = static_cast<std::uint8_t>(n[0]);
      e.block = static_cast<std::uint16_t>(n[1]);
      for (size_t i = 2; i < n.size(); ++i) {
        if (n[i] > 255) return error = "channel bits are one byte", false;
        e.channelBits[i - 2] = static_cast<std::uint8_t>(n[i]);
      }
      laterBad.push_back(e);
    }
    return true;
  }
  if (k == "faultbusy") {
    for (const auto& part : splitList(value)) {
      std::string v = toLower(part);
      if (!oneOf(v, {"erase", "preformat", "finish", "dram"}))
        return error = "\"" + part + "\" is not erase, preformat, finish or dram", false;
      busy.insert(v);
    }
    return true;
  }
  if (k == "faulthang") {
    std::string v = toLower(trimText(value));
    if (v.rfind("vendor:", 0) == 0) {
      if (!numbers(v.substr(7), 1, 0xFFFFFFFFLL, n) || n[0] < 1) return error = "expected vendor:N with N from 1", false;
      hangAtVendor = static_cast<std::uint32_t>(n[0]);
      hang = "vendor";
      return true;
    }
    if (!oneOf(v, {"inquiry", "identify", "download", "rw", "format"}))
      return error = "\"" + value + "\" is not inquiry, identify, download, rw, format or vendor:N", false;
    hang = v;
    return true;
  }
  if (k == "faultcorrupt") {
    for (const auto& part : splitList(value)) {
      if (!numbers(part, 2, 0xFFFFFFFFLL, n)) return error = "expected lba:word entries", false;
      corrupt.push_back({static_cast<std::uint32_t>(n[0]), static_cast<std::uint32_t>(n[1])});
    }
    return true;
  }
  error = "unknown fault";
  return false;
}

}  // namespace qk::sim
