#include "run/Serials.h"

#include "config/SerialFloor.h"

#include <gtest/gtest.h>

#include <set>

using namespace qk;

TEST(IncrementSerial, DecimalAndHexadecimalRules) {
  EXPECT_EQ(IncrementSerial("QK_0123456789", true), "QK_0123456790");
  EXPECT_EQ(IncrementSerial("999", true), "000");
  EXPECT_EQ(IncrementSerial("AB-", true), "AB0");
  EXPECT_EQ(IncrementSerial("X0F9", false), "X0FA");
  EXPECT_EQ(IncrementSerial("X0FF", false), "X100");
  EXPECT_EQ(IncrementSerial("X0ff", false), "X100");
  EXPECT_EQ(IncrementSerial("a1-", false), "a10");  // a hyphen becomes zero, no carry
  EXPECT_EQ(IncrementSerial("9", false), "A");
  EXPECT_EQ(IncrementSerial("FFF", false), "000");
  EXPECT_EQ(IncrementSerial("", false), "");
  EXPECT_EQ(IncrementSerial(std::string("12\n9"), true), std::string("13\n9"));
}

TEST(ElapsedText, PartsThatAreZeroAreLeftOut) {
  EXPECT_EQ(ElapsedText(0), "");
  EXPECT_EQ(ElapsedText(59), "59 Sec");
  EXPECT_EQ(ElapsedText(3600), "1 Hour ");
  EXPECT_EQ(ElapsedText(3723), "1 Hour 2 Min 3 Sec");
  EXPECT_EQ(ElapsedText(32 * 86400 + 5), "768 Hour 5 Sec");  // across a month's end
}

TEST(SerialBook, ThreeDrivesThenTheNext) {
  SerialBook book("QK_0123456789");
  SerialPolicy p{true, true, false, true};
  EXPECT_EQ(book.take(p), "QK_0123456789");
  EXPECT_EQ(book.take(p), "QK_0123456790");
  EXPECT_EQ(book.take(p), "QK_0123456791");
  EXPECT_EQ(book.next(), "QK_0123456792");
  SerialPolicy claimNew{true, true, false, false};
  EXPECT_EQ(book.take(claimNew), "QK_0123456792");
  EXPECT_EQ(book.next(), "QK_0123456792");
}

TEST(SerialBook, ReuseReissuesOnlyFailedSerialsAcrossRuns) {
  SerialBook book("00000100");
  SerialPolicy p{true, true, true, true};
  std::multiset<std::string> fresh;
  std::set<std::string> failed;
  // Five runs of four drives; the second and third drive of every run fail their download.
  for (int run = 0; run < 5; ++run) {
    std::vector<std::string> serials, failedNow;
    for (int port = 0; port < 4; ++port) serials.push_back(book.take(p));
    for (int port = 0; port < 4; ++port) {
      const std::string& s = serials[static_cast<std::size_t>(port)];
      if (failed.count(s)) {
        failed.erase(s);  // a reissue of a failed drive's serial
      } else {
        fresh.insert(s);
      }
      if (port == 1 || port == 2) {
        failedNow.push_back(s);
        failed.insert(s);
      }
    }
    book.endRun(p, failedNow);
  }
  for (const auto& s : fresh) EXPECT_EQ(fresh.count(s), 1u) << s << " handed out twice";
  // The fresh sequence never fell back: everything issued lies below the next serial.
  for (const auto& s : fresh) EXPECT_LT(s, book.next());
  EXPECT_EQ(book.queued(), 2u);
}

TEST(SerialBook, RunsOutWhenTheCountWouldComeBackToAnIssuedSerial) {
  bool carried = false;
  EXPECT_EQ(IncrementSerial("09", true, &carried), "10");
  EXPECT_FALSE(carried);
  EXPECT_EQ(IncrementSerial("99", true, &carried), "00");
  EXPECT_TRUE(carried);
  EXPECT_EQ(IncrementSerial("X9", true, &carried), "00");  // ends at the letter: no carry out
  EXPECT_FALSE(carried);

  SerialPolicy p{true, true, false, true};
  EXPECT_EQ(SerialBook("0").runsOut(9, p), "");
  EXPECT_NE(SerialBook("0").runsOut(10, p), "");  // the tenth increment wraps to 0
  EXPECT_NE(SerialBook("F0").runsOut(20, {true, false, false, true}), "");
  EXPECT_EQ(SerialBook("5").runsOut(50, {false, true, false, true}), "");  // no counting: the operator's choice
  EXPECT_NE(SerialBook("5").runsOut(1, p, {"6"}), "");                      // the next one went out before

  // Queued re-issues take no fresh serial.
  SerialBook book("7");
  SerialPolicy reuse{true, true, true, true};
  book.take(reuse);
  book.endRun(reuse, {"7"});
  EXPECT_EQ(book.runsOut(2, reuse), "");
  EXPECT_NE(book.runsOut(3, reuse), "");
}

TEST(SerialFloor, OrdersSerialsOfOneFormOnly) {
  EXPECT_TRUE(SerialBefore("QK_0099", "QK_0100"));
  EXPECT_TRUE(SerialBefore("QK0a", "QK0B"));  // hexadecimal digits of either case
  EXPECT_FALSE(SerialBefore("QK_0100", "QK_0100"));
  EXPECT_FALSE(SerialBefore("QK_0100", "QK_0099"));
  EXPECT_FALSE(SerialBefore("AB0001", "QK_0100"));  // another form: not ordered
  EXPECT_FALSE(SerialBefore("001", "0001"));

  SerialFloor floor;
  EXPECT_EQ(floor.guard("000100"), "000100");  // nothing handed out yet
  floor.issued("000100");
  floor.issued("000101");
  floor.advanceTo("000102");
  EXPECT_EQ(floor.guard("000100"), "000102");
  EXPECT_EQ(floor.guard("000050"), "000102");
  EXPECT_EQ(floor.guard("000200"), "000200");
  EXPECT_EQ(floor.guard("AB0001"), "AB0001");
  floor.advanceTo("000090");  // never backwards
  EXPECT_EQ(floor.guard("000095"), "000102");
}
