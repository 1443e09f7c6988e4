#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "app/LogFileChoice.h"
#include "support/TempDir.h"

using namespace qk;

TEST(LogFileChoice, TakesTheNewestFileOrTheNextWhenFull) {
  test::TempDir dir;
  LocalTime day{2011, 3, 15, 9, 0, 0, 0, 2};
  LogFileChoice none = ChooseLogFile(dir.path(), day);
  EXPECT_EQ(none.name, dir.path() + "20110315_000.txt");
  EXPECT_EQ(none.index, 0);

  dir.write("20110315_000.txt", std::string(82999, 'x'));
  EXPECT_EQ(ChooseLogFile(dir.path(), day).index, 0);
  dir.write("20110315_000.txt", std::string(83000, 'x'));
  EXPECT_EQ(ChooseLogFile(dir.path(), day).name, dir.path() + "20110315_001.txt");

  dir.write("20110315_001.txt", "short");
  dir.write("20110315_002.txt", "short");
  EXPECT_EQ(ChooseLogFile(dir.path(), day).index, 2);
  // Another day starts again at 000.
  EXPECT_EQ(ChooseLogFile(dir.path(), LocalTime{2011, 3, 16}).index, 0);
}

TEST(CommandLine, MaskAndAutoQuit) {
  auto cl = ParseStationCommandLine({"7", "autoquit"});
  ASSERT_TRUE(cl.mask);
  EXPECT_TRUE(cl.autoQuit);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(MaskChecksItem(*cl.mask, i), i < 3) << i;
  EXPECT_FALSE(MaskChecksItem(0x1FF, 8));  // bits above the low byte are ignored

  auto quitOnly = ParseStationCommandLine({"", "xautoquitx"});
  EXPECT_FALSE(quitOnly.hasFirstArgument);
  EXPECT_TRUE(quitOnly.autoQuit);
  EXPECT_FALSE(ParseStationCommandLine({"AUTOQUIT"}).autoQuit);  // case-sensitive

  auto bad = ParseStationCommandLine({"12abc"});
  EXPECT_FALSE(bad.mask);
  EXPECT_EQ(bad.error, "'12abc' is not a valid integer value");
  EXPECT_FALSE(ParseStationCommandLine({"99999999999"}).mask);
  EXPECT_EQ(*ParseStationCommandLine({" -3 "}).mask, -3);
}

// "qkstation autoquit": the word is taken as the mask and fails to convert;
// an unattended run must not start on the profile's own items.
TEST(CommandLine, AutoquitWithoutAValidMaskRefusesTheUnattendedStart) {
  auto quitAsMask = ParseStationCommandLine({"autoquit"});
  EXPECT_EQ(quitAsMask.error, "'autoquit' is not a valid integer value");
  EXPECT_TRUE(UnattendedStartRefused(quitAsMask));
  EXPECT_TRUE(UnattendedStartRefused(ParseStationCommandLine({"x7", "autoquit"})));
  // A valid mask, an empty first argument, or no autoquit: nothing to refuse.
  EXPECT_FALSE(UnattendedStartRefused(ParseStationCommandLine({"7", "autoquit"})));
  EXPECT_FALSE(UnattendedStartRefused(ParseStationCommandLine({"", "autoquit"})));
  EXPECT_FALSE(UnattendedStartRefused(ParseStationCommandLine({"x7"})));
}
