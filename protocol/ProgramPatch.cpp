#include "protocol/ProgramPatch.h"

#include "platform/LittleEndian.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace qk {

namespace {



// The grouped block numbering of family 2 without the column-12 flag.
bool groupedBlocks(const GlobalParameter& gp) {
  return gp.familyCode() == 2 && gp.Column12Flag == 0 && gp.geometry.HalfDieBlocks != 0;
}

// log2(Bank), plus one when a chip enable holds several dies.
int bankDieShift(const GlobalParameter& gp) { return LowBitIndex(gp.Bank) + (gp.geometry.Die > 1 ? 1 : 0); }

}  // namespace

int LowBitIndex(std::uint32_t v) {
  if (v == 0) return 0;
  int n = 0;
  while (((v >> n) & 1U) == 0) ++n;
  return n;
}

bool IsTaggedProgramImage(std::span<const std::uint8_t> image) {
  if (image.size() < kProgramTagOffset + 4) return false;
  const char* tag = reinterpret_cast<const char*>(image.data() + kProgramTagOffset);
  return std::memcmp(tag, "GDP_", 4) == 0 || std::memcmp(tag, "TST_", 4) == 0;
}

std::uint32_t TableMemorySize(const GlobalParameter& gp, std::uint32_t laterBadCount) {
  const std::uint32_t a = gp.Bank, b = gp.Channel;
  const std::uint32_t c = gp.geometry.TotalBlock / 2U;
  const std::uint32_t d = gp.geometry.BlockPage;
  const std::uint32_t e = gp.ReservedRatio;
  const std::uint32_t f = laterBadCount & 0xFFFF;
  const std::uint32_t h = ((e * c) / 1000U) & 0xFFFF;
  const std::uint32_t u = (c - h) & 0xFFFF;
  const std::uint32_t m = a * b;
  const std::uint32_t o = m * (h - 3U) - f;
  const std::uint32_t total =
      m * (8 * c + 5 * u + 5 * h + 1616) + 160 * o + 8 * (d * o + 1) + 8 * (m * u + 1) + 0x300000U;
  return (total / 16384U + 1) * 16384U;
}

std::uint8_t ShiftValue(const GlobalParameter& gp) {
  const int l = bankDieShift(gp);
  const std::uint32_t lanes = static_cast<std::uint32_t>(gp.Channel) << l;
  const int t1 = LowBitIndex(lanes ? 4096U / lanes : 0U);
  // The search ends once 1/g drops below the ratio; a ratio of 0 would never
  // get there, so it counts as 1 per mille.
  const double ratio = (gp.ReservedRatio == 0 ? 1 : gp.ReservedRatio) * 0.001;
  std::uint32_t g = 2;
  while (!(ratio > 1.0 / g) && g < (1U << 30)) g *= 2;
  const int halfDie = LowBitIndex(gp.geometry.HalfDieBlocks);
  const int t2 = halfDie - LowBitIndex(g);
  int x = std::min(t1, t2);
  if (gp.ReservedRatio >= 68) x = std::min(x, halfDie - 4);
  return static_cast<std::uint8_t>(std::max(x, 0));
}

// Capacity record at 0x548 (48 bytes, unlisted bytes 0):
//   +00 u32 table memory size, rounded up to PageSectors x 1024 x Channel
//   +04 u32 later-bad count     +08 u16 first page of firmware file 0
//   +0A u16 dirty depth         +0C u16 ExtraWordA   +0E u16 AltBlockCount
//   +10 u8 firmware option byte +11 u8 FeatureFlags
void WriteCapacityRecord(std::span<std::uint8_t> image, const GlobalParameter& gp, const PortLoaderState& port) {
  auto r = image.subspan(kCapacityRecordOffset, kCapacityRecordSize);
  std::fill(r.begin(), r.end(), 0);
  std::uint32_t size = TableMemorySize(gp, port.laterBadCount);
  const std::uint32_t unit = static_cast<std::uint32_t>(gp.geometry.PageSectors) * 1024U * gp.Channel;
  if (unit != 0) size = (size + unit - 1) / unit * unit;
  put32(r, 0x00, size);
  put32(r, 0x04, port.laterBadCount);
  put16(r, 0x08, port.firstFirmwarePage);
  put16(r, 0x0A, gp.DirtyDepth);
  put16(r, 0x0C, gp.ExtraWordA);
  put16(r, 0x0E, gp.AltBlockCount);
  r[0x10] = port.firmwareOption;
  r[0x11] = gp.FeatureFlags;
}

// Geometry record at 0x530 of a firmware page (64 bytes, unlisted bytes 0):
//   +00 log2 Channel  +01 L = log2 Bank (+1 with dies)  +02 1  +03 log2 BlockPage
//   +04 log2 HalfDieBlocks  +05 log2 PageSectors  +06 shift X  +07 8
//   +08 firmware option  +09 AltBlockCount != 0  +0A log2 Bank  +0B 2 if L + log2 PageSectors >= 7 else 1
//   +10 ControlBytesA (7)  +17 FeatureFlags  +18 TmcBytes (7)  +1F family flags
//   +20 SYSP A+1  +22 SYSP B+1  +24 reserved ratio  +26 first page of file 0
//   +28 ExtraWordA  +2A AltBlockCount  +2C SYSP A  +2E SYSP B  +30 512 or 800  +32 LEDLightMode
void WriteGeometryRecord(std::span<std::uint8_t> page, const GlobalParameter& gp, const PortLoaderState& port) {
  auto r = page.subspan(kGeometryRecordOffset, kGeometryRecordSize);
  std::fill(r.begin(), r.end(), 0);
  const FlashGeometry& g = gp.geometry;
  const int l = bankDieShift(gp);
  const int pageShift = LowBitIndex(g.PageSectors);
  r[0x00] = static_cast<std::uint8_t>(LowBitIndex(gp.Channel));
  r[0x01] = static_cast<std::uint8_t>(l);
  r[0x02] = 1;
  r[0x03] = static_cast<std::uint8_t>(LowBitIndex(g.BlockPage));
  r[0x04] = static_cast<std::uint8_t>(LowBitIndex(g.HalfDieBlocks));
  r[0x05] = static_cast<std::uint8_t>(pageShift);
  r[0x06] = ShiftValue(gp);
  r[0x07] = 8;
  r[0x08] = port.firmwareOption;
  r[0x09] = gp.AltBlockCount != 0 ? 1 : 0;
  r[0x0A] = static_cast<std::uint8_t>(LowBitIndex(gp.Bank));
  r[0x0B] = l + pageShift >= 7 ? 2 : 1;
  std::copy(gp.ControlBytesA.begin(), gp.ControlBytesA.end(), r.begin() + 0x10);
  r[0x17] = gp.FeatureFlags;
  std::copy(gp.TmcBytes.begin(), gp.TmcBytes.end(), r.begin() + 0x18);
  std::uint8_t family = 0;
  switch (gp.familyCode()) {
    case 0: case 4: family = 1; break;
    case 1: family = 2; break;
    case 2: family = 4; break;
    case 3: family = gp.Column12Flag ? 4 : 2; break;
    default: break;
  }
  r[0x1F] = family;
  put16(r, 0x20, port.syspAPlus1);
  put16(r, 0x22, port.syspBPlus1);
  put16(r, 0x24, gp.ReservedRatio);
  put16(r, 0x26, port.firstFirmwarePage);
  put16(r, 0x28, gp.ExtraWordA);
  put16(r, 0x2A, gp.AltBlockCount);
  put16(r, 0x2C, port.syspA);
  put16(r, 0x2E, port.syspB);
  put16(r, 0x30, gp.familyCode() == 0 || gp.familyCode() == 4 ? 512 : 800);
  r[0x32] = gp.LedLightMode;
}

namespace {
// Page-order maps. Only the first bytes of tables 1..4 are fixed; the rest of
// 1..3 continues in plain order and table 4 is unused (0xFF) behind its head.
std::array<std::uint8_t, kPageTableSize> pageTable(std::uint8_t select) {
  static constexpr std::uint8_t kHeads[5][8] = {
      {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
      {0x04, 0x05, 0x08, 0x09, 0x00, 0x01, 0x0C, 0x0D},
      {0x02, 0x04, 0x00, 0x06, 0x01, 0x08, 0x03, 0x0A},
      {0xFF, 0xFF, 0x06, 0x07, 0x0A, 0x0B, 0x02, 0x03},
      {0x04, 0x05, 0x08, 0x09, 0x00, 0x01, 0x0C, 0x0D},
  };
  std::array<std::uint8_t, kPageTableSize> t{};
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (i < 8) t[i] = kHeads[select][i];
    else if (select == 0 || select == 4) t[i] = 0xFF;
    else t[i] = static_cast<std::uint8_t>(i);
  }
  return t;
}
}  // namespace

void WritePageTable(std::span<std::uint8_t> page, std::uint8_t tableSelect) {
  if (tableSelect > 4) return;
  auto t = pageTable(tableSelect);
  std::copy(t.begin(), t.end(), page.begin() + kPageTableOffset);
}

bool PatchProgramImage(std::span<std::uint8_t> image, const GlobalParameter& gp, const PortLoaderState& port) {
  if (!IsTaggedProgramImage(image)) return false;
  WriteFlashParameterRecord(image, gp, port.systemBlocks.blocks, ParameterVariant::RamProgram);
  WriteCapacityRecord(image, gp, port);
  return true;
}

void PatchFirmwarePage(std::span<std::uint8_t> page, const GlobalParameter& gp, const PortLoaderState& port,
                       IdentityForm form, const std::string& serial) {
  WriteFlashParameterRecord(page, gp, port.systemBlocks.blocks, ParameterVariant::Firmware);
  WriteGeometryRecord(page, gp, port);
  WritePageTable(page, gp.TableSelect);
  WriteIdentityArea(page, gp, form, serial);
}

std::uint16_t ToLoaderBlock(const GlobalParameter& gp, std::uint16_t block) {
  if (!groupedBlocks(gp)) return static_cast<std::uint16_t>(block / 2);
  const std::uint32_t p = gp.geometry.HalfDieBlocks;
  return static_cast<std::uint16_t>(block % (2 * p) + ((block / (2 * p)) & 0xFF) * p);
}

std::uint16_t FromSystemBlock(const GlobalParameter& gp, std::uint16_t block) {
  if (!groupedBlocks(gp)) return static_cast<std::uint16_t>(block * 2);
  const std::uint32_t p = gp.geometry.HalfDieBlocks;
  return static_cast<std::uint16_t>(((block / p) & 0xFF) * 2 * p + (block % p) * 2);
}

}  // namespace qk
