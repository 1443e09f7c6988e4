#include "config/FlashAutoDetect.h"

#include <gtest/gtest.h>

#include "config/FlashInfo.h"
#include "support/RecordingOperator.h"

using namespace qk;

namespace {

FlashTypeRecord type(const std::string& name, std::uint8_t ce, std::uint8_t lastId) {
  FlashTypeRecord t;
  t.uniqueName = name;
  t.partNumber = name + "-PN";
  t.flashIdWord = 0x0281;
  t.ceCount = ce;
  t.idBytes[0] = 0x5A;
  t.idBytes[4] = lastId;
  return t;
}

FlashCatalogue catalogue() {
  FlashCatalogue c;
  c.vendors = {"First", "Second"};
  c.types = {type("A", 2, 1), type("B", 1, 1), type("C", 2, 1), type("D", 2, 2)};
  c.boundaries = {2, 4};
  return c;
}

}  // namespace

TEST(FlashAutoDetect, MatchesIdBytesAndChipEnablesInCatalogueOrder) {
  const std::uint8_t record[9] = {0x5A, 0, 0, 0, 1, 2, 0, 4, 2};
  FlashIdReading r = ParseDetectionRecord(record);
  EXPECT_EQ(r.ceCount, 2);
  EXPECT_EQ(r.channels, 4);
  EXPECT_EQ(r.banks, 2);
  auto m = MatchFlashTypes(catalogue(), r);
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].type, 0);
  EXPECT_EQ(m[1].type, 2);
  EXPECT_EQ(m[1].vendor, 1);
  EXPECT_EQ(m[1].indexInVendor, 0);

  for (auto [banks, ce, want] : {std::tuple{1, 2, 1}, {2, 1, 2}, {4, 2, 2}, {4, 1, 3}, {8, 2, 3}}) {
    EXPECT_EQ(DetectedDriveCurrent(static_cast<std::uint8_t>(banks), static_cast<std::uint8_t>(ce)), want)
        << banks << "/" << ce;
  }
}

TEST(FlashAutoDetect, ChoiceAmongSeveralIsInsistedOn) {
  ProfileSettings s;
  s.FlashUniName = "C";
  s.Channel = 4;
  s.Bank = 2;
  s.DrvCurrent = 2;
  auto cat = catalogue();
  FlashDetectView v = MakeFlashDetectView(cat, s, MatchFlashTypes(cat, ParseDetectionRecord(
                                                                            std::array<std::uint8_t, 9>{0x5A, 0, 0, 0, 1, 2, 0, 4, 2}.data())));
  EXPECT_EQ(v.vendor, "Second");
  EXPECT_EQ(v.type, "C  /  C-PN (x2)");
  EXPECT_EQ(v.channelBank, "4 / 2");
  EXPECT_EQ(v.driveCurrent, "6mA");
  EXPECT_EQ(v.matches, (std::vector<std::string>{"A  /  A-PN (2CE)", "C  /  C-PN (2CE)"}));

  test::RecordingOperator op;
  op.answers = {std::string(""), std::string("3"), std::string("2")};
  EXPECT_EQ(ChooseFlashMatch(op, v), std::optional<std::size_t>(1));
  EXPECT_EQ(op.texts(), (std::vector<std::string>{kChooseOneFlashType, kChooseOneFlashType}));
  EXPECT_EQ(ChooseFlashMatch(op, v), std::nullopt);  // cancelled

  v.matches.resize(1);
  EXPECT_EQ(ChooseFlashMatch(op, v), std::optional<std::size_t>(0));
}

TEST(FlashInfo, StatusTextAndRestoredRatio) {
  ProfileSettings s;
  s.FlashUniName = "B";
  s.Channel = 4;
  s.Bank = 2;
  s.ResPercentage = 300;
  GlobalParameter gp;
  FlashInfo info = FlashInfoChange(s, catalogue(), {}, gp);
  EXPECT_EQ(info.statusText, "Flash: B(0x0281), Channel: 4, Bank: 2");
  EXPECT_EQ(info.details.size(), 3u);
  RestoreReservedRatio(s);
  EXPECT_EQ(s.ResPercentage, 68);
  EXPECT_GT(FlashInfoChange(s, catalogue(), {}, gp).usableLbas, info.usableLbas);
}
