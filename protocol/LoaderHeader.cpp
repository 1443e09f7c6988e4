#include "protocol/LoaderHeader.h"

#include "platform/LittleEndian.h"

#include <algorithm>
#include <cstring>

#include "protocol/ProgramPatch.h"

namespace qk {

namespace {


constexpr std::uint8_t kConstantTable[60] = {
    0x20, 0x49, 0x00, 0xB0, 0x21, 0x49, 0x00, 0xB0, 0x22, 0x49, 0x00, 0xB0, 0x23, 0x49, 0x00, 0xB0,
    0x01, 0x02, 0x03, 0x04, 0x24, 0x49, 0x00, 0xB0, 0x25, 0x49, 0x00, 0xB0, 0x26, 0x49, 0x00, 0xB0,
    0x27, 0x49, 0x00, 0xB0, 0x05, 0x06, 0x07, 0x08, 0x28, 0x49, 0x00, 0xB0, 0x29, 0x49, 0x00, 0xB0,
    0x2A, 0x49, 0x00, 0xB0, 0x2B, 0x49, 0x00, 0xB0, 0x09, 0x0A, 0x0B, 0x0C};

// Offsets in the first page of a patched firmware file.
constexpr std::size_t kFwIdentityTag = 0x300;   // "QKSSD"
constexpr std::size_t kFwIdentityForm = 0x30D;  // 'S' or 'U'
constexpr std::size_t kFwReadThreshold = kFlashParameterOffset + 0x20;
constexpr std::size_t kFwEccCopyThreshold = kFlashParameterOffset + 0x21;
constexpr std::size_t kFwWearLevel = kFlashParameterOffset + 0x22;
constexpr std::size_t kFwFeatureFlags = kGeometryRecordOffset + 0x17;
constexpr std::size_t kFwExtraWordA = kGeometryRecordOffset + 0x28;
constexpr std::size_t kFwAltBlockCount = kGeometryRecordOffset + 0x2A;

bool isFirmwareFirstPage(const std::uint8_t* page) {
  return std::memcmp(page + kFwIdentityTag, "QKSSD", 5) == 0 &&
         (page[kFwIdentityForm] == 'S' || page[kFwIdentityForm] == 'U');
}

// Two pages' worth, so that the page of an odd loader block (the second one in
// the drive's reply) is inside what the drive sends.
std::uint32_t headerReadSectors(const GlobalParameter& gp) {
  return std::clamp<std::uint32_t>(2U * gp.geometry.PageSectors, 8U, 32U);
}

}  // namespace

std::uint16_t HeaderBlockPages(std::uint16_t flashIdWord) {
  static constexpr std::uint16_t kPages[8] = {64, 128, 256, 512, 0, 0, 0, 0};
  return kPages[(flashIdWord >> 3) & 7];
}

// Loader block header (little-endian; unlisted bytes keep the buffer's):
//   000 "LDBK BLOCKS V30\0"  010 "21X V2 \0"  018 channel index  019 PageSectors
//   01A u16 pages per block  01C u32 0  020+4i u16 system block i, 022+4i u16 7 (up to 02F, else 0)
//   200 "LDBK CONFIG V30\0" (to 21F 0)  210 u16 write sequence  218 u32 0x230  21C u32 0x280
//   230 file count  234 u16 8  236 u16 last firmware page  238+4i u16 first page  23A+4i u16 pages
//   260 PartNumber (20)  280 u16 12  284 constant table (60)
void BuildLoaderHeaderPage(std::span<std::uint8_t> page, const GlobalParameter& gp, const SystemBlockList& blocks,
                           std::uint16_t sequence, const FirmwareTable& firmware) {
  std::fill_n(page.begin(), 0x30, 0);
  std::memcpy(page.data(), kLoaderBlocksTag, 16);
  std::memcpy(page.data() + 0x10, "21X V2 ", 8);
  page[0x18] = 0;
  page[0x19] = gp.geometry.PageSectors;
  put16(page, 0x1A, HeaderBlockPages(gp.FlashIdWord));
  for (std::size_t i = 0; i < std::min<std::size_t>(blocks.count, 4); ++i) {
    put16(page, 0x20 + 4 * i, blocks.blocks[i]);
    put16(page, 0x22 + 4 * i, 7);
  }
  std::fill_n(page.begin() + 0x200, 0x20, 0);
  std::memcpy(page.data() + 0x200, kLoaderConfigTag, 16);
  put16(page, 0x210, sequence);
  put32(page, 0x218, 0x230);
  put32(page, 0x21C, 0x280);
  page[0x230] = firmware.count;
  std::uint32_t total = 0;
  for (std::size_t i = 0; i < std::min<std::size_t>(firmware.count, 2); ++i) {
    put16(page, 0x238 + 4 * i, firmware.firstPage[i]);
    put16(page, 0x23A + 4 * i, firmware.pageCount[i]);
    total += firmware.pageCount[i];
  }
  put16(page, 0x234, kFirstFirmwarePage);
  put16(page, 0x236, static_cast<std::uint16_t>(kFirstFirmwarePage + total - 1));
  std::fill_n(page.begin() + 0x260, 20, 0);
  std::copy_n(gp.PartNumber.begin(), std::min<std::size_t>(gp.PartNumber.size(), 20), page.begin() + 0x260);
  put16(page, 0x280, 12);
  std::copy(std::begin(kConstantTable), std::end(kConstantTable), page.begin() + 0x284);
}

bool ApplyLoaderHeader(std::span<const std::uint8_t> page, GlobalParameter& gp, PortLoaderState& port) {
  if (page.size() < 0x548 || std::memcmp(page.data(), kLoaderBlocksTag, 16) != 0) return false;
  const std::uint8_t* p = page.data();
  port.systemBlocks.count = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    port.systemBlocks.blocks[i] = le16(p + 0x20 + 4 * i);
    if (le16(p + 0x22 + 4 * i) == 7) port.systemBlocks.count = static_cast<std::uint8_t>(i + 1);
  }
  gp.PartNumber.assign(reinterpret_cast<const char*>(p + 0x260), ::strnlen(reinterpret_cast<const char*>(p + 0x260), 20));

  const std::uint8_t* r = p + kFlashParameterOffset;
  gp.FlashIdWord = le16(r);
  gp.TwoPlane = (r[2] & 0x02) ? 1 : 0;
  gp.Column12Flag = (r[2] & 0x20) ? 1 : 0;
  gp.Channel = r[3];
  gp.Bank = r[4];
  gp.EccMode = r[5] ? 2 : 0;
  gp.DriveCurrent = r[6];
  gp.BlockCode = r[7];
  gp.ReservedRatio = static_cast<std::uint16_t>(r[8] | r[0x1A] << 8);
  gp.FeatureBytes[4] = (r[9] & 0x10) ? 1 : 0;
  gp.FeatureBytes[5] = (r[9] & 0x20) ? 1 : 0;
  gp.CECount = r[0x0B];
  gp.geometry = DeriveGeometry(gp.FlashIdWord, gp.TwoPlane, gp.CECount, gp.Bank);
  if (p[0x19] != 0) gp.geometry.PageSectors = p[0x19];

  FirmwareTable& fw = port.firmware;
  fw.count = std::min<std::uint8_t>(p[0x230], 2);
  for (std::size_t i = 0; i < 2; ++i) {
    fw.firstPage[i] = i < fw.count ? le16(p + 0x238 + 4 * i) : 0;
    fw.pageCount[i] = i < fw.count ? le16(p + 0x23A + 4 * i) : 0;
  }
  port.firstFirmwarePage = fw.firstPage[0];
  return true;
}

bool ReadLoaderHeader(ControllerOps& ops, std::uint8_t* buffer, bool sataPath) {
  ControllerContext& ctx = ops.context();
  GlobalParameter& gp = ctx.params;
  const bool loader = ops.IsLoaderMode();
  // Under the firmware the drive numbers blocks its own way.
  auto sent = [&](std::uint16_t k) { return loader ? k : ToLoaderBlock(gp, k); };

  std::uint32_t sectors = headerReadSectors(gp);
  int found = -1;
  for (std::uint16_t k = 0; k < 4 && found < 0; ++k) {
    if (ops.ReadFirmwarePages(sent(k), k, 0, 0, buffer, sectors) &&
        std::memcmp(buffer, kLoaderBlocksTag, 16) == 0)
      found = k;
  }
  if (found < 0) return false;
  if (!ApplyLoaderHeader(std::span<const std::uint8_t>(buffer, WorkBuffers::kSmallSize), gp, ctx.loader)) return false;
  const FirmwareTable& fw = ctx.loader.firmware;
  sectors = headerReadSectors(gp);

  // The firmware parameters live in the patched first page of a firmware file.
  bool taken = false;
  for (std::size_t j = 0; j < fw.count && !taken; ++j) {
    for (std::uint16_t k = 0; k < 4 && !taken; ++k) {
      if (!ops.ReadFirmwarePages(sent(k), k, fw.firstPage[j], 0, buffer, sectors) || !isFirmwareFirstPage(buffer))
        continue;
      gp.ExtraWordA = le16(buffer + kFwExtraWordA);
      gp.AltBlockCount = le16(buffer + kFwAltBlockCount);
      gp.FeatureFlags = buffer[kFwFeatureFlags];
      if (gp.EccMode == 2) {
        gp.Bch24ReadThreshold = buffer[kFwReadThreshold];
        gp.Bch24EccCopyThreshold = buffer[kFwEccCopyThreshold];
      } else {
        gp.Bch16ReadThreshold = buffer[kFwReadThreshold];
        gp.Bch16EccCopyThreshold = buffer[kFwEccCopyThreshold];
      }
      gp.WearLevelFrequency = buffer[kFwWearLevel];
      taken = true;
    }
  }

  // Leave the identity page of this path's firmware file in the buffer: the
  // 'S' file on a bridge, the 'U' file on USB, else file 0.
  const char form = sataPath ? 'S' : 'U';
  const std::uint16_t k = static_cast<std::uint16_t>(found);
  for (std::size_t j = 0; j < fw.count; ++j) {
    if (ops.ReadFirmwarePages(sent(k), k, fw.firstPage[j], 0, buffer, sectors) && isFirmwareFirstPage(buffer) &&
        buffer[kFwIdentityForm] == form)
      return true;
  }
  if (fw.count > 0) ops.ReadFirmwarePages(sent(k), k, fw.firstPage[0], 0, buffer, sectors);
  return true;
}

}  // namespace qk
