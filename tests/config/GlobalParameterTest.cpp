#include "config/GlobalParameter.h"

#include <gtest/gtest.h>

#include <vector>

using namespace qk;

namespace {

FlashTypeRecord wbg() {
  FlashTypeRecord t;
  t.uniqueName = "WBG";
  t.partNumber = "K9GBG08U0A";
  t.flashIdWord = 0x1849;  // family 1, MLC, 1 die, 4096 blocks, 128 pages, 4 KB pages
  t.ceCount = 2;
  t.eccMode = 2;
  t.idBytes[0] = 0xEC;
  t.idBytes[1] = 0xD7;
  t.idBytes[2] = 0x94;
  t.idBytes[3] = 0x72;
  t.idBytes[4] = 0x54;
  return t;
}

FlashCatalogue catalogueOf(std::vector<FlashTypeRecord> types) {
  FlashCatalogue c;
  c.vendors = {"V"};
  c.boundaries = {static_cast<int>(types.size())};
  c.types = std::move(types);
  return c;
}

ProfileSettings defaults() {
  ProfileSettings s;
  s.FlashUniName = "WBG";
  s.Channel = 4;
  s.Bank = 2;
  s.DrvCurrent = 1;
  s.DefPercentage = 48;
  s.ResPercentage = 0x0144;
  s.Bch16ReadErrorThreshold = 13;
  s.Bch24ReadErrorThreshold = 20;
  s.Bch16EccErrorCopyThreshold = 6;
  s.Bch24EccErrorCopyThreshold = 15;
  s.WearLevelFrequency = 128;
  s.SecurityCounter = 5;
  s.DirtyDepth = 40;
  s.EnTrimCmd = 1;
  s.SataLBA48 = 1;
  s.SerialNum = "QK_0123456789";
  s.SNMinLength = 12;
  s.FirmwareVer = "12345678";
  s.ModelNum = "Talvery QKR2XX SSD";
  return s;
}

}  // namespace

TEST(Geometry, DecodesTheIdWordAndBuildsTheChipEnableMap) {
  // 0x1A89: page code 1, pages code 1, blocks code 2, die code 1.
  FlashGeometry g = DeriveGeometry(0x1A89, 0, 2, 4);
  EXPECT_EQ(g.PageSectors, 8);
  EXPECT_EQ(g.BlockPage, 128);
  EXPECT_EQ(g.TotalBlock, 8192);
  EXPECT_EQ(g.Die, 2);
  EXPECT_EQ(g.HalfDieBlocks, 2048);
  EXPECT_EQ(g.CEMap, (std::array<std::uint8_t, 8>{0, 1, 4, 5, 0, 0, 0, 0}));
  EXPECT_EQ(DeriveGeometry(0, 0, 1, 4).CEMap, (std::array<std::uint8_t, 8>{0, 4, 8, 12, 0, 0, 0, 0}));
  EXPECT_EQ(DeriveGeometry(0, 0, 4, 8).CEMap, (std::array<std::uint8_t, 8>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(DeriveGeometry(0, 0, 1, 2).CEMap, (std::array<std::uint8_t, 8>{0, 4, 0, 0, 0, 0, 0, 0}));
  // Two planes halve the pages per block; codes outside the tables give 0.
  EXPECT_EQ(DeriveGeometry(0x0008, 1, 1, 1).BlockPage, 64);
  EXPECT_EQ(DeriveGeometry(0x0007 | (7 << 3) | (7 << 6), 0, 1, 1).TotalBlock, 0);
  // A catalogue entry without chip enables must not hang the station.
  EXPECT_EQ(DeriveGeometry(0, 0, 0, 8).CEMap, (std::array<std::uint8_t, 8>{}));
}

TEST(GetGlobalParameter, ClampsNormalisesAndAppliesFamilyRules) {
  auto cat = catalogueOf({wbg()});
  GlobalParameter gp;
  ProfileSettings s = defaults();
  for (auto [depth, want] : {std::pair{5, 10}, {200, 40}, {25, 25}, {-1, 40}}) {
    s.DirtyDepth = depth;
    GetGlobalParameter(s, cat, {}, gp);
    EXPECT_EQ(gp.DirtyDepth, want) << depth;
  }
  s.SerialNum = "ABC";
  GetGlobalParameter(s, cat, {}, gp);
  EXPECT_EQ(s.SerialNum, "000000000ABC");
  s.SerialNum = "QK_0123456789";
  GetGlobalParameter(s, cat, {}, gp);
  EXPECT_EQ(s.SerialNum, "K_0123456789");

  // Family 1 part K9GBG08U0A: first two TMC bytes 0x21; the override wins.
  EXPECT_EQ(gp.TmcBytes, (std::array<std::uint8_t, 7>{0x21, 0x21, 0x11, 0x00, 0x9B, 0xF9, 0x54}));
  s.EnModifyTMCvalue = 1;
  s.TMC0 = 5;
  s.TMC1 = 6;
  GetGlobalParameter(s, cat, {}, gp);
  EXPECT_EQ(gp.TmcBytes, (std::array<std::uint8_t, 7>{0x05, 0x06, 0x11, 0x00, 0x9B, 0xF9, 0x54}));
  EXPECT_EQ(gp.ControlBytesA, (std::array<std::uint8_t, 7>{0, 0, 0, 0, 0x9B, 0x39, 0x54}));
  EXPECT_EQ(gp.OptionBytes[5], 1);
}

TEST(GetGlobalParameter, FeatureFlagsCapacityBlockCodeAndDetails) {
  auto cat = catalogueOf({wbg()});
  GlobalParameter gp;
  ProfileSettings s = defaults();
  auto details = GetGlobalParameter(s, cat, {"21", "100205"}, gp);
  // trim, family 21 with version >= 100205, always bit 5, LBA48.
  EXPECT_EQ(gp.FeatureFlags, 0x01 | 0x04 | 0x20 | 0x40);
  EXPECT_EQ(gp.OptionBytes[4], 1);
  GetGlobalParameter(s, cat, {"21", "100204"}, gp);
  EXPECT_EQ(gp.FeatureFlags & 0x04, 0);
  // (8/2) x 128 x (4096/1024) x 4 channels x 2 banks / 1024
  EXPECT_EQ(gp.CapacityGB, 16);
  // bit 4 (not family 2), log2(4096) - 10 = 2, log2(128) - 6 = 1
  EXPECT_EQ(gp.BlockCode, 0x10 | (2 << 2) | 1);
  ASSERT_EQ(details.size(), 3u);
  EXPECT_EQ(details[0], "Type: MLC, Die: 1");
  EXPECT_EQ(details[1], "TotalBlock: 4096, BlockPage: 128");
  EXPECT_EQ(details[2], "PerPageSize: 4096 DieOffset: 0");
  // An unknown name silently takes entry 0.
  s.FlashUniName = "NOPE";
  GetGlobalParameter(s, cat, {}, gp);
  EXPECT_EQ(gp.FlashIdWord, 0x1849);
}

TEST(FlashParameterRecord, FirmwareAndRamProgramVariantsByteForByte) {
  auto cat = catalogueOf({wbg()});
  GlobalParameter gp;
  ProfileSettings s = defaults();
  s.KeepPreviouseEraseCount = 1;
  GetGlobalParameter(s, cat, {"21", "100205"}, gp);
  gp.OptionBytes[1] = 1;  // USB LED mirror
  std::vector<std::uint8_t> image(0x600, 0xEE);
  WriteFlashParameterRecord(image, gp, {0x10, 0x20, 0x30, 0x40}, ParameterVariant::Firmware);
  std::vector<std::uint8_t> want = {
      0x49, 0x18, 0x00, 0x04, 0x02, 0x01, 0x01, gp.BlockCode, 0x44, 0x00, 0x32, 0x02, 0, 0, 0, 0,
      0x10, 0x00, 0x20, 0x00, 0x30, 0x00, 0x40, 0x00, 0x40, 0x00, 0x01, 0x01, 0, 0, 0, 0,
      20, 15, 128, 5, 0, 0, 0, 0,
      0, 1, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::vector<std::uint8_t>(image.begin() + 0x500, image.begin() + 0x530), want);
  EXPECT_EQ(image[0x530], 0xEE);  // the firmware variant stops behind the CE map
  EXPECT_EQ(image[0x4FF], 0xEE);

  WriteFlashParameterRecord(image, gp, {0, 0, 0, 0}, ParameterVariant::RamProgram);
  EXPECT_EQ(image[0x520], 48);
  EXPECT_EQ(image[0x521], 0);
  for (int j = 0; j < 24; ++j) EXPECT_EQ(image[0x530 + j], (8 * 2 * j) & 0xFF) << j;
}

TEST(IdentityArea, SataTextsAreSwappedAndPadded) {
  GlobalParameter gp;
  gp.FirmwareRevision = "12345678";
  gp.ModelNumber = std::string(40, 'M');
  gp.IdeUdma5 = 1;
  std::vector<std::uint8_t> image(0x200, 0);
  WriteIdentityArea(image, gp, IdentityForm::Sata, "ABCDE");
  EXPECT_EQ(std::string(image.begin() + 0x60, image.begin() + 0x74), "BADC E              ");
  EXPECT_EQ(std::string(image.begin() + 0x7A, image.begin() + 0x82), "21436587");
  EXPECT_EQ(std::string(image.begin() + 0x82, image.begin() + 0xAA), std::string(40, 'M'));
  EXPECT_EQ(image[0xAA], 0);
  EXPECT_EQ(image[0x107], 0x20);
}

TEST(IdentityArea, UsbDescriptorsInUtf16) {
  GlobalParameter gp;
  gp.UsbVendorId = 0x1234;
  gp.UsbProductId = 0xABCD;
  gp.InquiryVendor = "VENDORXYZ";  // cut to 8
  gp.UsbManufacturer = "Maker";
  gp.UsbRemovable = 1;
  std::vector<std::uint8_t> image(0x200, 0);
  image[0x9F] = 0x03;  // descriptor type stays as the image has it
  WriteIdentityArea(image, gp, IdentityForm::Usb, "SN1");
  EXPECT_EQ(image[0x64], 0x34);
  EXPECT_EQ(image[0x65], 0x12);
  EXPECT_EQ(image[0x66], 0xCD);
  EXPECT_EQ(image[0x67], 0xAB);
  EXPECT_EQ(image[0x6F], 0x80);
  EXPECT_EQ(std::string(image.begin() + 0x76, image.begin() + 0x86), "VENDORXY        ");
  EXPECT_EQ(image[0x9E], 2 * 5 + 2);
  EXPECT_EQ(image[0x9F], 0x03);
  EXPECT_EQ(image[0xA0], 'M');
  EXPECT_EQ(image[0xA1], 0);
  EXPECT_EQ(image[0xAA], 0x20);  // padding of the manufacturer text
  EXPECT_EQ(image[0xF2], 2 * 3 + 2);
  EXPECT_EQ(image[0xF4], 'S');
  EXPECT_EQ(image[0xF8], '1');
  EXPECT_EQ(image[0x11A], 0x20);
  EXPECT_EQ(image[0x11B], 0x00);
}
