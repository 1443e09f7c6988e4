#include "run/FailureReport.h"

#include <gtest/gtest.h>

#include <iterator>
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
  // The whole table, row by row: codes are stored in logs and reports, so no
  // row may move or change.
  struct Row {
    const char *shortCode, *failureText, *stepName, *logTag;
  };
  const Row want[] = {
      {"", "No Error", "", ""},  // 0
      {"M00", "Flash Module Test Fail", "Flash Module Test", "Module\t"},  // 1
      {"A00", "Bus Interface Test Fail", "Bus Interface Test", "SATA\t"},  // 2
      {"B00", "Flash Interface Test Fail", "Flash Interface Test", "Flash\t"},  // 3
      {"H00", "Dram Test Fail", "Dram Test", "Dram\t"},  // 4
      {"C00", "Pre-Format Fail", "Preformat", "P_F\t"},  // 5
      {"D00", "Download Firmware Fail", "Download", "Down\t"},  // 6
      {"E00", "R/W Test Fail", "R/W Test", "R/W\t"},  // 7
      {"J00", "Check Tables Fail", "Check Tables", "Check Table\t"},  // 8
      {"F00", "Disk Format Fail", "Disk Format", "Format\t"},  // 9
      {"I00", "Copy Image Fail", "Copy Image", "CopyImage\t"},  // 10
      {"Q09", "Check Temperature Fail", "Check Temperature", "CheckTemper\t"},  // 11
      {"Q00", "Model Number Check Fail", "Model Number", "Model\t"},  // 12
      {"Q01", "Firmware Version Check Fail", "Firmware Version", "FMVer\t"},  // 13
      {"Q02", "Vendor Name Check Fail", "Vendor Name", "VName\t"},  // 14
      {"Q03", "Product Name Check Fail", "Product Name", "PName\t"},  // 15
      {"Q04", "IDEMA Capacity Check Fail", "IDEMA Capacity Check", "Capa\t"},  // 16
      {"Q05", "Serial Number Check Fail", "Serial Number Check", "SN\t"},  // 17
      {"Q06", "LBA Capacity Check Fail", "LBA Capacity Check", "CapaLBA\t"},  // 18
      {"E02", "Partial R/W Test Fail", "R/W Test (Partial)", "PRWTest\t"},  // 19
      {"E04", "Percentage R/W Test Fail", "R/W Test (Percentage)", "FERRWTest\t"},  // 20
      {"E01", "Full R/W Test Fail", "R/W Test (Full)", "FRWTest\t"},  // 21
      {"G00", "Erase All Data Fail", "EraseAllData", "Erase\t"},  // 22
      {"J00", "QC Check Tables Fail", "QC Check Tables", "QC Check Table\t"},  // 23
      {"", "", "", ""},  // 24
      {"K00", "Check Loader Block Fail", "", ""},  // 25
      {"T00", "Timeout", "", ""},  // 26
      {"E03", "Random Read Test Fail", "", ""},  // 27
      {"J01", "Bad block is over", "", ""},  // 28
      {"Q07", "Folder Check Fail", "", ""},  // 29
      {"Q08", "File R/W Test Fail", "", ""},  // 30
      {"C01", "Table Not Exist", "", ""},  // 31
      {"C02", "Table Ecc Fail", "", ""},  // 32
      {"C03", "Defect is over", "", ""},  // 33
      {"C04", "Free block is too large", "", ""},  // 34
      {"C05", "Total bad block number is over", "", ""},  // 35
      {"C06", "Build Table Fail", "Build Table", ""},  // 36
      {"C07", "Build Remap Table Fail", "Build Remap Table", ""},  // 37
      {"C08", "", "", ""},  // 38
      {"B01", "", "", ""},  // 39
      {"B02", "", "", ""},  // 40
      {"B03", "", "", ""},  // 41
      {"B04", "", "", ""},  // 42
      {"B05", "", "", ""},  // 43
      {"B06", "", "", ""},  // 44
      {"B07", "", "", ""},  // 45
      {"B08", "", "", ""},  // 46
      {"B09", "", "", ""},  // 47
      {"B10", "", "", ""},  // 48
      {"B11", "", "", ""},  // 49
      {"P00", "Check Chip Fail", "Check Chip", ""},  // 50
      {"P01", "Check Erase Count Fail", "Check Erase Count", ""},  // 51
      {"P03", "RDT Result Fail", "Check RDT Result", ""},  // 52
  };
  ASSERT_EQ(std::size(want), static_cast<std::size_t>(kResultCodeCount));
  for (int code = 0; code < kResultCodeCount; ++code) {
    const Row& w = want[code];
    const ResultCodeRow& got = ResultCodeInfo(code);
    EXPECT_STREQ(got.shortCode, w.shortCode) << code;
    EXPECT_STREQ(got.failureText, w.failureText) << code;
    EXPECT_STREQ(got.stepName, w.stepName) << code;
    EXPECT_STREQ(got.logTag, w.logTag) << code;
  }
  // A stopped run's -1 and anything past the table never index it.
  EXPECT_FALSE(IsKnownResultCode(-1));
  EXPECT_FALSE(IsKnownResultCode(54));
  // The probe's code lies past the table and reads as its own row.
  EXPECT_STREQ(ResultCodeInfo(kCapacityProbeCode).shortCode, "V00");
  EXPECT_STREQ(ResultCodeInfo(kCapacityProbeCode).failureText, "Capacity Probe Fail");
  EXPECT_STREQ(StepInfo(kCapacityProbeItem).stepName, "Capacity Probe");
  EXPECT_STREQ(StepInfo(21).stepName, "R/W Test (Full)");
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
