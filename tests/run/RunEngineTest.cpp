#include "run/RunEngine.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "config/IniFile.h"
#include "run/ResultCodes.h"
#include "sim/SampleData.h"
#include "support/RecordingOperator.h"
#include "support/ScriptedOps.h"
#include "support/TempDir.h"
#include "support/Wait.h"

using namespace qk;
using qk::test::ScriptedOps;

namespace {

class Bench : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(WriteSampleData(home.path())); }

  // A hub of four ports with `drives` drives of the controller on USB.
  void start(int drives, const std::string& profile) {
    std::string bench = "[Hub1]\nParent=root\nKind=usb2\nPorts=4\n";
    for (int d = 1; d <= drives; ++d) {
      bench += "[Drive" + std::to_string(d) + "]\nAt=Hub1:" + std::to_string(d) + "\nToken=R20X\nFlash=WBG\n";
    }
    home.write("t.bench", bench);
    home.write("QKMassProd.ini", profile);
    station = std::make_unique<Station>(ProgramFolder(home.path()), op);
    ASSERT_EQ(station->startUp("", home.file("t.bench"), &clock), Station::StartResult::Ok);
    engine = std::make_unique<RunEngine>(
        *station,
        [this](int slot, const PortContext&, const GlobalParameter&, std::stop_token stop) {
          auto ops = std::make_unique<ScriptedOps>();
          ops->stop = stop;
          ops->clock = &clock;
          if (hangSlot == slot) {
            ops->hanging = {"bus"};
            // The hung drive's time runs on only after every other port has ended,
            // so their verdicts never race the time-out.
            ops->timeMayPass = [this, slot] {
              std::lock_guard lock(station->scanner().scanLock());
              for (int i = 0; i < SlotLimit; ++i) {
                const PortContext& r = station->scanner().ports()[static_cast<std::size_t>(i)];
                if (i != slot && r.active && r.stepStatus[25] == 0) return false;
              }
              return true;
            };
          }
          if (hangSlot == slot && frozen) ops->timeMayPass = [] { return false; };
          if (hangSlot == slot) ops->releasedBy = releasedBy;
          ops->failing = failing;
          std::lock_guard lock(madeMutex);
          made[static_cast<std::size_t>(slot)] = ops->resets;
          return ops;
        },
        observer);
  }

  PortContext port(int slot) {
    std::lock_guard lock(station->scanner().scanLock());
    return station->scanner().ports()[static_cast<std::size_t>(slot)];
  }

  // Slot refreshes, called from the workers, can act in the middle of a run.
  struct HookedObserver : RunObserver {
    std::function<void(const std::vector<SlotView>&)> onSlots;
    void slots(const std::vector<SlotView>& views) override {
      if (onSlots) onSlots(views);
    }
  };

  test::TempDir home;
  test::RecordingOperator op;
  VirtualClock clock;
  HookedObserver observer;
  std::unique_ptr<Station> station;
  std::unique_ptr<RunEngine> engine;
  int hangSlot = -1;
  std::optional<PassThrough::ResetLevel> releasedBy;  // the hang sits in a command only a reset ends
  std::mutex madeMutex;
  std::array<std::shared_ptr<ScriptedOps::Resets>, SlotLimit> made{};  // each slot's resets in the last run
  bool frozen = false;  // the hung drive's time never passes: only a stop ends it
  std::set<std::string> failing;
};

}  // namespace

TEST_F(Bench, SerialsLogAndYieldOfAPassingRun) {
  ASSERT_NO_FATAL_FAILURE(start(3, "[TestItems]\nEnDownload=1\n[DeviceSetting]\nSNAutoInc=1\nSNDecimal=1\nSerialNum=0123456789\n"));
  RunOutcome out = engine->start({});
  ASSERT_FALSE(out.refusal) << *out.refusal;
  ASSERT_TRUE(out.ran);
  EXPECT_EQ(port(0).serialNumber.str(), "000123456789");
  EXPECT_EQ(port(1).serialNumber.str(), "000123456790");
  EXPECT_EQ(port(2).serialNumber.str(), "000123456791");
  EXPECT_EQ(station->profile().settings.SerialNum, "000123456792");
  EXPECT_EQ(readIniString(home.file("QKMassProd.ini"), "DeviceSetting", "SerialNum", ""), "000123456792");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(port(i).stepStatus[25], 1) << i;
  EXPECT_EQ(station->profile().settings.NumberOfPass, 3);
  EXPECT_EQ(station->profile().settings.TotalTestCount, 3);
  std::string log = home.read("log/" + bareFileName(out.logFile));
  EXPECT_NE(log.find("000003\t000003\t"), std::string::npos) << log;
  EXPECT_EQ(readIniInt(home.file("log/QKSSD.log"), "TestRecord", "NumberOfPass", 0), 3);
}

TEST_F(Bench, AHangingDriveIsCutOffAtItsTimeOutAndStaysOutOfTheYield) {
  hangSlot = 1;
  ASSERT_NO_FATAL_FAILURE(start(3, "[Setting]\nTimeOut=2\n[TestItems]\nEnSataTest=1\nEnFlashTest=1\n"));
  RunOutcome out = engine->start({});
  ASSERT_TRUE(out.ran);
  PortContext cut = port(1);
  EXPECT_EQ(cut.resultCode, kTimeoutCode);
  EXPECT_EQ(cut.shownCode, kTimeoutCode);
  EXPECT_EQ(cut.stepStatus[25], -1);
  EXPECT_EQ(cut.stepStatus[2], 2);   // cut off while running: prints as an empty text
  EXPECT_EQ(cut.stepStatus[3], 0);   // the worker's later changes never reached the record
  EXPECT_GE(clock.nowMs(), 120000);
  EXPECT_EQ(port(0).stepStatus[25], 1);
  EXPECT_EQ(station->profile().settings.TotalTestCount, 2);
  EXPECT_EQ(station->profile().settings.NumberOfPass, 2);
  std::string log = home.read("log/" + bareFileName(out.logFile));
  EXPECT_NE(log.find("\t000002\t"), std::string::npos);
  EXPECT_NE(log.find("\tPass\t\t----\t----\t----\t----\t----\tFail\t\r\n"), std::string::npos) << log;
}

// A drive that stops answering mid-command holds its worker in the kernel,
// where the port's stop does not reach: after the time-out the station resets
// the drive, first the device, then its USB port if that does not free it.
TEST_F(Bench, ATimedOutDriveIsResetSoItsBlockedCommandReturns) {
  for (auto level : {PassThrough::ResetLevel::Device, PassThrough::ResetLevel::UsbPort}) {
    hangSlot = 1;
    releasedBy = level;
    ASSERT_NO_FATAL_FAILURE(start(3, "[Setting]\nTimeOut=2\n[TestItems]\nEnSataTest=1\nEnFlashTest=1\n"));
    const auto passedBefore = station->profile().settings.NumberOfPass;
    RunOutcome out = engine->start({});
    ASSERT_TRUE(out.ran);
    EXPECT_EQ(port(1).resultCode, kTimeoutCode);
    EXPECT_EQ(made[1]->device, 1);
    if (level == PassThrough::ResetLevel::UsbPort) {
      EXPECT_EQ(made[1]->usb, 1);
    }
    // The others' verdicts stand, and their drives are left alone.
    for (int slot : {0, 2}) {
      EXPECT_EQ(port(slot).stepStatus[25], 1) << slot;
      const auto& other = *made[static_cast<std::size_t>(slot)];
      EXPECT_EQ(other.device + other.usb, 0) << slot;
    }
    EXPECT_EQ(station->profile().settings.NumberOfPass - passedBefore, 2);
    engine.reset();
    station.reset();
  }
}

TEST_F(Bench, StopCutsOffRunningPortsAsFailedOutsideTheYield) {
  hangSlot = 1;
  frozen = true;
  ASSERT_NO_FATAL_FAILURE(start(3, "[Setting]\nTimeOut=2\n[TestItems]\nEnSataTest=1\nEnFlashTest=1\n"));
  std::jthread stopper([this] {
    // The others end first, so only the hung port is still running.
    EXPECT_TRUE(test::waitUntil([this] { return port(0).stepStatus[25] != 0 && port(2).stepStatus[25] != 0; }))
        << "the other ports never ended";
    engine->stop();
  });
  RunOutcome out = engine->start({});
  ASSERT_TRUE(out.ran);
  PortContext cut = port(1);
  EXPECT_EQ(cut.resultCode, -1);
  EXPECT_EQ(cut.shownCode, -1);
  EXPECT_EQ(cut.stepStatus[25], -1);
  EXPECT_EQ(port(0).stepStatus[25], 1);
  EXPECT_EQ(station->profile().settings.TotalTestCount, 2);
  EXPECT_EQ(engine->errorDialogLines(1), std::vector<std::string>{"Unknown Failure"});
  // The next run is not stopped by the last one's request.
  hangSlot = -1;
  ASSERT_TRUE(engine->start({}).ran);
  EXPECT_EQ(port(1).stepStatus[25], 1);
}

TEST_F(Bench, AStopKeepsTheVerdictOfAPortThatIsOnlyFinishing) {
  hangSlot = 1;
  frozen = true;
  ASSERT_NO_FATAL_FAILURE(start(2, "[Setting]\nTimeOut=2\n[TestItems]\nEnSataTest=1\n"));
  // The first port's verdict is out while its worker is still drawing the
  // slots: a stop now must cut off only the hung port. The refresh waits until
  // the stop has reached the hung port, so the sweep has passed the first too.
  std::atomic<bool> once{false};
  observer.onSlots = [&](const std::vector<SlotView>& views) {
    if (views.empty() || views[0].colour != SlotColour::Green || once.exchange(true)) return;
    engine->stop();
    EXPECT_TRUE(test::waitUntil([this] { return port(1).resultCode == -1; })) << "the stop never reached the hung port";
  };
  ASSERT_TRUE(engine->start({}).ran);
  EXPECT_EQ(port(0).stepStatus[25], 1);
  EXPECT_EQ(port(0).resultCode, 0);
  EXPECT_EQ(port(1).resultCode, -1);
  EXPECT_EQ(station->profile().settings.NumberOfPass, 1);
}

TEST_F(Bench, RefusalsKeepTheirMessages) {
  ASSERT_NO_FATAL_FAILURE(start(2, "[FlashSetting]\nBank=3\n[TestItems]\nEnSataTest=1\n"));
  EXPECT_EQ(engine->start({}).refusal.value_or(""), "Please check total bank's number, only support 1, 2, 4 and 8 bank");
  // The pages raise the serial length to 12 for both images; the sample type's
  // 64 pages per block are then too few for two images.
  ASSERT_NO_FATAL_FAILURE(start(2, "[TestItems]\nEnDownload=1\nDownloadType=3\n[DeviceSetting]\nSNMinLength=8\n"));
  EXPECT_EQ(engine->start({}).refusal.value_or(""),
            "The Block Page number of flash is too small, then MP can't download SATA and USB codes simultaneously");
  ASSERT_NO_FATAL_FAILURE(start(2, "[FlashSetting]\nCapacity=5\n[TestItems]\nEnSataTest=1\n"));
  EXPECT_EQ(engine->start({}).refusal.value_or(""), "Please make sure the Flash parameter selection!");
  ASSERT_NO_FATAL_FAILURE(start(2, "[TestItems]\nEnDownload=1\nDownloadType=0\n"));
  EXPECT_EQ(engine->start({}).refusal.value_or(""), "At lease one bin file needed!");
  ASSERT_NO_FATAL_FAILURE(start(2, "[Setting]\nConnectDevNum=3\n[TestItems]\nEnSataTest=1\n"));
  RunOutcome wrongCount = engine->start({});
  EXPECT_TRUE(wrongCount.startDisabled);
  EXPECT_EQ(op.messages.back().text, "Please Make sure the Connection devices Number!!");
  std::remove(home.file("SYS_S.bin").c_str());
  ASSERT_NO_FATAL_FAILURE(start(2, "[TestItems]\nEnDownload=1\n"));
  EXPECT_EQ(engine->start({}).refusal.value_or(""), "<WARNING> Can't find file : " + home.file("SYS_S.bin"));
}

TEST_F(Bench, NoStepEnabledStartsNoWorker) {
  ASSERT_NO_FATAL_FAILURE(start(1, "[TestItems]\nEnFlashModule=0\n"));
  RunOutcome out = engine->start({});
  EXPECT_FALSE(out.refusal);
  EXPECT_FALSE(out.ran);
}

TEST_F(Bench, FailureReportsForInterfaceAndPreformatFailures) {
  failing = {"interface"};
  ASSERT_NO_FATAL_FAILURE(start(2, "[TestItems]\nEnFlashTest=1\n[DeviceSetting]\nSerialNum=AB/../C\nSNMinLength=7\n"));
  RunOutcome out = engine->start({});
  ASSERT_EQ(out.reportFiles.size(), 2u);
  EXPECT_EQ(port(0).resultCode, 3);
  for (const auto& f : out.reportFiles) EXPECT_EQ(f.rfind(home.path() + "log/Error_", 0), 0u) << f;
  EXPECT_NE(out.reportFiles[0].find("_01_AB_.._C.txt"), std::string::npos) << out.reportFiles[0];
}

TEST(RunOnBench, FiftyDrivesThroughEveryStepInParallel) {
  test::TempDir home;
  ASSERT_TRUE(WriteSampleData(home.path()));
  std::string bench;
  for (int h = 0; h < 5; ++h) bench += "[Hub" + std::to_string(h + 1) + "]\nParent=root\nKind=usb3\nPorts=10\n";
  for (int d = 0; d < 50; ++d) {
    bench += "[Drive" + std::to_string(d + 1) + "]\nAt=Hub" + std::to_string(d / 10 + 1) + ":" +
             std::to_string(d % 10 + 1) + "\nToken=k402\nFlash=WBG\nChannel=4\nBank=2\nSectors=2097152\n" +
             (d == 17 ? "FaultInterface=7:3:1\n" : "") + (d == 33 ? "Temperature=90\n" : "Temperature=40\n");
  }
  home.write("line.bench", bench);
  home.write("QKMassProd.ini",
             "[TestItems]\nEnFlashModule=1\nEnSataTest=1\nEnFlashTest=1\nEnDramTest=1\nEnPreFormat=1\n"
             "EnDownload=1\nEnRWTest=1\nEnCheckTables=1\nEnFormat=1\nEnCheckTemperature=1\n"
             "CheckMaxTemperatureValue=70\n"
             "[FlashSetting]\nFlashUniName=WBG\nChannel=4\nBank=2\n[DeviceSetting]\nSNAutoInc=1\n");
  test::RecordingOperator op;
  VirtualClock clock;
  Station station(ProgramFolder(home.path()), op);
  ASSERT_EQ(station.startUp("", home.file("line.bench"), &clock), Station::StartResult::Ok);
  RunObserver observer;
  RunEngine engine(station, observer);
  RunOutcome out = engine.start({});
  ASSERT_TRUE(out.ran);
  ASSERT_EQ(out.activeSlots.size(), 50u);
  std::lock_guard lock(station.scanner().scanLock());
  for (int slot = 0; slot < 50; ++slot) {
    const PortContext& r = station.scanner().ports()[static_cast<std::size_t>(slot)];
    if (slot == 17) {
      EXPECT_EQ(r.resultCode, 3) << slot;
    } else if (slot == 33) {
      EXPECT_EQ(r.resultCode, 11) << slot;
      EXPECT_EQ(r.temperature, 90);
    } else {
      EXPECT_EQ(r.stepStatus[25], 1) << "Port" << slot + 1 << " code " << r.resultCode;
    }
  }
  EXPECT_EQ(station.profile().settings.NumberOfPass, 48);
  EXPECT_EQ(out.reportFiles.size(), 1u);
}
