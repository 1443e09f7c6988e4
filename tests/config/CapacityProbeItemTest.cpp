// The capacity probe as a test item: its key in the profile and its entry in
// the list, without changing what profiles and masks that predate it do.
#include <gtest/gtest.h>

#include "config/IniFile.h"
#include "config/Profile.h"
#include "config/TestItemList.h"
#include "support/ProfileFixtures.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"

using namespace qk;

namespace {

Profile loadFrom(test::TempDir& dir, const std::string& text) {
  dir.write("QKMassProd.ini", text);
  Profile p;
  test::RecordingOperator op;
  EXPECT_EQ(LoadProfile(dir.file("QKMassProd.ini"), p, ProgramFolder(dir.path()), op), LoadResult::Ok);
  return p;
}

}  // namespace

TEST(CapacityProbeItem, KeyIsOffByDefaultReadsOnAndIsSavedOnlyOnceChosen) {
  test::TempDir dir;
  test::writeMinimalFlashList(dir);
  EXPECT_EQ(loadFrom(dir, "[TestItems]\nEnRWTest=1\n").settings.TestItemEnabled[24], 0);
  Profile on = loadFrom(dir, "[TestItems]\nEnCapacityProbe=1\n");
  EXPECT_EQ(on.settings.TestItemEnabled[24], 1);

  // A profile that never chose it saves without the key.
  Profile off = loadFrom(dir, "[TestItems]\nEnRWTest=1\n");
  ASSERT_TRUE(SaveProfile(dir.file("a.ini"), off.settings, ProgramFolder(dir.path())));
  EXPECT_FALSE(IniFile::load(dir.file("a.ini")).hasKey("TestItems", "EnCapacityProbe"));
  // Chosen, saved, then turned off: the file must say off, not keep the old on.
  ASSERT_TRUE(SaveProfile(dir.file("a.ini"), on.settings, ProgramFolder(dir.path())));
  EXPECT_EQ(IniFile::load(dir.file("a.ini")).getInt("TestItems", "EnCapacityProbe", -1), 1);
  on.settings.TestItemEnabled[24] = 0;
  ASSERT_TRUE(SaveProfile(dir.file("a.ini"), on.settings, ProgramFolder(dir.path())));
  EXPECT_EQ(IniFile::load(dir.file("a.ini")).getInt("TestItems", "EnCapacityProbe", -1), 0);
}

TEST(CapacityProbeItem, ListEntryFollowsItsMarkAndTheMaskLeavesIt) {
  ProfileSettings s;
  auto list = TestItemList::FromProfile(s);
  ASSERT_EQ(list.entries().back().name, "Capacity Probe");
  list.entries().back().checked = true;
  list.applyTo(s);
  EXPECT_EQ(s.TestItemEnabled[24], 1);
  EXPECT_EQ(TestItemList::FromProfile(s).checkedCount(), 1);

  // The eight-bit mask addresses the entries before it: the probe keeps its mark.
  list = TestItemList::FromProfile(s);
  list.applyMask(0xFF);
  list.applyTo(s);
  EXPECT_EQ(s.TestItemEnabled[24], 1);
  EXPECT_EQ(s.TestItemEnabled[7], 1);
}
