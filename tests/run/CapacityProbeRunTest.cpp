// The capacity probe in a whole run on the bench: a drive that wraps fails
// with the probe's code on its slot, in the log and in its report, while a
// healthy drive beside it passes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/ResultCodes.h"
#include "run/RunEngine.h"
#include "run/SlotView.h"
#include "sim/SampleData.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"

using namespace qk;

TEST(CapacityProbeRun, WrappingDriveFailsWithItsCodeReportAndLogColumnHealthyOnePasses) {
  test::TempDir home;
  ASSERT_TRUE(WriteSampleData(home.path()));
  home.write("b.bench",
             "[Hub1]\nParent=root\nKind=usb3\nPorts=2\n"
             "[Drive1]\nAt=Hub1:1\nToken=k402\nFlash=WBG\nSectors=131072\nFaultAlias=wrap:65536\n"
             "[Drive2]\nAt=Hub1:2\nToken=k402\nFlash=WBG\nSectors=131072\n");
  home.write("QKMassProd.ini", "[TestItems]\nEnFlashModule=0\nEnRWTest=1\nEnCapacityProbe=1\n");
  test::RecordingOperator op;
  VirtualClock clock;
  Station station(ProgramFolder(home.path()), op);
  ASSERT_EQ(station.startUp("", home.file("b.bench"), &clock), Station::StartResult::Ok);
  RunObserver observer;
  RunEngine engine(station, observer);
  RunOutcome out = engine.start(RunOptions{});
  ASSERT_TRUE(out.ran);

  PortContext bad, good;
  {
    std::lock_guard lock(station.scanner().scanLock());
    bad = station.scanner().ports()[0];
    good = station.scanner().ports()[1];
  }
  // The quick R/W test cannot see the fault; the probe can.
  EXPECT_EQ(bad.stepStatus[7], 1);
  EXPECT_EQ(bad.resultCode, kCapacityProbeCode);
  EXPECT_EQ(bad.stepStatus[kCapacityProbeItem], -1);
  EXPECT_EQ(VerdictText(bad), "Capacity Probe Fail (V00)");
  EXPECT_EQ(good.stepStatus[kCapacityProbeItem], 1);
  EXPECT_EQ(VerdictText(good), "Pass");

  const std::vector<std::string> report{"Capacity Probe Fail", "Stamp lost on LBA(65536)",
                                        "expected(stamp of LBA 65536)", "received(stamp of LBA 0)",
                                        "real capacity about 65536 sectors (32 MB)"};
  EXPECT_EQ(engine.errorDialogLines(0), report);
  ASSERT_EQ(out.reportFiles.size(), 1u);
  EXPECT_NE(home.read("log/" + bareFileName(out.reportFiles[0])).find("real capacity about 65536 sectors"),
            std::string::npos);

  const std::string log = home.read("log/" + bareFileName(out.logFile));
  EXPECT_NE(log.find("R/W\tCheck Table\tCapaProbe\tResult\t"), std::string::npos) << log;
  EXPECT_NE(log.find("\tPass\t----\tFail\tFail\t\r\n"), std::string::npos) << log;  // R/W passed, probe failed
  EXPECT_NE(log.find("\tPass\t----\tPass\tPass\t\r\n"), std::string::npos) << log;
  EXPECT_EQ(station.profile().settings.NumberOfPass, 1);
}
