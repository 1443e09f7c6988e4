#include "run/FailureReport.h"

#include <gtest/gtest.h>

#include <vector>

#include "run/ResultCodes.h"

using namespace qk;

namespace {

ReportFlash fourChannels() {
  ReportFlash f;
  f.ceCount = 2;
  f.channel = 4;
  f.halfDieBlocks = 2048;
  f.profileChannel = 4;
  f.profileBank = 2;
  f.expectedId = {0x98, 0xD7, 0x94, 0x32, 0x76};
  f.pageSectors = 8;
  return f;
}

std::vector<std::uint8_t> record() { return std::vector<std::uint8_t>(kDetailSize, 0); }

void put16(std::vector<std::uint8_t>& r, std::size_t at, int v) {
  r[at] = static_cast<std::uint8_t>(v & 0xFF);
  r[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::vector<std::uint8_t>& r, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) r[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

TEST(ResultCodes, TableRowsAndUnknownCodes) {
  EXPECT_STREQ(ResultCodeInfo(0).failureText, "No Error");
  EXPECT_STREQ(ResultCodeInfo(26).failureText, "Timeout");
  EXPECT_STREQ(ResultCodeInfo(8).shortCode, "J00");
  EXPECT_STREQ(ResultCodeInfo(23).shortCode, "J00");
  EXPECT_STREQ(ResultCodeInfo(2).logTag, "SATA\t");
  EXPECT_STREQ(ResultCodeInfo(39).shortCode, "B01");
  EXPECT_STREQ(ResultCodeInfo(49).shortCode, "B11");
  EXPECT_STREQ(ResultCodeInfo(52).stepName, "Check RDT Result");
  // A stopped run's -1 and anything past the table never index it.
  EXPECT_FALSE(IsKnownResultCode(-1));
  EXPECT_FALSE(IsKnownResultCode(53));
  EXPECT_STREQ(ResultCodeInfo(-1).failureText, "Unknown Failure");
  EXPECT_STREQ(StepStatusText(2), "");
  EXPECT_STREQ(StepStatusText(-1), "Fail");
}

TEST(FlashInterfaceReport, LinesChipsAndShownCode) {
  auto r = record();
  // ch 0 bank 0 erase fail (chip 0); ch 3 bank 1 ECC fail (chip 3); SRAM (not counted); end marker.
  std::uint8_t entries[] = {0, 0, 4, 0, 3, 1, 7, 0, 0, 0, 10, 0, 0xFF, 0, 0, 0};
  std::copy(std::begin(entries), std::end(entries), r.begin() + 4);
  PortContext port;
  auto lines = FlashInterfaceReport(r, fourChannels(), &port);
  EXPECT_EQ(lines, (std::vector<std::string>{"Flash Interface Test Fail", "", "Flash Erase fail. Ch#00, Bank#00",
                                             "Flash ECC fail. Ch#03, Bank#01", "Test SRAM Memory Fail", "",
                                             "Bad Chip:", "Chip#0", "Chip#3"}));
  EXPECT_EQ(port.shownCode, 48);  // the last entry decides
  EXPECT_EQ(port.failedUnitCount, 2);
  EXPECT_EQ(ReportText({"a", ""}), "a\r\n\r\n");

  auto empty = record();
  empty[4] = 0xFF;
  EXPECT_TRUE(FlashInterfaceReport(empty, fourChannels()).empty());
  // No terminator: the record ends at its buffer, and far chips are shown but not counted.
  std::vector<std::uint8_t> full(kDetailSize);
  for (std::size_t at = 4; at < full.size(); at += 4) {
    full[at] = 0x20;
    full[at + 1] = 0x00;
    full[at + 2] = 1;
  }
  PortContext far;
  auto farLines = FlashInterfaceReport(full, fourChannels(), &far);
  EXPECT_EQ(farLines.size(), 2u + (kDetailSize - 4) / 4);
  EXPECT_EQ(far.failedUnitCount, 0);
}

TEST(StepReport, EntryLayoutsAndBadBlockTotals) {
  auto r = record();
  r[0] = 4;
  std::size_t at = 1;
  r[at] = 0x82;  // expected IDs; the next entry starts 17 bytes later
  at += 17;
  r[at] = 0x83;
  r[at + 1] = 1;
  r[at + 2] = 2;
  std::uint8_t id[] = {0xEC, 0xD7, 0x94, 0x7A, 0x54};
  std::copy(std::begin(id), std::end(id), r.begin() + static_cast<std::ptrdiff_t>(at + 6));
  at += 16;
  r[at] = 3;
  r[at + 1] = 1;
  r[at + 2] = 2;
  r[at + 3] = 0;
  put16(r, at + 4, 120);
  at += 16;
  r[at] = 2;
  put16(r, at + 4, 1);
  r[at + 1] = 5;
  PortContext port;
  auto lines = StepReport(r, fourChannels(), &port);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Flash Setting - ID: 98 D7 94 32 76",
                       "Scan Result -  ID: EC D7 94 7A 54 (Ch#01, Bank#02, Chip#5)",
                       "Number of bad block is over defect ratio:",
                       "Ch#01, Bank#02, Die#00, BadBlockNum: 120, BadBlockNumRatio(1/1000): 58",
                       "Def Page Is ECC Fail. Ch#05",
                       "",
                       "Bad Chip:",
                       "Chip#5, BadBlockNum: 120",
                   }));
  EXPECT_EQ(port.shownCode, 32);
  EXPECT_EQ(port.failedUnit, 5);
  EXPECT_EQ(port.failedUnitCount, 1);
  // A count past the buffer stops at its end.
  auto big = record();
  big[0] = 255;
  EXPECT_EQ(StepReport(big, fourChannels()).size(), 127u);
}

TEST(ErrorDialog, TableRecordsRwRecordsAndPlainCodes) {
  auto r = record();
  r[0] = 0xBB;
  put32(r, 1, 9);
  put32(r, 5, 10);
  put32(r, 9, 20);
  put32(r, 13, 30);
  put32(r, 17, 40);
  ReportFlash flash = fourChannels();
  flash.pageSectors = 1;  // 512 bytes: 64 dump lines
  auto lines = ErrorDialogLines(28, r, flash);
  ASSERT_EQ(lines.size(), 5u + 64u);
  EXPECT_EQ(lines[1], "Read fail count is (40)\n");
  EXPECT_EQ(lines[2], "Program fail count is (20)\n");
  EXPECT_EQ(lines[3], "Erase fail count is (10)\n");
  EXPECT_EQ(lines[4], "Uncorrectable ECC fail count is (30)\n");
  EXPECT_EQ(lines[5], "0000 : 00, 00, 00, 0A, 00, 00, 00, 14\n");  // from offset 2
  flash.pageSectors = 16;  // 8 KiB pages: the dump stops at the record's end
  EXPECT_EQ(ErrorDialogLines(28, r, flash).size(), 5u + 2046u / 8u);

  auto rw = record();
  put32(rw, 0, 3);
  put32(rw, 4, 4096);
  put32(rw, 8, 0x012C);
  put32(rw, 12, 0xFED3);
  put32(rw, 16, 300);
  EXPECT_EQ(ErrorDialogLines(21, rw, flash),
            (std::vector<std::string>{"Full R/W Test Fail", "Comapre fail on LBA(4096), offset(300)", "expected(0x12C)",
                                      "received(0xFED3)"}));
  EXPECT_EQ(ErrorDialogLines(26, record(), flash), std::vector<std::string>{"Timeout"});
  EXPECT_EQ(ErrorDialogLines(-1, record(), flash), std::vector<std::string>{"Unknown Failure"});
}
