#include "config/TestItemList.h"

#include <gtest/gtest.h>

#include "support/RecordingOperator.h"

using namespace qk;

TEST(TestItemList, RebuildOrderAndConditionalEntries) {
  ProfileSettings s;
  auto list = TestItemList::FromProfile(s);
  EXPECT_EQ(list.texts(), (std::vector<std::string>{"Flash Module Test", "Bus Interface Test", "Flash Interface Test",
                                                    "Preformat", "Download", "R/W Test", "Check Tables",
                                                    "Capacity Probe"}));
  s.TestItemEnabled[9] = 1;
  s.TestItemEnabled[11] = 1;
  s.TestItemEnabled[1] = 1;
  list = TestItemList::FromProfile(s);
  EXPECT_EQ(list.entries().size(), 10u);
  EXPECT_EQ(list.entries()[7].name, "Disk Format");
  EXPECT_EQ(list.entries()[8].name, "Check Temperature");
  EXPECT_EQ(list.entries()[9].name, "Capacity Probe");
  EXPECT_TRUE(list.entries()[0].checked);
  EXPECT_EQ(list.checkedCount(), 3);
}

TEST(TestItemList, PreformatForcesDownloadAndUnlistedItemsKeepTheirValues) {
  ProfileSettings s;
  s.TestItemEnabled[5] = 1;
  s.TestItemEnabled[4] = 1;   // DRAM: never in the list
  s.TestItemEnabled[20] = 1;  // items 12..23: never in the list
  auto list = TestItemList::FromProfile(s);
  list.applyTo(s);
  EXPECT_EQ(s.TestItemEnabled[6], 1);
  EXPECT_TRUE(list.entries()[4].checked);
  EXPECT_EQ(s.TestItemEnabled[4], 1);
  EXPECT_EQ(s.TestItemEnabled[20], 1);
  s.TestItemEnabled[9] = 1;  // with its entry in the list, Disk Format follows the mark
  list = TestItemList::FromProfile(s);
  list.entries()[7].checked = false;
  list.applyTo(s);
  EXPECT_EQ(s.TestItemEnabled[9], 0);
}

TEST(TestItemList, CommandLineMaskChecksTheFirstEightEntries) {
  ProfileSettings s;
  s.TestItemEnabled[7] = 1;
  auto list = TestItemList::FromProfile(s);
  list.applyMask(7);
  list.applyTo(s);
  EXPECT_EQ(s.TestItemEnabled[1], 1);
  EXPECT_EQ(s.TestItemEnabled[2], 1);
  EXPECT_EQ(s.TestItemEnabled[3], 1);
  EXPECT_EQ(s.TestItemEnabled[7], 0);
}

TEST(PagesRoundTrip, ListValuesLengthsAndTheRadioGroup) {
  ProfileSettings s;
  s.Channel = 8;
  s.Bank = 2;
  s.DrvCurrent = 9;
  s.EnLaterBad = 1;
  s.EnEarlyBad = 1;
  s.EnEraseReBuildBad = 1;
  s.VendorID = "1234AB";
  s.SerialNum = std::string(25, '1');
  s.DiskLabel = "TWELVE CHARS";
  s.SNMinLength = 8;
  s.DownloadType = 3;
  test::RecordingOperator op;
  ApplyPagesRoundTrip(s, &op);
  EXPECT_EQ(s.Channel, 1);
  EXPECT_EQ(s.Bank, 2);
  EXPECT_EQ(s.DrvCurrent, 0);
  EXPECT_EQ(s.EnLaterBad, 0);
  EXPECT_EQ(s.EnEarlyBad, 0);
  EXPECT_EQ(s.EnEraseReBuildBad, 1);
  EXPECT_EQ(s.VendorID, "1234");
  EXPECT_EQ(s.SerialNum.size(), 20u);
  EXPECT_EQ(s.DiskLabel, "TWELVE CHAR");
  EXPECT_EQ(s.SNMinLength, 12);
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].text, "FAT32 only support Volume label 11 characters!");
  EXPECT_EQ(op.messages[0].caption, "Message");
}

TEST(PagesRoundTrip, SpinBoxRangesAndTheLedFields) {
  ProfileSettings s;
  s.LEDLightMode = 106;  // fields 2, 2, 2 and a stray bit above them
  s.RWTestPercentage = 0;
  s.IDEMACapacity = 0;
  ApplyPagesRoundTrip(s);
  EXPECT_EQ(s.LEDLightMode, 42);
  EXPECT_EQ(s.RWTestPercentage, 1);
  EXPECT_EQ(s.IDEMACapacity, 1);
  s.LEDLightMode = 0x3F;  // 3 is no choice: each box shows its first entry
  s.RWTestPercentage = 250;
  s.IDEMACapacity = 1000;
  ApplyPagesRoundTrip(s);
  EXPECT_EQ(s.LEDLightMode, 0);
  EXPECT_EQ(s.RWTestPercentage, 100);
  EXPECT_EQ(s.IDEMACapacity, 512);
  s.RWTestPercentage = 37;
  s.IDEMACapacity = 120;
  ApplyPagesRoundTrip(s);
  EXPECT_EQ(s.RWTestPercentage, 37);
  EXPECT_EQ(s.IDEMACapacity, 120);
}
