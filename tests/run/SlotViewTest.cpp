#include "run/SlotView.h"

#include <gtest/gtest.h>

#include "config/Profile.h"

using namespace qk;

namespace {
PortContext ended(int verdict, int shownCode) {
  PortContext p;
  p.active = 1;
  p.stepStatus[25] = verdict;
  p.shownCode = shownCode;
  p.yieldEvent = verdict;
  return p;
}
}  // namespace

TEST(SlotView, VerdictTexts) {
  PortContext unit = ended(-1, 45);
  unit.failedUnitCount = 2;
  EXPECT_EQ(VerdictText(unit), "Fail (B07)(- -)");
  unit.failedUnitCount = 1;
  unit.failedUnit = 4;
  EXPECT_EQ(VerdictText(unit), "Fail (B07)(04)");

  PortContext hot = ended(-1, 11);
  hot.stepStatus[11] = -1;
  hot.temperature = 75;
  EXPECT_EQ(VerdictText(hot), "Fail (Q09), Temperature:75");
  hot.temperature = 0xF6;  // a signed byte: -10
  EXPECT_EQ(VerdictText(hot), "Fail (Q09), Temperature:-10");
  PortContext downloadFailed = ended(-1, 6);
  downloadFailed.stepStatus[11] = -1;  // marked failed without running
  EXPECT_EQ(VerdictText(downloadFailed), "Download Fail (D00)");

  EXPECT_EQ(VerdictText(ended(-1, 0)), " Fail ()");    // a failed rebuild: row 0 has no names
  EXPECT_EQ(VerdictText(ended(-1, 26)), " Fail (T00)");
  EXPECT_EQ(VerdictText(ended(-1, 6)), "Download Fail (D00)");
  // A stopped port: no row to index, and no failure of the drive's to name.
  EXPECT_EQ(VerdictText(ended(-1, -1)), "Stopped by operator");
  EXPECT_EQ(VerdictText(ended(-1, 99)), " Fail (\?\?\?)");  // an unknown code is still a failure
  EXPECT_EQ(VerdictText(ended(1, 0)), "Pass");
  EXPECT_EQ(VerdictText(ended(0, 0)), "");
}

TEST(SlotView, RefreshCountsEachEndOnceAndDrawsSlots) {
  PortTable ports{};
  ports[0] = ended(1, 0);
  ports[0].serialNumber.assign("SN1");
  ports[1] = ended(-1, 26);
  ports[1].yieldEvent = 0;  // a timed-out port stays out of the yield count
  ports[2].active = 1;      // present, not run
  ports[2].capacityMB = 61057;
  ports[4] = ended(-1, 3);  // beyond the slot count: not drawn, not counted
  ProfileSettings counters;
  auto views = RefreshSlots(ports, 4, counters);
  ASSERT_EQ(views.size(), 4u);
  EXPECT_EQ(YieldText(counters), "1 / 1");
  RefreshSlots(ports, 4, counters);
  EXPECT_EQ(YieldText(counters), "1 / 1");

  EXPECT_TRUE(views[0].visible);
  EXPECT_EQ(views[0].colour, SlotColour::Green);
  EXPECT_EQ(*views[0].panelText, "Pass");
  EXPECT_EQ(*views[0].editText, "SN1");
  EXPECT_EQ(views[1].colour, SlotColour::Red);
  EXPECT_EQ(*views[1].panelText, " Fail (T00)");
  EXPECT_EQ(views[2].colour, SlotColour::Yellow);
  EXPECT_EQ(*views[2].panelText, "61057 MB");
  EXPECT_TRUE(views[2].resetGauge);
  EXPECT_FALSE(views[3].visible);
  EXPECT_EQ(ports[4].yieldEvent, -1);
}
