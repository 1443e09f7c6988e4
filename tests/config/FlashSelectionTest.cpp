#include "config/FlashSelection.h"

#include <gtest/gtest.h>

using namespace qk;

namespace {
GlobalParameter array(int channel, int bank, int totalBlock, int blockPage, int pageSectors) {
  GlobalParameter gp;
  gp.Channel = static_cast<std::uint8_t>(channel);
  gp.Bank = static_cast<std::uint8_t>(bank);
  gp.geometry.TotalBlock = static_cast<std::uint16_t>(totalBlock);
  gp.geometry.BlockPage = static_cast<std::uint16_t>(blockPage);
  gp.geometry.PageSectors = static_cast<std::uint8_t>(pageSectors);
  return gp;
}
}  // namespace

TEST(IdemaRatio, RefusesEmptyZeroAndTooLargeEntries) {
  GlobalParameter gp = array(4, 2, 4096, 128, 8);
  EXPECT_EQ(*IdemaToReservedRatio("", gp).message, "Please input a IDEMA capacity");
  EXPECT_EQ(*IdemaToReservedRatio("0", gp).message, "Please input a correct IDEMA capacity(not equal to 0)");
  // 4 x 2 x 4 x 128 x 4 / 1024 = 16
  EXPECT_EQ(*IdemaToReservedRatio("64", gp).message, "Please input a correct IDEMA capacity(less than or equal to 16)");
  EXPECT_TRUE(IdemaToReservedRatio("99999999999999999999", gp).message.has_value());
}

TEST(IdemaRatio, ComputesThePerMilleRatio) {
  GlobalParameter gp = array(4, 2, 4096, 128, 8);
  auto r = IdemaToReservedRatio("15", gp);
  ASSERT_FALSE(r.message);
  // L = 15 x 1953504 + 21168 = 29323728; S = 4 x 2 x 128 x 8 x 4096 = 33554432
  double want = 100.0 - 100.0 * 29323728.0 / 33554432.0;  // 12.608...
  EXPECT_NEAR(r.ratio, want, 1e-4);
  EXPECT_EQ(r.resPercentage, 126);
}

TEST(UsableLbas, CutDownToAnIdemaSize) {
  GlobalParameter gp = array(4, 2, 4096, 128, 8);
  std::uint64_t lbas = UsableLbaCount(gp, 68);
  EXPECT_EQ((lbas - kIdemaOffset) % kIdemaStep, 0u);
  // H = 2048, R = 139, T = 1909 x 8 x 2 x 128 x 8 - 320 = 31277760 -> 15 GB
  EXPECT_EQ(lbas, 15 * kIdemaStep + kIdemaOffset);
  EXPECT_EQ(CapacityText1000(lbas), "15.01");
  EXPECT_EQ(CapacityText1024(lbas), "13.98");
}

TEST(UsableLbas, ABlockOf256PagesCountsAs255) {
  // H = 2048, R = 139, T = 1909 x 8 x 2 x 255 x 8 - 320 = 62309440 -> 31 GB;
  // counting all 256 pages would give 62553792 -> 32 GB.
  GlobalParameter gp = array(4, 2, 4096, 256, 8);
  EXPECT_EQ(UsableLbaCount(gp, 68), 31 * kIdemaStep + kIdemaOffset);
  // 512 pages have no such rule: T = 1909 x 8 x 2 x 512 x 8 - 320 = 125107904 -> 64 GB.
  EXPECT_EQ(UsableLbaCount(array(4, 2, 4096, 512, 8), 68), 64 * kIdemaStep + kIdemaOffset);
}

TEST(IdemaRatio, ABlockOf256PagesCountsAs255) {
  GlobalParameter gp = array(4, 2, 4096, 256, 8);
  auto r = IdemaToReservedRatio("30", gp);
  ASSERT_FALSE(r.message);
  // L = 30 x 1953504 + 21168 = 58626288; S = 4 x 2 x 255 x 8 x 4096 = 66846720
  EXPECT_NEAR(r.ratio, 100.0 - 100.0 * 58626288.0 / 66846720.0, 1e-4);  // 12.297...
  EXPECT_EQ(r.resPercentage, 122);
}
