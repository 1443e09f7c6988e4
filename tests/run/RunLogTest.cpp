#include "run/RunLog.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>

#include "platform/FileNames.h"
#include "platform/ProgramFolder.h"
#include "support/TempDir.h"

using namespace qk;

namespace {

RunLogInput twoPorts() {
  RunLogInput in;
  in.start = {2026, 12, 7, 14, 5, 9};
  in.end = {2026, 12, 7, 14, 9, 30};
  in.testItems = {"Flash Module Test", "Download", "Check Temperature"};
  RunLogPort a;
  a.slot = 0;
  a.serialNumber = "SN0001";
  a.stepStatus[1] = 1;
  a.stepStatus[6] = 1;
  a.stepStatus[25] = 1;
  RunLogPort b;
  b.slot = 2;
  b.serialNumber = "SN0002";
  b.stepStatus[1] = 1;
  b.stepStatus[6] = 2;  // cut off while running
  b.stepStatus[25] = -1;
  in.ports = {a, b};
  in.totalTestCount = 2;
  return in;
}

}  // namespace

TEST(RunLog, HeaderFollowsTheTestItemList) {
  EXPECT_EQ(RunLogHeader({"Flash Module Test", "Download"}),
            "  No.\t Port.\t     StartTime \t EndTime \tSerialNumber\tModule\tDown\tResult\t\r\n");
  // Items without a code row give no column; the list order doesn't matter, row order does.
  EXPECT_EQ(RunLogHeader({"Download", "Nothing", "Flash Module Test"}),
            "  No.\t Port.\t     StartTime \t EndTime \tSerialNumber\tModule\tDown\tResult\t\r\n");
}

TEST(RunLog, NewFileGetsHeaderLinesAppendAndRowsContinue) {
  test::TempDir dir;
  LogFileChoice log = ChooseLogFile(dir.path(), {2026, 12, 7});
  RunLogInput in = twoPorts();
  ASSERT_TRUE(AppendRunLog(log, in));
  std::string first = dir.read("20261207_000.txt");
  EXPECT_EQ(first,
            "  No.\t Port.\t     StartTime \t EndTime \tSerialNumber\tModule\tDown\tCheckTemper\tResult\t\r\n"
            "000001\t000001\t2026/12/07 14:05:09\t2026/12/07 14:09:30\tSN0001\tPass\tPass\t----\tPass\t\r\n"
            "000002\t000003\t2026/12/07 14:05:09\t2026/12/07 14:09:30\tSN0002\tPass\t\t----\tFail\t\r\n");
  // A second run whose counter did not grow (a timed-out port, a yield reset) still continues the rows.
  ASSERT_TRUE(AppendRunLog(log, in));
  std::string both = dir.read("20261207_000.txt");
  EXPECT_EQ(both.find("  No."), both.rfind("  No."));  // no second header
  EXPECT_NE(both.find("000003\t000001"), std::string::npos);
  EXPECT_NE(both.find("000004\t000003"), std::string::npos);
}

TEST(RunLog, RollsOverAtTheLimitBeforeWriting) {
  test::TempDir dir;
  dir.write("20261207_000.txt", std::string(83000, 'x'));
  LogFileChoice log = ChooseLogFile(dir.path(), {2026, 12, 7});
  log.index = 0;  // chosen while the file was still small
  log.name = LogFileName(dir.path(), {2026, 12, 7}, 0);
  ASSERT_TRUE(AppendRunLog(log, twoPorts()));
  EXPECT_EQ(log.index, 1);
  EXPECT_EQ(dir.read("20261207_001.txt").rfind("  No.\t", 0), 0u);
  EXPECT_EQ(dir.read("20261207_000.txt").size(), 83000u);
}

TEST(RunLog, FreeBlockFieldsAndUnwritableFolder) {
  std::vector<std::uint8_t> buf(65536, 0);
  buf[2] = 0xEB;
  buf[2 + 7] = 0x01;
  buf[2 + 8] = 0x02;
  buf[2 + 12 * 3] = 0xEB;
  buf[2 + 12 * 3 + 8] = 7;
  EXPECT_EQ(FreeBlockFields(buf), (std::vector<int>{0x0102, 7}));

  test::TempDir dir;
  LogFileChoice log = ChooseLogFile(dir.path(), {2026, 12, 7});
  RunLogInput in = twoPorts();
  in.freeBlockFields = true;
  in.ports[0].freeBlocks = {258, 7};
  ASSERT_TRUE(AppendRunLog(log, in));
  EXPECT_NE(dir.read("20261207_000.txt").find("\tPass\t\t000258\t000007\r\n"), std::string::npos);

  LogFileChoice nowhere = ChooseLogFile(dir.path() + "missing/", {2026, 12, 7});
  EXPECT_FALSE(AppendRunLog(nowhere, in));
}

TEST(FailureReport, NamesStayInTheFolderAndNeverReplaceEachOther) {
  test::TempDir dir;
  LocalTime end{2026, 12, 7, 14, 5, 0};
  std::string first = WriteFailureReport(dir.path(), end, 2, "ABC", "report\r\n");
  EXPECT_EQ(first, dir.path() + "Error_202612071405_03_ABC.txt");
  std::string second = WriteFailureReport(dir.path(), end, 2, "ABC", "again\r\n");
  EXPECT_EQ(second, dir.path() + "Error_202612071405_03_ABC(1).txt");
  EXPECT_EQ(dir.read("Error_202612071405_03_ABC.txt"), "report\r\n");

  std::string evil = WriteFailureReport(dir.path(), end, 0, "../../etc/x\n", "r");
  EXPECT_EQ(evil, dir.path() + "Error_202612071405_01_.._.._etc_x_.txt");
  EXPECT_EQ(SafeFileNamePart(".."), "__");
  EXPECT_EQ(SafeFileNamePart("QK_0123"), "QK_0123");
  EXPECT_EQ(WriteFailureReport(dir.path() + "missing/", end, 0, "A", "r"), "");
}

TEST(RunLog, RowsGoInWholeOrNotAtAll) {
  test::TempDir dir;
  LogFileChoice log = ChooseLogFile(dir.path(), {2026, 12, 7, 0, 0, 0});
  ASSERT_TRUE(AppendRunLog(log, twoPorts()));
  const std::string before = dir.read(bareFileName(log.name));

  // A full disk: the file may grow by a few bytes only.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = before.size() + 20;
  setrlimit(RLIMIT_FSIZE, &small);
  const bool written = AppendRunLog(log, twoPorts());
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_FALSE(written);
  EXPECT_EQ(dir.read(bareFileName(log.name)), before);

  // A line cut short by a killed process: the next rows start on a line of their own.
  dir.write(bareFileName(log.name), before + "000003\t000001\t2026/12/");
  ASSERT_TRUE(AppendRunLog(log, twoPorts()));
  const std::string after = dir.read(bareFileName(log.name));
  EXPECT_NE(after.find("2026/12/\r\n000004\t000001\t"), std::string::npos) << after;
}

TEST(RunLog, ControlCharactersNeverShiftOrSplitAColumn) {
  test::TempDir dir;
  LogFileChoice log = ChooseLogFile(dir.path(), {2026, 12, 7, 0, 0, 0});
  RunLogInput in = twoPorts();
  in.ports[0].serialNumber = std::string("SN\t00\r1\n\x7f");
  ASSERT_TRUE(AppendRunLog(log, in));
  const std::string text = dir.read(bareFileName(log.name));
  EXPECT_NE(text.find("\tSN?00?1??\t"), std::string::npos) << text;
  // Header and two rows, each with as many fields as the header.
  std::size_t lines = 0, start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2, ++lines) {
    const std::string line = text.substr(start, end - start);
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 9) << line;
  }
  EXPECT_EQ(lines, 3u);
}
