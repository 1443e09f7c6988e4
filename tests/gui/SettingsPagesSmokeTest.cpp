#include <QListWidget>

#include <gtest/gtest.h>

#include "app/Station.h"
#include "app/gui/SettingsPages.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"

namespace qk::gui {
namespace {

TEST(SettingsPagesSmoke, MaskChecksTheFirstEntries) {
  test::TempDir dir;
  test::RecordingOperator op;
  Station station(ProgramFolder(dir.path()), op);
  SettingsPages pages(station);
  pages.applyMask(7);
  auto* list = pages.testItemList();
  ASSERT_GE(list->count(), 4);
  EXPECT_EQ(list->item(0)->checkState(), Qt::Checked);
  EXPECT_EQ(list->item(2)->checkState(), Qt::Checked);
  EXPECT_EQ(list->item(3)->checkState(), Qt::Unchecked);
}

}  // namespace
}  // namespace qk::gui
