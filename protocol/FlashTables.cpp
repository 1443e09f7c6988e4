#include "protocol/FlashTables.h"

#include "platform/BoundedRead.h"

#include "platform/LittleEndian.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/DebugOutput.h"
#include "protocol/FirmwareDownload.h"
#include "protocol/LoaderHeader.h"
#include "protocol/ProgramPatch.h"
#include "protocol/RawDump.h"

namespace qk {

namespace {

constexpr std::size_t kSlot = WorkBuffers::kSmallSize;
constexpr std::uint8_t kWriteLoaderPrep = 0x10;
constexpr std::uint8_t kTaskOneDone = 14;
constexpr std::uint32_t kStatisticsSectors = 64;


std::uint32_t allChannelSectors(const GlobalParameter& gp) {
  return static_cast<std::uint32_t>(gp.geometry.PageSectors) * gp.Channel;
}

// The SYSP page follows the remap page when there is one.
std::uint16_t syspPage(const GlobalParameter& gp) { return gp.FeatureBytes[5] != 0 ? 4 : 3; }

bool haveSystemBlocks(ControllerOps& ops) {
  return ops.context().loader.systemBlocks.count >= 1 && ops.pageBytes() != 0 &&
         static_cast<std::size_t>(ops.params().Channel) * ops.pageBytes() <= kSlot;
}

std::uint8_t chipEnableOf(const GlobalParameter& gp, unsigned bank) {
  return bank < gp.geometry.CEMap.size() ? gp.geometry.CEMap[bank] : static_cast<std::uint8_t>(bank);
}

bool readAllChannels(ControllerOps& ops, std::uint8_t chipEnable, std::uint16_t block, std::uint16_t page,
                     std::uint8_t* out) {
  const GlobalParameter& gp = ops.params();
  const std::uint32_t size = ops.pageBytes();
  for (unsigned c = 0; c < gp.Channel; ++c) {
    if (ops.vendor().ReadFlashPage(static_cast<std::uint8_t>(c), chipEnable, block, page, ops.pageMode(),
                                   out + c * size, gp.geometry.PageSectors) != 1)
      return false;
  }
  return true;
}

std::string hex4(std::uint16_t v) {
  char s[8];
  std::snprintf(s, sizeof s, "%04X", v);
  return s;
}

// ---- later-table text files ----

struct LaterChannel {
  int channel = -1;
  bool hasCount = false;  // only a channel with a T# item gets a page
  std::uint16_t count = 0;
  std::vector<std::pair<std::uint16_t, std::uint8_t>> entries;
};

struct LaterGroup {
  int bank = -1, die = 0;
  bool hasBlock = false;
  std::uint16_t block = 0;
  std::vector<LaterChannel> channels;
};

struct LaterFile {
  std::vector<std::uint16_t> syspBlocks;  // every S# in file order
  std::vector<LaterGroup> groups;         // one per B#
};

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Parses a later-table file, checking it against the drive's shape and the
// page size before anything is sent to the drive.
bool parseLaterFile(const std::string& t, const GlobalParameter& gp, std::uint32_t pageBytes, LaterFile& out) {
  std::size_t i = 0;
  auto skipBlank = [&] {
    while (i < t.size() && (t[i] == '\r' || t[i] == '\n' || t[i] == ' ' || t[i] == '\t')) ++i;
  };
  auto digits = [&](int& v) {
    v = 0;
    int n = 0;
    while (n < 2 && i < t.size() && t[i] >= '0' && t[i] <= '9') v = v * 10 + (t[i++] - '0'), ++n;
    return n > 0;
  };
  auto hex = [&](std::uint16_t& v) {
    if (i + 4 > t.size()) return false;
    unsigned r = 0;
    for (int k = 0; k < 4; ++k) {
      int h = hexDigit(t[i + static_cast<std::size_t>(k)]);
      if (h < 0) return false;
      r = r << 4 | static_cast<unsigned>(h);
    }
    i += 4;
    v = static_cast<std::uint16_t>(r);
    return true;
  };
  auto comma = [&] { return i < t.size() && t[i++] == ','; };
  const std::size_t maxEntries = pageBytes > 32 ? (pageBytes - 32) / 4 : 0;
  const std::size_t maxSysp = pageBytes > 16 ? (pageBytes - 16) / 4 : 0;
  const unsigned dies = std::max<unsigned>(gp.geometry.Die, 1);
  bool first = true;
  for (skipBlank(); i < t.size(); skipBlank()) {
    if (i + 1 >= t.size() || t[i + 1] != '#') return false;
    const char tag = static_cast<char>(t[i] & ~0x20);
    i += 2;
    int d = 0;
    std::uint16_t v = 0;
    LaterGroup* g = out.groups.empty() ? nullptr : &out.groups.back();
    switch (tag) {
      case 'V':
        if (!first || !digits(d)) return false;
        break;
      case 'B':
        if (!digits(d) || d >= gp.Bank) return false;
        out.groups.push_back({});
        out.groups.back().bank = d;
        break;
      case 'D':
        if (!g || !digits(d) || static_cast<unsigned>(d) >= dies) return false;
        g->die = d;
        break;
      case 'S':
        if (!g || g->hasBlock || !hex(v) || out.syspBlocks.size() >= maxSysp) return false;
        g->hasBlock = true;
        g->block = v;
        out.syspBlocks.push_back(v);
        break;
      case 'C':
        if (!g || !digits(d) || d >= gp.Channel) return false;
        for (const auto& c : g->channels)
          if (c.channel == d) return false;
        g->channels.push_back({});
        g->channels.back().channel = d;
        break;
      case 'T': {
        if (!g || g->channels.empty() || !hex(v) || !comma()) return false;
        LaterChannel& c = g->channels.back();
        if (c.hasCount) return false;
        c.hasCount = true;
        c.count = v;
        if (v > maxEntries) return false;
        // The entries follow on the same line.
        while (i + 1 < t.size() && t[i] != '\r' && t[i] != '\n') {
          if (t[i] != 'U' && t[i] != 'u') return false;
          if (t[i + 1] != '#') return false;
          i += 2;
          std::uint16_t block = 0;
          if (!hex(block) || !comma() || i >= t.size() || t[i] < '0' || t[i] > '9') return false;
          c.entries.emplace_back(block, static_cast<std::uint8_t>(t[i++] - '0'));
          if (c.entries.size() > maxEntries) return false;
        }
        if (c.entries.size() != c.count) return false;
        break;
      }
      default:
        return false;
    }
    first = false;
  }
  if (out.groups.empty()) return false;
  for (const auto& g : out.groups)
    if (!g.hasBlock) return false;
  return true;
}

bool readText(const std::string& path, std::string& text) {
  std::string why;
  if (ReadBoundedFile(path, text, &why) == ReadOutcome::Ok) return true;
  debugPrintf("%s", why.c_str());
  return false;
}

}  // namespace

TableShape TableShapeOf(const GlobalParameter& gp) {
  return {gp.geometry.PageSectors * 512U, gp.Channel, gp.Bank, gp.geometry.PageSectors};
}

bool GetDefectTable(ControllerOps& ops, std::uint8_t* buffer, const std::string& path, int firmwareType) {
  if (!haveSystemBlocks(ops)) return false;
  ControllerContext& ctx = ops.context();
  std::uint8_t withFlag = 0;
  if (!ops.LoadRamProgram(RamProgram::Gdp, 0, buffer, withFlag)) return false;
  std::memset(buffer, 0, kSlot);
  if (!ops.ReadPageAllChannels(8, ctx.loader.systemBlocks.blocks[0], 1, ops.pageMode(), buffer)) return false;
  WriteDump(ctx.params.DumpDebugFile != 0, ctx.dumpFolder, "02_DTG.raw", buffer,
            static_cast<std::size_t>(ctx.params.Channel) * ops.pageBytes());
  return ExportFactoryTable({buffer, kSlot}, TableShapeOf(ctx.params), path, firmwareType);
}

bool PutDefectTable(ControllerOps& ops, std::uint8_t* buffer, const std::string& path, int firmwareType) {
  if (!haveSystemBlocks(ops)) return false;
  ControllerContext& ctx = ops.context();
  const GlobalParameter& gp = ctx.params;
  const std::uint32_t size = ops.pageBytes();
  // The file is checked before the drive's system blocks are cleared.
  std::vector<std::uint8_t> table(kSlot, 0);
  if (!ImportTableFile(table, TableShapeOf(gp), path, firmwareType)) return false;

  std::uint8_t withFlag = 0, status = 0;
  if (!ops.LoadRamProgram(RamProgram::Gdp, 0, buffer, withFlag)) return false;
  if (!ops.RunProgramTask(1, withFlag | kWriteLoaderPrep, status, false) || status != kTaskOneDone) return false;
  BuildLoaderHeaderPage({buffer, size}, gp, ctx.loader.systemBlocks, kPutTableSequence, ctx.loader.firmware);
  for (unsigned c = 1; c < gp.Channel; ++c) std::memcpy(buffer + c * size, buffer, size);
  for (unsigned c = 0; c < gp.Channel; ++c) buffer[c * size + 0x18] = static_cast<std::uint8_t>(c);
  if (!ops.WritePageBlockList(0, 0, buffer, allChannelSectors(gp))) return false;

  std::memcpy(buffer, table.data(), kSlot);
  WriteDump(gp.DumpDebugFile != 0, ctx.dumpFolder, "05_DTP.raw", buffer, static_cast<std::size_t>(gp.Channel) * size);
  return ops.WritePageBlockList(1, ops.pageMode(), buffer, allChannelSectors(gp));
}

bool GetLaterTable(ControllerOps& ops, std::uint8_t* buffer, const std::string& path, int firmwareType) {
  if (!haveSystemBlocks(ops)) return false;
  ControllerContext& ctx = ops.context();
  const GlobalParameter& gp = ctx.params;
  const std::uint32_t size = ops.pageBytes();
  const std::size_t span = static_cast<std::size_t>(gp.Channel) * size;
  std::uint8_t withFlag = 0;
  if (!ops.LoadRamProgram(RamProgram::Gdp, 0, buffer, withFlag)) return false;
  if (!ops.ReadPageAllChannels(8, ctx.loader.systemBlocks.blocks[0], syspPage(gp), ops.pageMode(), buffer))
    return false;
  if (std::memcmp(buffer, kSyspTag, 4) != 0) return false;
  const std::uint16_t a = le16(buffer + 16), b = le16(buffer + 20);
  if (path.empty()) return true;

  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    debugPrintf("later table file %s cannot be created", path.c_str());
    return false;
  }
  out << TableVersionItem(firmwareType) << "\r\n";
  std::vector<std::uint8_t> result(kSlot);
  const unsigned dies = std::max<unsigned>(gp.geometry.Die, 1);
  for (unsigned bank = 0; bank < gp.Bank; ++bank) {
    for (unsigned die = 0; die < dies; ++die) {
      const std::uint16_t s = (bank == 0 && die == 0) ? a : static_cast<std::uint16_t>(die * gp.AltBlockCount + b);
      out << "B#0" << bank << "D#" << die << "S#" << hex4(s);  // the first C# item follows on the same line
      const std::uint16_t block = FromSystemBlock(gp, s);
      const std::uint8_t ce = chipEnableOf(gp, bank);

      // The newest copy of each channel's page is the last one written.
      std::fill(result.begin(), result.end(), 0);
      unsigned lastPage = 0;
      for (unsigned page = 1; page < gp.geometry.BlockPage; ++page) {
        if (!readAllChannels(ops, ce, block, static_cast<std::uint16_t>(page), buffer)) return false;
        bool any = false;
        for (unsigned c = 0; c < gp.Channel; ++c) {
          if (!HasTableSignature(buffer + c * size, kBankLaterTag)) continue;
          std::memcpy(result.data() + c * size, buffer + c * size, size);
          any = true;
        }
        if (!any) break;
        lastPage = page;
      }
      for (unsigned c = 0; c < gp.Channel; ++c) {
        const std::uint8_t* p = result.data() + c * size;
        out << "C#0" << c;
        if (HasTableSignature(p, kBankLaterTag)) {
          const std::size_t count = std::min<std::size_t>(le16(p + 16), (size - 32) / 4);
          out << "T#" << hex4(static_cast<std::uint16_t>(count)) << ",";
          for (std::size_t e = 0; e < count; ++e)
            out << "U#" << hex4(le16(p + 32 + 4 * e)) << "," << static_cast<char>('0' + p[32 + 4 * e + 2]);
        }
        out << "\r\n";
      }
      char name[32];
      std::snprintf(name, sizeof name, "03_%2.2u%2.2u%3.3u.raw", bank, die, lastPage);
      WriteDump(gp.DumpDebugFile != 0, ctx.dumpFolder, name, result.data(), span);
      const std::size_t at = bank * 256 * 1024U + die * kSlot;
      if (ctx.buffers.large() && at + kSlot <= WorkBuffers::kLargeSize)
        std::memcpy(ctx.buffers.large() + at, result.data(), kSlot);
    }
  }
  out.close();
  return static_cast<bool>(out);
}

bool PutLaterTable(ControllerOps& ops, std::uint8_t* buffer, const std::string& path) {
  if (!haveSystemBlocks(ops)) return false;
  ControllerContext& ctx = ops.context();
  const GlobalParameter& gp = ctx.params;
  const std::uint32_t size = ops.pageBytes();
  const std::size_t span = static_cast<std::size_t>(gp.Channel) * size;
  const std::uint32_t sectors = allChannelSectors(gp);
  const std::uint8_t mode = ops.pageMode();
  std::string text;
  LaterFile file;
  if (path.empty() || !readText(path, text) || !parseLaterFile(text, gp, size, file)) return false;

  std::uint8_t withFlag = 0;
  if (!ops.LoadRamProgram(RamProgram::Gdp, 0, buffer, withFlag)) return false;

  // The new SYSP page: the later-table blocks of the file in order.
  std::vector<std::uint8_t> sysp(span, 0xFF);
  for (unsigned c = 0; c < gp.Channel; ++c) {
    std::uint8_t* p = sysp.data() + c * size;
    WriteTableSignature(p, kSyspTag);
    for (std::size_t k = 0; k < file.syspBlocks.size(); ++k) put16(p + 16 + 4 * k, file.syspBlocks[k]);
  }

  // Each system block is erased and written again with the new SYSP page.
  // Everything else the block holds (header, system area, firmware) is kept.
  const std::uint16_t syspAt = syspPage(gp);
  for (std::size_t i = 0; i < ctx.loader.systemBlocks.count; ++i) {
    const std::uint16_t block = ctx.loader.systemBlocks.blocks[i];
    std::vector<std::vector<std::uint8_t>> kept;
    std::vector<std::uint16_t> keptPages;
    std::uint16_t last = syspAt;
    for (std::uint16_t page = 0; page <= last && page < gp.geometry.BlockPage; ++page) {
      std::vector<std::uint8_t> data(kSlot, 0xFF);
      const std::uint8_t m = (page >= 1 && page <= 4) ? mode : 0;
      if (page != syspAt && !ops.ReadPageAllChannels(8, block, page, m, data.data())) return false;
      if (page == 0 && std::memcmp(data.data(), kLoaderBlocksTag, 16) == 0) {
        last = std::max<std::uint16_t>(syspAt, le16(data.data() + 0x236));
      }
      if (page == syspAt) std::memcpy(data.data(), sysp.data(), span);
      else if (std::all_of(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(span),
                           [](std::uint8_t v) { return v == 0xFF; }))
        continue;  // erased: nothing to write back
      kept.push_back(std::move(data));
      keptPages.push_back(page);
    }
    if (ops.vendor().EraseFlashBlock(8, 0, block) != 1) return false;
    for (std::size_t k = 0; k < kept.size(); ++k) {
      const std::uint16_t page = keptPages[k];
      const std::uint8_t m = (page >= 1 && page <= 4) ? mode : 0;
      if (ops.vendor().WriteFlashPage(0, block, page, m, kept[k].data(), sectors) != 1) return false;
    }
  }

  // One later-table page per bank and die group.
  for (std::size_t gi = 0; gi < file.groups.size(); ++gi) {
    const LaterGroup& g = file.groups[gi];
    std::memset(buffer, 0xFF, span);
    for (const LaterChannel& c : g.channels) {
      std::uint8_t* p = buffer + static_cast<std::size_t>(c.channel) * size;
      if (!c.hasCount) continue;
      WriteTableSignature(p, kBankLaterTag);
      put16(p + 16, c.count);
      for (std::size_t e = 0; e < c.entries.size(); ++e) {
        put16(p + 32 + 4 * e, c.entries[e].first);
        p[32 + 4 * e + 2] = c.entries[e].second;
      }
    }
    const std::uint16_t block = FromSystemBlock(gp, g.block);
    const std::uint8_t ce = chipEnableOf(gp, static_cast<unsigned>(g.bank));
    if (ops.vendor().EraseFlashBlock(8, ce, block) != 1) return false;
    if (ops.vendor().WriteFlashPage(ce, block, 1, mode, buffer, sectors) != 1) return false;
    WriteDump(gp.DumpDebugFile != 0, ctx.dumpFolder, gi + 1 == file.groups.size() ? "07_LTP.raw" : "06_LTP.raw",
              buffer, span);
  }
  return true;
}

bool CheckTables(ControllerOps& ops, std::uint8_t* work) {
  ops.LeaveLoaderMode(work);
  const bool sata = ops.path() == TransportPath::SataPath;
  if (!ReadLoaderHeader(ops, work, sata)) {
    work[0] = 0;
    return false;
  }
  const ControllerContext& ctx = ops.context();
  const GlobalParameter& gp = ctx.params;
  if (ctx.loader.systemBlocks.count == 0) return work[0] = 0, false;
  const std::uint16_t first = ctx.loader.systemBlocks.blocks[0];
  const std::uint16_t sent = ops.IsLoaderMode() ? first : ToLoaderBlock(gp, first);
  const std::uint32_t sectors = std::min<std::uint32_t>(gp.geometry.PageSectors * 8U, 128U);
  const std::uint8_t mode = ops.pageMode();

  struct Check {
    std::uint16_t page;
    const std::uint8_t* tag;
    std::uint8_t result;
  };
  std::vector<Check> checks = {{1, kFactoryTag, kCheckFactoryPage}, {2, kLaterTag, kCheckLaterPage}};
  if (gp.FeatureBytes[5] != 0) checks.push_back({3, kRemapTag, kCheckRemapPage});

  const unsigned rounds = std::max<unsigned>(ctx.loader.firmware.count, 1);
  for (unsigned round = 0; round < rounds; ++round) {
    for (const Check& c : checks) {
      if (!ops.ReadFirmwarePages(sent, first, c.page, mode, work, sectors)) continue;
      if (!HasTableSignature(work, c.tag)) {
        work[0] = c.result;
        return false;
      }
    }
  }
  return true;
}

bool CountBadBlocks(ControllerOps& ops, std::uint8_t* work, std::span<std::uint8_t> rows,
                    std::array<std::uint32_t, 5>& totals) {
  totals.fill(0);
  if (rows.size() < kBadBlockRowBytes) return false;
  const bool sata = ops.path() == TransportPath::SataPath;
  if (!ReadLoaderHeader(ops, work, sata)) return false;
  const GlobalParameter& gp = ops.params();
  const bool loader = ops.IsLoaderMode();
  const std::uint32_t size = ops.pageBytes();
  const std::uint32_t headerSectors = std::clamp<std::uint32_t>(2U * gp.geometry.PageSectors, 8U, 32U);
  int found = -1;
  for (std::uint16_t k = 0; k < 4 && found < 0; ++k) {
    const std::uint16_t sent = loader ? k : ToLoaderBlock(gp, k);
    if (ops.ReadFirmwarePages(sent, k, 0, 0, work, headerSectors) && std::memcmp(work, kLoaderBlocksTag, 16) == 0)
      found = k;
  }
  if (found < 0) return false;
  const auto k = static_cast<std::uint16_t>(found);
  std::vector<std::uint8_t> table(kSlot);
  if (!ops.ReadFirmwarePages(loader ? k : ToLoaderBlock(gp, k), k, 1, ops.pageMode(), table.data(), 128))
    return false;

  const unsigned groupSize = std::max<unsigned>(gp.CECount, 1);
  auto add = [&](unsigned channel, unsigned bank, std::size_t column) {
    const std::size_t row = channel + (bank / groupSize) * gp.Channel;
    if (row >= kBadBlockRows) return;
    std::uint8_t* p = rows.data() + (row * kBadBlockColumns + column) * 4;
    std::uint32_t v = static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24) + 1;
    for (int b = 0; b < 4; ++b) p[b] = static_cast<std::uint8_t>(v >> (8 * b));
  };

  // Factory bad blocks from page 1.
  for (unsigned c = 0; c < gp.Channel && (c + 1) * static_cast<std::size_t>(size) <= kSlot; ++c) {
    const std::uint8_t* p = table.data() + c * static_cast<std::size_t>(size);
    if (!HasTableSignature(p, kFactoryTag)) continue;
    unsigned bank = 0;
    for (std::size_t off = 16; off + 4 <= size; off += 4) {
      const std::uint16_t v = le16(p + off);
      if (v == kTableEnd) break;
      if (v == kBankMarker) bank = p[off + 2];
      else add(c, bank, 0);
    }
  }

  // The firmware's own list: 7-byte entries, one channel-bit byte per chip-enable slot.
  std::vector<std::uint8_t> list(kStatisticsSectors * 512);
  if (ops.vendor().ReadBadBlockStatistics(0, 0, list.data(), kStatisticsSectors) != 1) return false;
  const std::size_t entries = std::min<std::size_t>(le16(list.data()), (list.size() - 4) / 7);
  for (std::size_t e = 0; e < entries; ++e) {
    const std::uint8_t* p = list.data() + 4 + 7 * e;
    const std::size_t column = p[2] == 1 ? 4 : p[2] == 2 ? 2 : p[2] == 5 ? 3 : 1;
    for (unsigned slot = 0; slot < 4; ++slot)
      for (unsigned c = 0; c < 8; ++c)
        if (p[3 + slot] >> c & 1) add(c, slot, column);
  }

  for (std::size_t r = 0; r < kBadBlockRows; ++r)
    for (std::size_t col = 0; col < kBadBlockColumns; ++col) {
      const std::uint8_t* p = rows.data() + (r * kBadBlockColumns + col) * 4;
      totals[col] += static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
    }
  return true;
}

}  // namespace qk
