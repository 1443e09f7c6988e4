// A drive that fails each R/W test item, run end to end on the bench: the
// slot, the log row and the error report must name that item and no other.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "run/RunEngine.h"
#include "run/SlotView.h"
#include "sim/SampleData.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"

using namespace qk;

namespace {

struct RwItem {
  int item;
  std::uint32_t sectors;  // the quick test samples whole gigabytes; the others cover the drive
  const char* slotText;
  const char* failureText;
};

void PrintTo(const RwItem& i, std::ostream* os) { *os << "item " << i.item; }

class RwFailure : public ::testing::TestWithParam<RwItem> {};

}  // namespace

TEST_P(RwFailure, SlotLogAndReportNameTheFailingItem) {
  const RwItem& p = GetParam();
  test::TempDir home;
  ASSERT_TRUE(WriteSampleData(home.path()));
  // Word 300 of the block at LBA 256 reads back inverted.
  home.write("b.bench", "[Hub1]\nParent=root\nKind=usb3\nPorts=2\n[Drive1]\nAt=Hub1:1\nToken=k402\nFlash=WBG\n"
                        "Sectors=" + std::to_string(p.sectors) + "\nFaultCorrupt=256:300\n");
  home.write("QKMassProd.ini", "[TestItems]\nEnFlashModule=0\nEnRWTest=0\n");
  test::RecordingOperator op;
  VirtualClock clock;
  Station station(ProgramFolder(home.path()), op);
  ASSERT_EQ(station.startUp("", home.file("b.bench"), &clock), Station::StartResult::Ok);
  station.profile().settings.RWTestPercentage = 50;
  RunObserver observer;
  RunEngine engine(station, observer);
  RunOptions options;
  options.extraItems = {p.item};
  RunOutcome out = engine.start(options);
  ASSERT_TRUE(out.ran);

  PortContext rec;
  {
    std::lock_guard lock(station.scanner().scanLock());
    rec = station.scanner().ports()[0];
  }
  EXPECT_EQ(rec.resultCode, p.item);
  EXPECT_EQ(rec.stepStatus[static_cast<std::size_t>(p.item)], -1);
  EXPECT_EQ(VerdictText(rec), p.slotText);
  const std::vector<std::string> report{p.failureText, "Comapre fail on LBA(256), offset(300)", "expected(0x12C)",
                                        "received(0xFED3)"};
  EXPECT_EQ(engine.errorDialogLines(0), report);
  const std::string log = home.read("log/" + bareFileName(out.logFile));
  EXPECT_NE(log.find("\tFail\t\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("\tPass\t\r\n"), std::string::npos) << log;
  EXPECT_EQ(station.profile().settings.NumberOfPass, 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryRwItem, RwFailure,
    ::testing::Values(RwItem{7, 2097152, "R/W Test Fail (E00)", "R/W Test Fail"},
                      RwItem{19, 2097152, "R/W Test (Partial) Fail (E02)", "Partial R/W Test Fail"},
                      RwItem{20, 16384, "R/W Test (Percentage) Fail (E04)", "Percentage R/W Test Fail"},
                      RwItem{21, 16384, "R/W Test (Full) Fail (E01)", "Full R/W Test Fail"}),
    [](const ::testing::TestParamInfo<RwItem>& i) { return "Item" + std::to_string(i.param.item); });
