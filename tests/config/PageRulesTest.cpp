// The typing, conversion and list rules of the settings pages.
#include <gtest/gtest.h>

#include <limits>

#include "config/EditRules.h"
#include "config/FlashAutoDetect.h"
#include "config/PageLists.h"
#include "config/StrictNumber.h"

using namespace qk;

TEST(StrictNumber, WholeTextMustBeOneDecimalInteger) {
  EXPECT_EQ(StrictToInt("0"), 0);
  EXPECT_EQ(StrictToInt("-15"), -15);
  EXPECT_EQ(StrictToInt("+7"), 7);
  EXPECT_EQ(StrictToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrictToInt("-2147483648"), std::numeric_limits<std::int32_t>::min());
  for (const char* bad : {"", "-", "12a", " 12", "12 ", "0x10", "1.5", "2147483648", "-2147483649",
                          "99999999999999999999"})
    EXPECT_FALSE(StrictToInt(bad)) << bad;
  EXPECT_EQ(NotAnIntegerMessage("12a"), "'12a' is not a valid integer value");
}

TEST(EditRules, KeyFilters) {
  EXPECT_EQ(FilterKey(KeyFilter::Hex, 'b'), 'B');
  EXPECT_EQ(FilterKey(KeyFilter::Hex, 'F'), 'F');
  EXPECT_EQ(FilterKey(KeyFilter::Hex, '9'), '9');
  EXPECT_FALSE(FilterKey(KeyFilter::Hex, 'g'));
  EXPECT_FALSE(FilterKey(KeyFilter::Hex, 'G'));
  EXPECT_FALSE(FilterKey(KeyFilter::Digits, 'a'));
  EXPECT_EQ(FilterKey(KeyFilter::Digits, '5'), '5');
  EXPECT_FALSE(FilterKey(KeyFilter::NoBackslash, '\\'));
  EXPECT_EQ(FilterKey(KeyFilter::NoBackslash, '/'), '/');
  // Enter, Backspace and other control characters always pass.
  for (KeyFilter f : {KeyFilter::Hex, KeyFilter::Digits, KeyFilter::NoBackslash}) {
    EXPECT_EQ(FilterKey(f, '\r'), '\r');
    EXPECT_EQ(FilterKey(f, '\b'), '\b');
  }
  EXPECT_EQ(SerialKeyFilter(0), KeyFilter::Hex);
  EXPECT_EQ(SerialKeyFilter(1), KeyFilter::Digits);
}

TEST(EditRules, LengthsByTagAndTheFat32Label) {
  EXPECT_EQ(StringEditLimit(0), 40u);
  EXPECT_EQ(StringEditLimit(1), 8u);
  EXPECT_EQ(StringEditLimit(2), 20u);
  EXPECT_EQ(StringEditLimit(3), 16u);
  EXPECT_EQ(StringEditLimit(4), 24u);
  std::string fw = "123456789";
  EXPECT_TRUE(CutText(fw, StringEditLimit(1)));
  EXPECT_EQ(fw, "12345678");
  EXPECT_FALSE(CutText(fw, StringEditLimit(1)));

  std::string label = "ABCDEFGHIJKL";
  EXPECT_TRUE(CutFat32Label(label, 0));
  EXPECT_EQ(label, "ABCDEFGHIJK");
  EXPECT_FALSE(CutFat32Label(label, 0));  // 11 characters stay
  std::string other = "ABCDEFGHIJKL";
  EXPECT_FALSE(CutFat32Label(other, 1));  // not FAT32
}

TEST(PageLists, LedModeFieldsAndListPositions) {
  EXPECT_EQ(PackLedLightMode(1, 0, 0), 1);  // the default: on when idle
  const std::int32_t mode = PackLedLightMode(2, 1, 0);
  EXPECT_EQ(mode, 2 | (1 << 2));
  EXPECT_EQ(LedFieldIndex(mode, 0), 2);
  EXPECT_EQ(LedFieldIndex(mode, 1), 1);
  EXPECT_EQ(LedFieldIndex(mode, 2), 0);
  EXPECT_EQ(LedFieldIndex(3, 0), 0);  // no such choice
  // Stored values outside their lists select the first entry: Channel 8 shows as 1.
  EXPECT_EQ(ChannelIndex(8), 0);
  EXPECT_EQ(ChannelIndex(4), 3);
  EXPECT_EQ(BankIndex(9), 0);
  EXPECT_EQ(BankIndex(2), 1);
  EXPECT_EQ(DriveCurrentIndex(7), 7);
  EXPECT_EQ(DriveCurrentIndex(-1), 0);
  EXPECT_EQ(DriveCurrentChoices().front(), " 2 mA");
  EXPECT_EQ(DriveCurrentChoices().back(), " 16 mA");
  EXPECT_EQ(ListIndex(11, static_cast<int>(kCapacityChoices.size())), 0);
}

TEST(PageLists, SubPagesAndTheFlashListRefusal) {
  EXPECT_EQ(OptionPageFor("Flash Module Test"), "OP_FlashModule");
  EXPECT_EQ(OptionPageFor("Preformat"), "OP_PFormat");
  EXPECT_EQ(OptionPageFor("Download"), "OP_Download");
  EXPECT_EQ(OptionPageFor("Disk Format"), "OP_Format");
  EXPECT_EQ(OptionPageFor("Check Temperature"), "OP_CheckTemperature");
  EXPECT_EQ(OptionPageFor("R/W Test"), "");
  EXPECT_TRUE(IsFlashListChoice("/opt/qk/flash.INI", "/opt/qk", "Flash.ini"));
  EXPECT_TRUE(IsFlashListChoice("/opt/qk/Flash.ini", "/opt/qk/", "Flash.ini"));
  EXPECT_FALSE(IsFlashListChoice("/opt/qk/QKMassProd.ini", "/opt/qk", "Flash.ini"));
  EXPECT_FALSE(IsFlashListChoice("/other/Flash.ini", "/opt/qk", "Flash.ini"));
}

TEST(FlashDialog, CloseNeedsAChoiceAmongSeveral) {
  EXPECT_TRUE(CloseFlashDialog(2, -1).refused);
  EXPECT_FALSE(CloseFlashDialog(2, -1).chosen);
  EXPECT_EQ(CloseFlashDialog(2, 1).chosen, 1u);
  EXPECT_FALSE(CloseFlashDialog(2, 5).chosen);  // no such row
  EXPECT_TRUE(CloseFlashDialog(2, 5).refused);
  EXPECT_FALSE(CloseFlashDialog(1, -1).refused);  // the only match was taken already
  EXPECT_EQ(CloseFlashDialog(1, 0).chosen, 0u);
}
