// Continuous production on the bench: drives fed over time, pulled, left
// plugged, and stops while ports run.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <thread>

#include "config/IniFile.h"
#include "run/LineRun.h"
#include "sim/SampleData.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"
#include "support/Wait.h"

using namespace qk;

namespace {

std::string driveSection(int n, int port, const std::string& extra = "") {
  return "[Drive" + std::to_string(n) + "]\nAt=Hub1:" + std::to_string(port) +
         "\nToken=R20X\nFlash=WBG\nChannel=4\nBank=2\nState=formatted\nUsbSerial=ROM" + std::to_string(n) + "\n" +
         extra;
}

// The drives' ends as the run reports them, from the run's thread.
struct Ends {
  std::mutex m;
  std::vector<DriveEnd> list;
  void add(const DriveEnd& e) {
    std::lock_guard lock(m);
    list.push_back(e);
  }
  std::size_t size() {
    std::lock_guard lock(m);
    return list.size();
  }
};

// Calls `action` once, on the worker's thread, the first time a worker announces `step`.
struct StepObserver : RunObserver {
  std::string step;
  std::function<void(int slot)> action;
  std::once_flag once;
  void panelText(int slot, const std::string& text) override {
    if (text == step && action) std::call_once(once, action, slot);
  }
};

struct ContinuousLine : ::testing::Test {
  void open(const std::string& drives, const std::string& feed = "") {
    ASSERT_TRUE(WriteSampleData(home.path()));
    home.write("t.bench", "[Hub1]\nParent=root\nKind=usb2\nPorts=4\n" + feed + drives);
    IniFile ini = IniFile::load(home.file("QKMassProd.ini"));
    ini.setInt("TestItems", "EnFlashModule", 0);
    ini.setInt("TestItems", "EnDownload", 1);
    ini.setInt("TestItems", "DownloadType", 2);
    ini.setInt("DeviceSetting", "SNAutoInc", 1);
    ini.setString("DeviceSetting", "SerialNum", "QK0000000100");
    ASSERT_TRUE(ini.save(home.file("QKMassProd.ini")));
    station = std::make_unique<Station>(ProgramFolder(home.path()), op);
    ASSERT_EQ(station->startUp("", home.file("t.bench"), &clock), Station::StartResult::Ok);
  }

  PortContext port(int slot) {
    std::lock_guard lock(station->scanner().scanLock());
    return station->scanner().ports()[static_cast<std::size_t>(slot)];
  }
  // Rows of the day's run log, its header left out; each must carry the
  // next number, none skipped or repeated.
  int logRows() {
    std::ifstream in(station->logFile().name);
    int rows = 0;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      if (line.empty()) continue;
      ++rows;
      EXPECT_EQ(std::stoi(line.substr(0, line.find('\t'))), rows) << line;
    }
    return rows;
  }
  const ProfileSettings& counters() { return station->profile().settings; }

  test::TempDir home;
  test::RecordingOperator op;
  VirtualClock clock;
  std::unique_ptr<Station> station;
};

const std::string kFourTemplates =
    driveSection(1, 1) + driveSection(2, 2) + driveSection(3, 3) + driveSection(4, 4);

}  // namespace

TEST_F(ContinuousLine, EveryFedDriveRunsOnceWithItsOwnIncreasingSerialOneRowAndOneYieldCount) {
  open(kFourTemplates, "[Feed]\nDrives=10\nSwap=5000\nTemplate1=Drive1\nTemplate2=Drive2\nTemplate3=Drive3\n"
                       "Template4=Drive4\n");
  sim::LineFeeder feeder(*station->bench());
  RunObserver observer;
  RunEngine engine(*station, observer);
  LineRun line(*station, engine, &feeder);
  Ends ends;
  ContinuousOptions options;
  options.onDriveEnd = [&](const DriveEnd& e) { ends.add(e); };
  options.armHotplug = true;
  const LineSummary summary = line.continuous(options);

  ASSERT_EQ(ends.size(), 10u);
  EXPECT_EQ(feeder.fed(), 10);
  EXPECT_EQ(summary.drives, 10);
  EXPECT_EQ(summary.pass, 10);
  std::set<std::string> drives, serials;
  for (const auto& e : ends.list) {
    drives.insert(e.devicePath);
    serials.insert(e.serialNumber);
    EXPECT_TRUE(e.pass) << e.devicePath << " " << e.failureText;
  }
  EXPECT_EQ(drives.size(), 10u);   // no drive ran twice
  EXPECT_EQ(serials.size(), 10u);  // no serial was handed out twice
  std::sort(ends.list.begin(), ends.list.end(), [](auto& a, auto& b) { return a.sequence < b.sequence; });
  for (std::size_t k = 1; k < ends.list.size(); ++k) {
    EXPECT_LT(ends.list[k - 1].serialNumber, ends.list[k].serialNumber) << k;
  }
  EXPECT_EQ(ends.list.front().serialNumber, "QK0000000100");
  EXPECT_EQ(logRows(), 10);
  EXPECT_EQ(counters().TotalTestCount, 10);
  EXPECT_EQ(counters().NumberOfPass, 10);
  // The serial stored is the one after the last handed out.
  EXPECT_EQ(IniFile::load(home.file("QKMassProd.ini")).getString("DeviceSetting", "SerialNum", ""), "QK000000010A");  // hexadecimal steps
}

TEST_F(ContinuousLine, ADrivePulledWhileItRunsGetsItsFailureAndTheFeedGoesOn) {
  open(driveSection(1, 1) + driveSection(2, 2, "FaultPullAt=60\n"),
       "[Feed]\nDrives=6\nSwap=1000\nTemplate1=Drive1\nTemplate2=Drive2\n");
  sim::LineFeeder feeder(*station->bench());
  RunObserver observer;
  RunEngine engine(*station, observer);
  LineRun line(*station, engine, &feeder);
  Ends ends;
  ContinuousOptions options;
  options.onDriveEnd = [&](const DriveEnd& e) { ends.add(e); };
  options.armHotplug = true;
  const LineSummary summary = line.continuous(options);

  ASSERT_EQ(ends.size(), 6u);
  EXPECT_EQ(summary.pass, 3);
  for (const auto& e : ends.list) {
    // Feed2, Feed4, Feed6 come from the template that is pulled.
    const int n = std::stoi(e.devicePath.substr(e.devicePath.find("Feed") + 4));
    EXPECT_EQ(e.pass, n % 2 == 1) << e.devicePath;
    if (n % 2 == 0) {
      // The feeder swaps into whichever port frees first, so the slot may be either.
      EXPECT_NE(e.resultCode, 0) << e.devicePath;
    }
  }
  EXPECT_EQ(logRows(), 6);
  EXPECT_EQ(counters().TotalTestCount, 6);
  EXPECT_EQ(counters().NumberOfPass, 3);
}

TEST_F(ContinuousLine, ADriveLeftPluggedIsNotRunAgainWhileOthersArrive) {
  open(driveSection(1, 1) + driveSection(2, 2) + driveSection(3, 3, "Plugged=0\n"));
  RunObserver observer;
  RunEngine engine(*station, observer);
  Ends ends;
  ContinuousOptions options;
  options.onDriveEnd = [&](const DriveEnd& e) { ends.add(e); };
  options.armHotplug = true;
  RunOutcome out;
  std::jthread run([&] { out = engine.startContinuous(options); });
  // Whatever fails below, the run ends before the thread is joined.
  struct Stopper {
    RunEngine& engine;
    ~Stopper() {
      engine.stop();
      engine.stop();
    }
  } stopper{engine};
  ASSERT_TRUE(test::waitUntil([&] { return ends.size() == 2; }));
  // A drive arriving makes the station scan again; the finished drives stay as they are.
  ASSERT_TRUE(station->bench()->plug("Drive3"));
  ASSERT_TRUE(test::waitUntil([&] { return ends.size() == 3; }));
  ASSERT_TRUE(station->bench()->plug("Drive3") && station->bench()->unplug("Drive3"));
  ASSERT_TRUE(test::waitUntil([&] { return port(2).configured == 0; }));
  engine.stop();
  run.join();

  ASSERT_EQ(ends.size(), 3u);
  std::set<int> slots;
  for (const auto& e : ends.list) slots.insert(e.slot);
  EXPECT_EQ(slots, (std::set<int>{0, 1, 2}));
  EXPECT_TRUE(out.ran);
  EXPECT_EQ(port(0).stepStatus[25], 1);
  EXPECT_EQ(port(1).stepStatus[25], 1);
  EXPECT_EQ(logRows(), 3);
  EXPECT_EQ(counters().TotalTestCount, 3);
}

TEST_F(ContinuousLine, AFirstStopLetsRunningPortsFinishAndTakesNoMoreDrives) {
  open(driveSection(1, 1) + driveSection(2, 2) + driveSection(3, 3, "Plugged=0\n"));
  StepObserver observer;
  RunEngine engine(*station, observer);
  observer.step = "Download";
  observer.action = [&](int) { engine.stop(); };
  Ends ends;
  ContinuousOptions options;
  options.onDriveEnd = [&](const DriveEnd& e) { ends.add(e); };
  options.armHotplug = true;
  engine.startContinuous(options);

  ASSERT_GE(ends.size(), 1u);
  for (const auto& e : ends.list) EXPECT_TRUE(e.pass) << e.slot << " " << e.failureText;
  EXPECT_EQ(logRows(), static_cast<int>(ends.size()));
  EXPECT_EQ(counters().TotalTestCount, static_cast<int>(ends.size()));
  // A drive plugged after the stop is not taken.
  ASSERT_TRUE(station->bench()->plug("Drive3"));
  EXPECT_EQ(port(2).stepStatus[25], 0);
}

TEST_F(ContinuousLine, ASecondStopCutsRunningPortsOffAndStillWritesTheirRowsAndRecords) {
  open(driveSection(1, 1) + driveSection(2, 2));
  StepObserver observer;
  RunEngine engine(*station, observer);
  observer.step = "Download";
  observer.action = [&](int slot) {
    engine.stop();
    engine.stop();
    // This worker goes on only once the run has cut it off.
    EXPECT_TRUE(test::waitUntil([&] { return port(slot).resultCode == kStoppedCode; }));
  };
  Ends ends;
  ContinuousOptions options;
  options.onDriveEnd = [&](const DriveEnd& e) { ends.add(e); };
  options.armHotplug = true;
  engine.startContinuous(options);

  ASSERT_GE(ends.size(), 1u);
  int stopped = 0, passed = 0;
  for (const auto& e : ends.list) {
    // A port whose verdict was out already keeps it.
    if (e.pass) {
      ++passed;
      continue;
    }
    ++stopped;
    EXPECT_EQ(e.resultCode, kStoppedCode);
    EXPECT_EQ(e.failureText, kStoppedText);
  }
  EXPECT_GE(stopped, 1);
  EXPECT_EQ(logRows(), static_cast<int>(ends.size()));
  EXPECT_EQ(counters().TotalTestCount, passed);  // stopped drives stay out of the yield
  std::string error;
  RecordStore* store = station->openRecords(&error);
  ASSERT_NE(store, nullptr) << error;
  EXPECT_EQ(store->query({}, &error).size(), ends.size());
}
