#include "protocol/FirmwareDownload.h"

#include "platform/LittleEndian.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/DebugOutput.h"
#include "protocol/LoaderHeader.h"
#include "protocol/ProgramPatch.h"
#include "protocol/RawDump.h"
#include "protocol/TableFile.h"

namespace qk {

namespace {

constexpr std::size_t kSlotSize = 64 * 1024;  // one system area page, all channels
constexpr std::size_t kSequenceOffset = 44;   // in the ReadLoaderInfo reply
constexpr std::uint8_t kWriteLoaderPrep = 0x10;
constexpr std::uint8_t kTaskOneDone = 14;


std::string hexName(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
  char name[64];
  std::snprintf(name, sizeof name, format, a, b, c);
  return name;
}

// The system area pages: 1 factory table, 2 later table, 3 remap table (with
// remap only), then the SYSP page. Without remap the SYSP page is page 3, as
// preformat leaves it.
std::vector<std::uint16_t> systemAreaPages(const GlobalParameter& gp) {
  if (gp.FeatureBytes[5] != 0) return {1, 2, 3, 4};
  return {1, 2, 3};
}

struct FirmwareFile {
  std::string path;
  std::uint16_t pages = 0;
};

std::uint64_t fileKiB(const std::string& path) {
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  if (!f) return 0;
  return (static_cast<std::uint64_t>(f.tellg()) + 1023) / 1024;
}

// The files of the run with their page counts; empty when there is none, more
// than two, or one cannot be opened.
std::vector<FirmwareFile> firmwareFiles(const GlobalParameter& gp) {
  std::vector<FirmwareFile> files;
  const std::uint32_t kibPerPage = gp.geometry.PageSectors / 2U;
  if (gp.TableFiles.empty() || gp.TableFiles.size() > 2 || kibPerPage == 0) return {};
  for (std::size_t i = 0; i < gp.TableFiles.size(); ++i) {
    const std::string& path = gp.TableFiles[i];
    if (!std::ifstream(path, std::ios::binary)) {
      debugPrintf("firmware file %s cannot be opened", path.c_str());
      return {};
    }
    std::uint64_t kib = i < gp.TableFileSizesKiB.size() ? gp.TableFileSizesKiB[i] : fileKiB(path);
    std::uint64_t pages = (kib + kibPerPage - 1) / kibPerPage;
    if (pages == 0 || pages > 0xFFFF) return {};
    files.push_back({path, static_cast<std::uint16_t>(pages)});
  }
  return files;
}

// The option byte of the parameter set: bit i from option byte i.
std::uint8_t parameterOptionByte(const GlobalParameter& gp) {
  std::uint8_t v = 0;
  for (std::size_t i = 0; i < 6; ++i) v = static_cast<std::uint8_t>(v | (gp.OptionBytes[i] ? 1U << i : 0U));
  return v;
}

void failureRecord(std::uint8_t* work, std::uint8_t code, unsigned channel, const std::uint8_t* page,
                   std::uint32_t pageBytes) {
  work[0] = code;
  work[1] = static_cast<std::uint8_t>(channel);
  std::memcpy(work + 2, page, std::min<std::size_t>(pageBytes, WorkBuffers::kSmallSize - 2));
}

std::uint32_t countLaterBad(const std::uint8_t* page, std::uint32_t pageBytes) {
  std::uint32_t n = 0;
  for (std::size_t off = 16; off + 2 <= pageBytes; off += 2) {
    if (page[off + 1] == 0xFE) break;
    if (page[off + 1] != 0xFB) ++n;
  }
  return n;
}

}  // namespace

bool DownloadFirmware(ControllerOps& ops, std::uint8_t* work, const std::string& serial, const std::string& ebPath,
                      int firmwareType) {
  ControllerContext& ctx = ops.context();
  GlobalParameter& gp = ctx.params;
  PortLoaderState& port = ctx.loader;
  const std::uint32_t pageBytes = ops.pageBytes();
  const unsigned channels = gp.Channel;
  const std::uint32_t allChannels = static_cast<std::uint32_t>(gp.geometry.PageSectors) * channels;
  const bool dump = gp.DumpDebugFile != 0;
  const bool remap = gp.FeatureBytes[5] != 0;
  if (pageBytes == 0 || channels == 0 || static_cast<std::size_t>(channels) * pageBytes > kSlotSize ||
      port.systemBlocks.count < 3)
    return false;

  // Everything that would stop the write half way is checked before the
  // drive's system blocks are erased: the files open and fit in a block.
  const std::vector<FirmwareFile> files = firmwareFiles(gp);
  if (files.empty()) return false;
  FirmwareTable table;
  table.count = static_cast<std::uint8_t>(files.size());
  std::uint32_t next = kFirstFirmwarePage;
  for (std::size_t i = 0; i < files.size(); ++i) {
    table.firstPage[i] = static_cast<std::uint16_t>(next);
    table.pageCount[i] = files[i].pages;
    next += files[i].pages;
  }
  if (next > gp.geometry.BlockPage) {
    debugPrintf("firmware needs pages up to %u, a block has %u", next - 1, gp.geometry.BlockPage);
    return false;
  }

  // 1-3.
  if (!ops.RestartController(0, 0)) return false;
  std::array<std::uint8_t, 512> info{};
  if (ops.vendor().ReadLoaderInfo(info.data(), 1) != 1) return false;
  const std::uint16_t sequence = le16(info.data() + kSequenceOffset);
  std::uint8_t withFlag = 0;
  if (!ops.LoadRamProgram(RamProgram::Gdp, 0, work, withFlag)) return false;

  // 4. The system area from the third system block.
  std::vector<std::uint8_t> area(4 * kSlotSize, 0);
  const std::vector<std::uint16_t> pages = systemAreaPages(gp);
  const std::uint8_t mode = ops.pageMode();
  for (std::uint16_t page : pages) {
    std::uint8_t* slot = area.data() + (page - 1) * kSlotSize;
    if (!ops.ReadPageAllChannels(8, port.systemBlocks.blocks[2], page, mode, slot)) return false;
    WriteDump(dump, ctx.dumpFolder, hexName("10_TP%2.2X.raw", page), slot, kSlotSize);
  }
  WriteDump(dump, ctx.dumpFolder, "01_CP.raw", area.data(), area.size());

  // 5. Signatures, the early-bad-block export and the SYSP values.
  const std::uint8_t* sysp = area.data() + (pages.back() - 1) * kSlotSize;
  bool syspFound = false;
  for (unsigned c = 0; c < channels; ++c) {
    const std::size_t at = static_cast<std::size_t>(c) * pageBytes;
    const std::uint8_t* p1 = area.data() + at;
    const std::uint8_t* p2 = area.data() + kSlotSize + at;
    if (!HasTableSignature(p1, kFactoryTag)) return failureRecord(work, kDownloadPage1Bad, c, p1, pageBytes), false;
    if (gp.EnSaveDefectTable != 0 && c == 0) {
      const TableShape shape{pageBytes, gp.Channel, gp.Bank, gp.geometry.PageSectors};
      if (!ExportFactoryTable({area.data(), kSlotSize}, shape, ebPath, firmwareType))
        debugPrintf("early bad blocks not saved to %s", ebPath.c_str());
    }
    if (!HasTableSignature(p2, kLaterTag)) return failureRecord(work, kDownloadPage2Bad, c, p2, pageBytes), false;
    if (remap) {
      const std::uint8_t* p3 = area.data() + 2 * kSlotSize + at;
      if (!HasTableSignature(p3, kRemapTag)) return failureRecord(work, kDownloadPage3Bad, c, p3, pageBytes), false;
    }
    if (!syspFound && std::memcmp(sysp + at, kSyspTag, 4) == 0) {
      syspFound = true;
      const std::uint16_t a = le16(sysp + at + 16), b = le16(sysp + at + 20);
      const bool several = gp.Bank * gp.geometry.Die > 1;
      port.syspA = a;
      port.syspAPlus1 = static_cast<std::uint16_t>(a + 1);
      port.syspB = several ? b : 0;
      port.syspBPlus1 = several ? static_cast<std::uint16_t>(b + 1) : 1;
    }
  }
  if (!syspFound) port.syspA = port.syspAPlus1 = port.syspB = 0, port.syspBPlus1 = 1;

  // 6. Later bad blocks in page 2.
  port.laterBadCount = 0;
  for (unsigned c = 0; c < channels; ++c) {
    const std::uint8_t* p2 = area.data() + kSlotSize + static_cast<std::size_t>(c) * pageBytes;
    if (HasTableSignature(p2, kLaterTag)) port.laterBadCount += countLaterBad(p2, pageBytes);
  }

  // 7. The program clears the four system blocks for the rewrite.
  std::uint8_t status = 0;
  if (!ops.RunProgramTask(1, withFlag | kWriteLoaderPrep, status, false) || status != kTaskOneDone) return false;

  // 8.
  TransportState& ts = ops.transport().state();
  if (ts.ataWrapVariant() == 1) ts.setAtaWrapVariant(2);
  if (ts.keepVariantOne()) ts.setAtaWrapVariant(1);

  // 9a-b. The header over the patched program image, one copy per channel.
  BuildLoaderHeaderPage({work, pageBytes}, gp, port.systemBlocks, static_cast<std::uint16_t>(sequence + 1), table);
  for (unsigned c = 1; c < channels; ++c) std::memcpy(work + c * pageBytes, work, pageBytes);
  for (unsigned c = 0; c < channels; ++c) work[c * pageBytes + 0x18] = static_cast<std::uint8_t>(c);
  port.firmware = table;
  port.firstFirmwarePage = table.firstPage[0];
  if (!ops.WritePageBlockList(0, 0, work, allChannels)) return false;

  // 9c.
  for (std::uint16_t page : pages) {
    std::memcpy(work, area.data() + (page - 1) * kSlotSize, kSlotSize);
    WriteDump(dump, ctx.dumpFolder, hexName("10_WT%2.2X.raw", page), work, kSlotSize);
    if (!ops.WritePageBlockList(page, mode, work, allChannels)) return false;
  }

  // 9d. The firmware, page by page.
  const std::uint8_t optionByte = parameterOptionByte(gp);
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::ifstream in(files[i].path, std::ios::binary);
    if (!in) return false;
    for (std::uint16_t k = 0; k < files[i].pages; ++k) {
      std::memset(work, 0xFF, pageBytes);
      in.read(reinterpret_cast<char*>(work), pageBytes);
      std::span<std::uint8_t> page(work, pageBytes);
      if (std::memcmp(work + 0x300, "QKSS", 4) == 0) {
        const bool usb = work[0x30D] == 'U';
        port.firmwareOption = usb ? static_cast<std::uint8_t>((optionByte & 0xF0) | 0x01) : optionByte;
        PatchFirmwarePage(page, gp, port, usb ? IdentityForm::Usb : IdentityForm::Sata, serial);
      }
      if (k + 1 == files[i].pages) {
        for (std::size_t b = 0; b < 4; ++b) work[pageBytes - 4 + b] = static_cast<std::uint8_t>(kFirmwareSeal >> (8 * b));
      }
      for (unsigned c = 1; c < channels; ++c) std::memcpy(work + c * pageBytes, work, pageBytes);
      if (!ops.WritePageBlockList(static_cast<std::uint16_t>(table.firstPage[i] + k), 0, work, allChannels))
        return false;
    }
  }

  // 10-11.
  return !dump || VerifyDownload(ops, work);
}

bool VerifyDownload(ControllerOps& ops, std::uint8_t* buffer) {
  ControllerContext& ctx = ops.context();
  if (ctx.params.DumpDebugFile == 0) return true;
  if (!ops.RestartController(0, 0)) return false;
  const PortLoaderState& port = ctx.loader;
  const std::uint16_t block = port.systemBlocks.blocks[0];
  const std::uint32_t pageBytes = ops.pageBytes();
  std::string folder = ctx.dumpFolder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  for (std::size_t i = 0; i < port.firmware.count; ++i) {
    const std::string path = folder + hexName("UP%2.2X%2.2X%2.2X.raw", static_cast<unsigned>(i), block, 0);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    for (std::uint16_t k = 0; k < port.firmware.pageCount[i]; ++k) {
      if (ops.vendor().ReadFlashPage(0, 0, block, static_cast<std::uint16_t>(port.firmware.firstPage[i] + k), 0,
                                     buffer, ctx.params.geometry.PageSectors) != 1)
        return false;
      out.write(reinterpret_cast<const char*>(buffer), pageBytes);
    }
    if (!out) return false;
  }
  return true;
}

}  // namespace qk
