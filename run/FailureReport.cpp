#include "run/FailureReport.h"

#include <cstdarg>
#include <cstdio>

#include "diskops/CapacityProbe.h"
#include "run/ResultCodes.h"

namespace qk {

namespace {

constexpr int kChipCounters = 32;

std::string format(const char* fmt, ...) {
  char buf[256];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  return buf;
}

std::uint32_t word32(std::span<const std::uint8_t> r, std::size_t at) {
  if (at + 4 > r.size()) return 0;
  return static_cast<std::uint32_t>(r[at]) | static_cast<std::uint32_t>(r[at + 1]) << 8 |
         static_cast<std::uint32_t>(r[at + 2]) << 16 | static_cast<std::uint32_t>(r[at + 3]) << 24;
}

void countUnits(const std::array<int, kChipCounters>& counters, PortContext* port) {
  if (!port) return;
  for (int chip = 0; chip < kChipCounters; ++chip) {
    if (counters[static_cast<std::size_t>(chip)] == 0) continue;
    port->failedUnit = chip;
    ++port->failedUnitCount;
  }
}

// The closing block of both reports: the chips with failures, each counted
// as a failed unit of the port.
void badChips(std::vector<std::string>& lines, const std::array<int, kChipCounters>& counters, bool withCounts,
              PortContext* port) {
  bool any = false;
  for (int c : counters) any = any || c != 0;
  if (any) {
    lines.push_back("");
    lines.push_back("Bad Chip:");
    for (int chip = 0; chip < kChipCounters; ++chip) {
      const int n = counters[static_cast<std::size_t>(chip)];
      if (n == 0) continue;
      lines.push_back(withCounts ? format("Chip#%d, BadBlockNum: %d", chip, n) : format("Chip#%d", chip));
    }
  }
  countUnits(counters, port);
}

const char* pageName(int v) {
  switch (v) {
    case 0:
      return "Code Page";
    case 1:
      return "Def Page";
    case 2:
      return "Remap Page";
    default:
      return "";
  }
}

}  // namespace

int ChipNumber(int channel, int bank, const ReportFlash& flash) {
  // A flash type without chip enables would divide by zero; count it as one.
  int ce = flash.ceCount == 0 ? 1 : flash.ceCount;
  return (bank / ce) * flash.channel + channel;
}

std::vector<std::string> FlashInterfaceReport(std::span<const std::uint8_t> record, const ReportFlash& flash,
                                              PortContext* port) {
  static const char* const kLines[] = {
      nullptr,
      "Flash RESET fail. Ch#%2.2X, Bank#%2.2X",
      "ReadFlashID fail. Ch#%2.2X, Bank#%2.2X",
      "2nd ReadFlashID fail. Ch#%2.2X, Bank#%2.2X",
      "Flash Erase fail. Ch#%2.2X, Bank#%2.2X",
      "Flash Prog fail when turn on ECC. Ch#%2.2X, Bank#%2.2X",
      "Flash Prog fail when turn off ECC. Ch#%2.2X, Bank#%2.2X",
      "Flash ECC fail. Ch#%2.2X, Bank#%2.2X",
      "Flash SpareBytes fail. Ch#%2.2X, Bank#%2.2X",
      "Flash 2nd Erase fail. Ch#%2.2X, Bank#%2.2X",
      "Test SRAM Memory Fail",
      "ECC Test fail. Ch#%2.2X, Bank#%2.2X",
  };
  std::vector<std::string> lines;
  std::array<int, kChipCounters> counters{};
  for (std::size_t at = 4; at + 4 <= record.size(); at += 4) {
    std::uint8_t ch = record[at], bank = record[at + 1], kind = record[at + 2];
    if (ch == 0xFF || bank == 0xFF || kind == 0xFF) break;
    if (lines.empty()) {
      lines.push_back("Flash Interface Test Fail");
      lines.push_back("");
    }
    if (kind >= 1 && kind <= 11) {
      lines.push_back(format(kLines[kind], ch, bank));
      if (port) port->shownCode = 38 + kind;
    }
    if (kind != 10) {
      int chip = ChipNumber(ch, bank, flash);
      if (chip >= 0 && chip < kChipCounters) ++counters[static_cast<std::size_t>(chip)];
    }
  }
  badChips(lines, counters, false, port);
  return lines;
}

std::vector<std::string> StepReport(std::span<const std::uint8_t> record, const ReportFlash& flash,
                                    PortContext* port) {
  std::vector<std::string> lines;
  std::array<int, kChipCounters> counters{};
  if (record.empty()) return lines;
  int count = record[0];
  bool badHeading = false;
  std::size_t at = 1;
  for (int i = 0; i < count && at + 16 <= record.size(); ++i) {
    auto e = record.subspan(at, 16);
    std::uint8_t kind = e[0], ch = e[1], bank = e[2], die = e[3];
    int v = e[4] | (e[5] << 8);
    switch (kind) {
      case 1:
      case 2:
        lines.push_back(format("%s %s. Ch#%2.2X", pageName(v), kind == 1 ? "Does Not Exist" : "Is ECC Fail", ch));
        if (port) port->shownCode = kind == 1 ? 31 : 32;
        break;
      case 3: {
        if (!badHeading) {
          lines.push_back("Number of bad block is over defect ratio:");
          badHeading = true;
        }
        int ratio = flash.halfDieBlocks ? v * 1000 / flash.halfDieBlocks : 0;
        lines.push_back(format("Ch#%2.2X, Bank#%2.2X, Die#%2.2X, BadBlockNum: %d, BadBlockNumRatio(1/1000): %d", ch,
                               bank, die, v, ratio));
        int chip = ChipNumber(ch, bank, flash);
        if (chip >= 0 && chip < kChipCounters) counters[static_cast<std::size_t>(chip)] += v;
        if (port) port->shownCode = 33;
        break;
      }
      case 4:
        lines.push_back("Number of free block is too large.");
        if (port) port->shownCode = 34;
        break;
      case 5:
        lines.push_back(format("Total bad block number (%d) is over (MaxFreeBlcokNum-25)", v));
        if (port) port->shownCode = 35;
        break;
      case 6:
        lines.push_back("Build Table Fail.");
        if (port) port->shownCode = 36;
        break;
      case 7:
        lines.push_back(format("Ch#%2.2X, Bank#%2.2X, BlockNo#%4.4X, Chip#%d", ch, bank, v, ChipNumber(ch, bank, flash)));
        break;
      case 8:
        lines.push_back("Build Remap Table Fail.");
        if (port) port->shownCode = 37;
        break;
      case 0x80:
        lines.push_back(format("Flash Setting - Ch:%2.2X , Bank:%2.2X", flash.profileChannel, flash.profileBank));
        break;
      case 0x81:
        lines.push_back(format("Scan Result -  Ch:%2.2X , Bank:%2.2X", e[13], e[14]));
        break;
      case 0x82: {
        const auto& id = flash.expectedId;
        lines.push_back(format("Flash Setting - ID: %2.2X %2.2X %2.2X %2.2X %2.2X", id[0], id[1], id[2], id[3], id[4]));
        break;
      }
      case 0x83:
        lines.push_back(format("Scan Result -  ID: %2.2X %2.2X %2.2X %2.2X %2.2X (Ch#%2.2X, Bank#%2.2X, Chip#%d)", e[6],
                               e[7], e[8], e[9], e[10], ch, bank, ChipNumber(ch, bank, flash)));
        break;
      default:
        lines.push_back("");
        break;
    }
    at += (kind == 0x80 || kind == 0x82) ? 17 : 16;
  }
  badChips(lines, counters, true, port);
  return lines;
}

std::vector<std::string> ErrorDialogLines(int code, std::span<const std::uint8_t> record, const ReportFlash& flash) {
  std::vector<std::string> lines;
  switch (code) {
    case 1:
    case 5:
    case 25:
      return StepReport(record, flash);
    case 3:
      return FlashInterfaceReport(record, flash);
    case 6:
    case 8:
    case 28: {
      std::uint8_t kind = record.empty() ? 0 : record[0];
      if (kind >= 1 && kind <= 3) {
        lines.push_back("Table compare fail");
        lines.push_back(format("Page #%d is error", kind));
      } else if (kind == 0xBB) {
        lines.push_back("The Later Bad Counts are too large");
        lines.push_back(format("Read fail count is (%d)\n", static_cast<int>(word32(record, 1 + 16))));
        lines.push_back(format("Program fail count is (%d)\n", static_cast<int>(word32(record, 1 + 8))));
        lines.push_back(format("Erase fail count is (%d)\n", static_cast<int>(word32(record, 1 + 4))));
        lines.push_back(format("Uncorrectable ECC fail count is (%d)\n", static_cast<int>(word32(record, 1 + 12))));
      } else if (kind >= 0xD0 && kind <= 0xD2) {
        static const char* const kTables[] = {"ch %d defect table compare fail", "ch %d early table compare fail",
                                              "ch %d remap table compare fail"};
        lines.push_back(format(kTables[kind - 0xD0], record.size() > 1 ? record[1] : 0));
      }
      // One flash page of the record from offset 2, never past its end.
      std::size_t page = static_cast<std::size_t>(flash.pageSectors) * 512;
      std::size_t avail = record.size() > 2 ? record.size() - 2 : 0;
      std::size_t bytes = std::min(page, avail);
      for (std::size_t off = 0; off + 8 <= bytes; off += 8) {
        auto b = record.subspan(2 + off, 8);
        lines.push_back(format("%04X : %02X, %02X, %02X, %02X, %02X, %02X, %02X, %02X\n", static_cast<unsigned>(off), b[0],
                               b[1], b[2], b[3], b[4], b[5], b[6], b[7]));
      }
      return lines;
    }
    case 7:
    case 19:
    case 20:
    case 21: {
      lines.push_back(ResultCodeInfo(code).failureText);
      std::uint32_t kind = word32(record, 0), lba = word32(record, 4);
      if (kind == 1) {
        lines.push_back(format("Write fail on LBA(%u)", lba));
      } else if (kind == 2) {
        lines.push_back(format("Read fail on LBA(%u)", lba));
      } else if (kind == 3) {
        lines.push_back(format("Comapre fail on LBA(%u), offset(%d)", lba,
                               static_cast<int>(word32(record, 16))));
        lines.push_back(format("expected(0x%X)", word32(record, 8)));
        lines.push_back(format("received(0x%X)", word32(record, 12)));
      }
      return lines;
    }
    case kCapacityProbeCode: {
      lines.push_back(ResultCodeInfo(code).failureText);
      if (record.size() >= CapacityProbeRecord::kBytes) {
        for (auto& l : CapacityProbeRecord::load(record.data()).describe()) lines.push_back(l);
      }
      return lines;
    }
    default:
      lines.push_back(ResultCodeInfo(code).failureText);
      return lines;
  }
}

std::string ReportText(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) {
    out += l;
    out += "\r\n";
  }
  return out;
}

}  // namespace qk
