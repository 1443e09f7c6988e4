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
  if (k == "faultpullat") {
    auto n = parseInteger(value);
    if (!n || *n < 1 || *n > 0xFFFFFFFFLL) {
      error = "expected a command number from 1";
      return false;
    }
    pullAtCommand = static_cast<std::uint32_t>(*n);
    return true;
  }
  error = "unknown fault";
  return false;
}

}  // namespace qk::sim
