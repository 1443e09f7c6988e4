#include <gtest/gtest.h>

#include "app/Screenshot.h"
#include "app/SlotLayout.h"
#include "config/IniFile.h"
#include "support/TempDir.h"

using namespace qk;

TEST(SlotLayout, TenSlotsFillSevenRowsColumnByColumn) {
  const int rows = SlotRows(kStyleScrollBoxHeight, kSlotPanelHeight);
  ASSERT_EQ(rows, 7);
  ScrollRange range;
  for (int i = 0; i < 10; ++i) range.cover(DefaultSlotRect(i, rows, kSlotPanelWidth, kSlotPanelHeight));
  EXPECT_EQ(DefaultSlotRect(6, rows, 249, 65), (SlotRect{0, 390, 249, 65}));
  EXPECT_EQ(DefaultSlotRect(7, rows, 249, 65), (SlotRect{249, 0, 249, 65}));
  EXPECT_EQ(DefaultSlotRect(9, rows, 249, 65), (SlotRect{249, 130, 249, 65}));
  EXPECT_EQ(range.width, 498);
  EXPECT_EQ(range.height, 455);
  EXPECT_EQ(SlotRows(64, 65), 0);
  EXPECT_EQ(SlotRows(475, 0), 0);
}

TEST(SlotLayout, FittedGridShowsEverySlotWithoutScrolling) {
  // 50 slots of at least 200 x 60 in a 1270 x 560 view: 9 rows, 6 columns, widened to share the width.
  SlotGrid g = FitSlotGrid(50, 1270, 560, 200, 60, 320);
  EXPECT_EQ(g.rows, 9);
  EXPECT_EQ(g.columns, 6);
  EXPECT_EQ(g.width, 211);
  EXPECT_EQ(g.height, 60);
  EXPECT_TRUE(g.fits);
  std::vector<SlotRect> rects;
  for (int i = 0; i < 50; ++i) rects.push_back(DefaultSlotRect(i, g.rows, g.width, g.height));
  EXPECT_TRUE(RectsFitView(rects, 1270, 560));
  EXPECT_EQ(rects[49], (SlotRect{5 * 211, 4 * 60, 211, 60}));

  // Few slots: one column as tall as needed, no wider than the cap.
  g = FitSlotGrid(10, 1270, 560, 200, 60, 320);
  EXPECT_EQ(g.rows, 5);  // 9 would fit a column; two columns of five balance it
  EXPECT_EQ(g.columns, 2);
  EXPECT_EQ(g.width, 320);
  EXPECT_TRUE(g.fits);
  g = FitSlotGrid(3, 1270, 560, 200, 60, 320);
  EXPECT_EQ(g.rows, 3);
  EXPECT_EQ(g.columns, 1);

  // A view too small: the minimum size stays and the caller scrolls.
  g = FitSlotGrid(50, 800, 300, 200, 60, 320);
  EXPECT_FALSE(g.fits);
  EXPECT_EQ(g.width, 200);
  EXPECT_EQ(g.rows * g.columns >= 50, true);
  g = FitSlotGrid(4, 800, 30, 200, 60, 320);  // not even one row high: still one row
  EXPECT_EQ(g.rows, 1);
  EXPECT_FALSE(g.fits);
  EXPECT_EQ(FitSlotGrid(0, 800, 600, 200, 60, 320).columns, 0);

  // A saved arrangement that reaches past the view no longer fits it.
  EXPECT_TRUE(RectsFitView({{0, 0, 249, 65}, {249, 390, 249, 65}}, 498, 455));
  EXPECT_FALSE(RectsFitView({{0, 0, 249, 65}, {1743, 0, 249, 65}}, 1280, 600));
  EXPECT_FALSE(RectsFitView({{-5, 0, 249, 65}}, 1280, 600));
}

TEST(SlotLayout, BoundsTextRoundTripsAndRejectsDamage) {
  const SlotRect r{8, 0, 249, 65};
  EXPECT_EQ(FormatSlotBounds(r), "Left 8 Top 0 Width 249 Height 65");
  EXPECT_EQ(ParseSlotBounds("Left 8 Top 0 Width 249 Height 65"), r);
  EXPECT_EQ(ParseSlotBounds("Left -5 Top 130 Width 200 Height 70"), (SlotRect{-5, 130, 200, 70}));
  EXPECT_FALSE(ParseSlotBounds("NULL"));
  EXPECT_FALSE(ParseSlotBounds("Left 8 Top 0 Width"));
  EXPECT_FALSE(ParseSlotBounds(""));
}

TEST(SlotLayout, StyleFileReadsOnlyExistingSlotsAndRewritesTheSection) {
  test::TempDir dir;
  const std::string path = dir.file("Style.cs");
  EXPECT_FALSE(ReadStyleFile(path, 3));
  dir.write("Style.cs",
            "[Style]\nPortPanel0=Left 300 Top 10 Width 249 Height 65\nPortPanel1=NULL\n"
            "PortPanel2=Left 1 Top 2 Width 3 Height 4\nPortPanel7=Left 9 Top 9 Width 9 Height 9\n"
            "[Main]\nLeft=20\nTop=30\nWidth=900\n[Other]\nKeep=1\n");
  auto layout = ReadStyleFile(path, 2);
  ASSERT_TRUE(layout);
  ASSERT_EQ(layout->slots.size(), 2u);
  EXPECT_EQ(layout->slots[0], (SlotRect{300, 10, 249, 65}));
  EXPECT_FALSE(layout->slots[1]);
  EXPECT_EQ(layout->window, (SlotRect{20, 30, 900, 600}));  // Height missing: 600

  ASSERT_TRUE(WriteStyleFile(path, {{"PortPanel0", {0, 0, 249, 65}}, {"PortPanel1", {0, 65, 249, 65}}},
                             {5, 6, 1082, 798}));
  IniFile ini = IniFile::load(path);
  EXPECT_EQ(ini.keys("Style"), (std::vector<std::string>{"PortPanel0", "PortPanel1"}));
  EXPECT_EQ(ini.getString("Style", "PortPanel1", ""), "Left 0 Top 65 Width 249 Height 65");
  EXPECT_EQ(ini.getInt("Main", "Height", 0), 798);
  EXPECT_EQ(ini.getInt("Other", "Keep", 0), 1);
}

TEST(Screenshot, NameFromTheEndTimeAndAJpegThatDecodes) {
  test::TempDir dir;
  LocalTime end{2011, 3, 5, 9, 7, 4};
  const std::string name = ScreenshotFileName(dir.path(), end);
  EXPECT_EQ(name, dir.path() + "Image_0305090704.jpg");
  RgbImage image{4, 2, std::vector<std::uint8_t>(4 * 2 * 3, 200)};
  ASSERT_TRUE(SaveScreenshot(name, image));
  auto back = LoadJpegFile(name);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->width, 4);
  EXPECT_EQ(back->height, 2);
  EXPECT_FALSE(SaveScreenshot(dir.file("missing/x.jpg"), image));
  EXPECT_FALSE(SaveScreenshot(dir.file("empty.jpg"), RgbImage{}));
}
