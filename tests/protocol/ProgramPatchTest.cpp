// RAM program and firmware page patches, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "protocol/ProgramPatch.h"

using namespace qk;

namespace {

// Family 1, MLC, 2 dies per chip enable, 8192 blocks, 128 pages, 4 KiB pages.
GlobalParameter layout() {
  GlobalParameter gp;
  gp.FlashIdWord = 0x1A89;
  gp.Channel = 4;
  gp.Bank = 2;
  gp.CECount = 2;
  gp.geometry = DeriveGeometry(gp.FlashIdWord, 0, gp.CECount, gp.Bank);
  gp.ReservedRatio = 68;
  gp.DirtyDepth = 25;
  gp.ExtraWordA = 0x1122;
  gp.AltBlockCount = 0x0400;
  gp.FeatureFlags = 0x65;
  gp.ControlBytesA = {0, 0, 0, 0, 0x9B, 0x39, 0x54};
  gp.TmcBytes = {0x21, 0x21, 0x11, 0x00, 0x9B, 0xF9, 0x54};
  gp.LedLightMode = 3;
  return gp;
}

std::uint16_t le16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(le16(b, at) | le16(b, at + 2) << 16);
}

}  // namespace

TEST(TableMemorySize, AddsOneUnitEvenOnAnExactMultiple) {
  GlobalParameter gp;
  gp.Bank = 2;
  gp.Channel = 1;
  gp.geometry.TotalBlock = 4096;
  gp.geometry.BlockPage = 128;
  gp.ReservedRatio = 65;
  // h = 133, u = 1915, m = 2, o = 2 x 130 - 43 = 217: total 3489792 = 213 x 16384
  EXPECT_EQ(TableMemorySize(gp, 43), 214u * 16384);
  EXPECT_EQ(TableMemorySize(gp, 42), 214u * 16384);  // 3490976: rounds up within the unit
  EXPECT_EQ(TableMemorySize(gp, 0x10000 + 43), 214u * 16384);  // only the low 16 bits count
}

TEST(ShiftValue, SearchEndsAndStaysInRange) {
  GlobalParameter gp;
  gp.Channel = 1;
  gp.Bank = 1;
  gp.geometry.Die = 1;
  gp.geometry.HalfDieBlocks = 4096;
  // 200 per mille: g = 8, t2 = 12 - 3 = 9, t1 = 12; the cap for 68 and more gives 8.
  gp.ReservedRatio = 200;
  EXPECT_EQ(ShiftValue(gp), 8);
  // Below 68 there is no cap: 50 per mille gives g = 32, t2 = 7.
  gp.ReservedRatio = 50;
  EXPECT_EQ(ShiftValue(gp), 7);
  // Four channels and two banks with two dies: t1 = log2(4096 / 16) = 8.
  gp.Channel = 4;
  gp.Bank = 2;
  gp.geometry.Die = 2;
  gp.ReservedRatio = 1000;
  EXPECT_EQ(ShiftValue(gp), 8);
  // A ratio of 0 counts as 1 per mille (g = 1024), and X never goes below 0.
  gp.ReservedRatio = 0;
  gp.geometry.HalfDieBlocks = 512;
  EXPECT_EQ(ShiftValue(gp), 0);
  gp.geometry.HalfDieBlocks = 8192;
  EXPECT_EQ(ShiftValue(gp), 3);
}

TEST(BlockTranslation, PlainAndGroupedForms) {
  GlobalParameter gp = layout();  // family 1: plain
  const std::uint16_t p = gp.geometry.HalfDieBlocks;
  EXPECT_EQ(p, 2048);
  EXPECT_EQ(ToLoaderBlock(gp, 2 * p + 5), p + 2);
  EXPECT_EQ(FromSystemBlock(gp, p + 2), 2 * p + 4);
  gp.FlashIdWord = 0x2A89;  // family 2 without the column-12 flag: grouped
  EXPECT_EQ(ToLoaderBlock(gp, 2 * p + 5), p + 5);
  EXPECT_EQ(FromSystemBlock(gp, p + 5), 2 * p + 10);
  gp.Column12Flag = 1;
  EXPECT_EQ(ToLoaderBlock(gp, 2 * p + 5), p + 2);
}

TEST(ProgramImagePatch, ParameterAndCapacityRecordsOnTaggedImagesOnly) {
  GlobalParameter gp = layout();
  PortLoaderState port;
  port.systemBlocks = {4, {0x10, 0x11, 0x12, 0x13}};
  port.laterBadCount = 0x00010005;
  port.firstFirmwarePage = 8;
  port.firmwareOption = 0x15;
  std::vector<std::uint8_t> image(kProgramImageSize, 0x66);
  EXPECT_FALSE(PatchProgramImage(image, gp, port));
  EXPECT_EQ(image[0x500], 0x66);

  std::memcpy(image.data() + 64, "GDP_", 4);
  ASSERT_TRUE(PatchProgramImage(image, gp, port));
  EXPECT_EQ(le16(image, 0x500), 0x1A89);
  EXPECT_EQ(le16(image, 0x510), 0x10);  // system blocks in the parameter record
  const std::uint32_t unit = 8 * 1024 * 4;
  const std::uint32_t size = le32(image, 0x548);
  EXPECT_EQ(size % unit, 0u);
  EXPECT_GE(size, TableMemorySize(gp, port.laterBadCount));
  EXPECT_LT(size, TableMemorySize(gp, port.laterBadCount) + unit);
  std::vector<std::uint8_t> rest(image.begin() + 0x54C, image.begin() + 0x578);
  std::vector<std::uint8_t> want = {0x05, 0x00, 0x01, 0x00, 0x08, 0x00, 25, 0x00, 0x22, 0x11, 0x00, 0x04,
                                    0x15, 0x65};
  want.resize(0x578 - 0x54C, 0);
  EXPECT_EQ(rest, want);
  EXPECT_EQ(image[0x578], 0x66);
}

TEST(FirmwarePagePatch, GeometryRecordAndPageTables) {
  GlobalParameter gp = layout();
  PortLoaderState port;
  port.syspAPlus1 = 0x31;
  port.syspBPlus1 = 0x32;
  port.syspA = 0x30;
  port.syspB = 0x31;
  port.firstFirmwarePage = 8;
  port.firmwareOption = 0x0B;
  std::vector<std::uint8_t> page(8192, 0xEE);
  gp.TableSelect = 2;
  PatchFirmwarePage(page, gp, port, IdentityForm::Sata, "SN");
  // Channel 4, L = 1 + 1 (dies), 128 pages, 2048 half-die blocks, 8 sectors; X: t1 = 8, g = 16, t2 = 7.
  std::vector<std::uint8_t> head(page.begin() + 0x530, page.begin() + 0x540);
  EXPECT_EQ(head, (std::vector<std::uint8_t>{2, 2, 1, 7, 11, 3, 7, 8, 0x0B, 1, 1, 1, 0, 0, 0, 0}));
  std::vector<std::uint8_t> tail(page.begin() + 0x540, page.begin() + 0x570);
  std::vector<std::uint8_t> want = {0, 0, 0, 0, 0x9B, 0x39, 0x54, 0x65, 0x21, 0x21, 0x11, 0x00, 0x9B, 0xF9, 0x54, 2,
                                    0x31, 0, 0x32, 0, 68, 0, 8, 0, 0x22, 0x11, 0x00, 0x04, 0x30, 0, 0x31, 0,
                                    0x20, 0x03, 3};
  want.resize(0x30, 0);
  EXPECT_EQ(tail, want);
  EXPECT_EQ(std::vector<std::uint8_t>(page.begin() + 0x5A0, page.begin() + 0x5A8),
            (std::vector<std::uint8_t>{0x02, 0x04, 0x00, 0x06, 0x01, 0x08, 0x03, 0x0A}));
  EXPECT_EQ(page[0x69F], 0xFF);
  EXPECT_EQ(page[0x6A0], 0xEE);
  // Parameter record (firmware variant) and identity area went in as well.
  EXPECT_EQ(page[0x503], 4);
  EXPECT_EQ(page[0x60], 'N');

  const std::vector<std::vector<std::uint8_t>> heads = {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                                                        {0x04, 0x05, 0x08, 0x09, 0x00, 0x01, 0x0C, 0x0D},
                                                        {0x02, 0x04, 0x00, 0x06, 0x01, 0x08, 0x03, 0x0A},
                                                        {0xFF, 0xFF, 0x06, 0x07, 0x0A, 0x0B, 0x02, 0x03},
                                                        {0x04, 0x05, 0x08, 0x09, 0x00, 0x01, 0x0C, 0x0D}};
  std::vector<std::vector<std::uint8_t>> tables;
  for (std::uint8_t t = 0; t < 5; ++t) {
    WritePageTable(page, t);
    EXPECT_EQ(std::vector<std::uint8_t>(page.begin() + 0x5A0, page.begin() + 0x5A8), heads[t]) << int(t);
    tables.emplace_back(page.begin() + 0x5A0, page.begin() + 0x6A0);
  }
  EXPECT_EQ(tables[0], std::vector<std::uint8_t>(256, 0xFF));
  EXPECT_NE(tables[1], tables[4]);
  WritePageTable(page, 5);  // out of range: the file's bytes stay
  EXPECT_EQ(std::vector<std::uint8_t>(page.begin() + 0x5A0, page.begin() + 0x6A0), tables[4]);
}
