#include "config/FlashList.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "config/IniFile.h"
#include "support/TempDir.h"

using qk::FlashCatalogue;
using qk::IniFile;
using qk::ParseFlashList;

namespace {

std::string line(const std::string& name, const std::string& part = "PN1") {
  return name + ", " + part + ", 0x0281, 2, 2, 0x5A, 0xD7, 0x94, 0x7A, 0x44, 0, 0, 0, 0, 1";
}

bool parse(const std::string& text, FlashCatalogue& cat, std::string* error = nullptr) {
  return ParseFlashList(IniFile::parse(text), cat, error);
}

std::string key(int i) {
  char k[16];
  std::snprintf(k, sizeof k, "Name%2.2d", i);
  return k;
}

}  // namespace

TEST(FlashList, ColumnsAreTokenisedAndConvertedLikeTheClassicReader) {
  FlashCatalogue cat;
  ASSERT_TRUE(parse("[Vendor]\nName00=WBG\n[WBG]\n"
                    "Name00=WBG, K9GBG08U0A, 0x0281, 0x102, 2, 0x5A, 0xD7, 0x94, 0x7A, 0x44, 0x030201, 7, 0x12345, "
                    "x1FF, 0x104\n",
                    cat));
  ASSERT_EQ(cat.types.size(), 1u);
  const auto& r = cat.types[0];
  EXPECT_EQ(r.uniqueName, "WBG");
  EXPECT_EQ(r.partNumber, "K9GBG08U0A");
  EXPECT_EQ(r.flashIdWord, 641);
  EXPECT_EQ(r.ceCount, 2);  // low byte of 0x102
  EXPECT_EQ(r.eccMode, 2);
  const std::uint8_t id[5] = {0x5A, 0xD7, 0x94, 0x7A, 0x44};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(r.idBytes[i], id[i]) << i;
  EXPECT_EQ(r.featureBit, 0x01);
  EXPECT_EQ(r.optionBit, 0x02);
  EXPECT_EQ(r.twoPlane, 0x03);
  EXPECT_EQ(r.flagBit5, 7);
  EXPECT_EQ(r.extraWordA, 0x2345);  // low 16 bits
  EXPECT_EQ(r.altBlockCount, 0x1FF);
  EXPECT_EQ(r.tableSelect, 4);  // low byte of 0x104
}

TEST(FlashList, EverythingButLettersAndDigitsSeparates) {
  auto t = qk::SplitFlashLine("A-B_C.D/E(F) G,,H\t\xC3\xA9I0x1F");
  EXPECT_EQ(t, (std::vector<std::string>{"A", "B", "C", "D", "E", "F", "G", "H", "I0x1F"}));
  FlashCatalogue cat;
  ASSERT_TRUE(parse("[Vendor]\nName00=V\n[V]\nName00=T1/P-1 (0x0281) 2_2.1 2 3 4 5 6 7 8 9 10\n", cat));
  EXPECT_EQ(cat.types[0].uniqueName, "T1");
  EXPECT_EQ(cat.types[0].partNumber, "P");
  EXPECT_EQ(cat.types[0].flashIdWord, 1);  // "1" is the third token
}

TEST(FlashList, ListsEndAtTheFirstNoOrMissingKey) {
  FlashCatalogue cat;
  std::string text = "[Vendor]\nName00=A\nName01=B\nName03=C\n[A]\n";
  for (int i = 0; i < 3; ++i) text += key(i) + "=" + line("A" + std::to_string(i)) + "\n";
  text += "Name03=No\nName04=" + line("A4") + "\n[B]\nName00=" + line("B0") + "\n";
  ASSERT_TRUE(parse(text, cat));
  EXPECT_EQ(cat.vendors, (std::vector<std::string>{"A", "B"}));  // Name02 missing ends the list
  ASSERT_EQ(cat.types.size(), 4u);
  EXPECT_EQ(cat.boundaries, (std::vector<int>{3, 4}));
  EXPECT_EQ(cat.firstType(1), 3);
  EXPECT_EQ(cat.types[3].uniqueName, "B0");
}

TEST(FlashList, LookupByUniqueNameAndVendor) {
  FlashCatalogue cat;
  ASSERT_TRUE(parse("[Vendor]\nName00=A\nName01=Empty\nName02=C\n[A]\nName00=" + line("X") + "\nName01=" + line("Y") +
                        "\n[C]\nName00=" + line("Z") + "\nName01=" + line("Y") + "\n",
                    cat));
  EXPECT_EQ(cat.boundaries, (std::vector<int>{2, 2, 4}));
  EXPECT_EQ(cat.findUnique("Y"), 1);  // first of two
  EXPECT_EQ(cat.findUnique("Z"), 2);
  EXPECT_EQ(cat.findUnique("z"), -1);  // exact, case-sensitive
  EXPECT_EQ(cat.vendorOf(1), 0);
  EXPECT_EQ(cat.vendorOf(2), 2);  // the empty vendor holds nothing
  EXPECT_EQ(cat.vendorOf(4), -1);
  EXPECT_EQ(cat.vendorOf(-1), -1);
}

TEST(FlashList, InvalidFilesFailAndKeepThePreviousCatalogue) {
  FlashCatalogue cat;
  ASSERT_TRUE(parse("[Vendor]\nName00=A\n[A]\nName00=" + line("KEEP") + "\n", cat));

  std::string tooManyVendors = "[Vendor]\n";
  for (int i = 0; i < 11; ++i) tooManyVendors += key(i) + "=V" + std::to_string(i) + "\n";
  std::string tooManyTypes = "[Vendor]\nName00=A\nName01=B\n[A]\n";
  for (int i = 0; i < 300; ++i) tooManyTypes += key(i) + "=" + line("T" + std::to_string(i)) + "\n";
  tooManyTypes += "[B]\n";
  for (int i = 0; i < 201; ++i) tooManyTypes += key(i) + "=" + line("U" + std::to_string(i)) + "\n";

  const std::pair<std::string, std::string> bad[] = {
      {"no vendor", "[A]\nName00=" + line("T") + "\n"},
      {"first vendor No", "[Vendor]\nName00=No\nName01=A\n"},
      {"14 tokens", "[Vendor]\nName00=A\n[A]\nName00=T, P, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12\n"},
      {"short later line", "[Vendor]\nName00=A\n[A]\nName00=" + line("T") + "\nName01=T2 P2\n"},
      {"11 vendors", tooManyVendors},
      {"501 types", tooManyTypes},
      {"long vendor", "[Vendor]\nName00=ABCDEFGHIJKLMNOPQRST\n"},
      {"long name", "[Vendor]\nName00=A\n[A]\nName00=" + line("ABCDEFGHIJKLMNOPQRST") + "\n"},
      {"long part", "[Vendor]\nName00=A\n[A]\nName00=" + line("T", "ABCDEFGHIJKLMNOPQRST") + "\n"},
  };
  for (const auto& [what, text] : bad) {
    std::string error;
    EXPECT_FALSE(parse(text, cat, &error)) << what;
    EXPECT_FALSE(error.empty()) << what;
    ASSERT_EQ(cat.types.size(), 1u) << what;
    EXPECT_EQ(cat.types[0].uniqueName, "KEEP") << what;
  }
}

TEST(FlashList, LimitsThemselvesAreAccepted) {
  std::string text = "[Vendor]\n";
  for (int i = 0; i < 10; ++i) text += key(i) + "=V" + std::to_string(i) + "\n";
  text += "[V0]\n";
  for (int i = 0; i < 500; ++i) text += key(i) + "=" + line("ABCDEFGHIJKLMNOPQRS", "T" + std::to_string(i)) + "\n";
  FlashCatalogue cat;
  std::string error;
  ASSERT_TRUE(parse(text, cat, &error)) << error;
  EXPECT_EQ(cat.vendors.size(), 10u);
  EXPECT_EQ(cat.types.size(), 500u);
  EXPECT_EQ(cat.types[499].partNumber, "T499");  // keys past Name99 have three digits
}

TEST(FlashList, MissingFileFails) {
  qk::test::TempDir dir;
  FlashCatalogue cat;
  std::string error;
  EXPECT_FALSE(ParseFlashList(dir.file("Flash.ini"), cat, &error));
  EXPECT_NE(error.find("Flash.ini"), std::string::npos);
  dir.write("Flash.ini", "[Vendor]\r\nName00=A\r\n[A]\r\nName00=" + line("T") + "\r\n");
  EXPECT_TRUE(ParseFlashList(dir.file("Flash.ini"), cat, &error)) << error;
}
