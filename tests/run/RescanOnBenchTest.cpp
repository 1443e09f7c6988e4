// Rescans after a run on the bench: drives still plugged in keep their record
// (verdict, run serial) even when a download made them enumerate anew, while
// a drive swapped onto a port starts from a fresh one.
#include <gtest/gtest.h>

#include "config/IniFile.h"
#include "run/RunEngine.h"
#include "sim/SampleData.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"

using namespace qk;

namespace {

std::string driveSection(int n, int port, const std::string& extra = "") {
  return "[Drive" + std::to_string(n) + "]\nAt=Hub1:" + std::to_string(port) +
         "\nToken=R20X\nFlash=WBG\nChannel=4\nBank=2\nState=formatted\nUsbSerial=ROM" + std::to_string(n) + "\n" +
         extra;
}

struct AfterARun : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(WriteSampleData(home.path()));
    home.write("t.bench", "[Hub1]\nParent=root\nKind=usb2\nPorts=4\n" + driveSection(1, 1) + driveSection(2, 2) +
                              driveSection(3, 3) + driveSection(4, 3, "Plugged=0\n"));
    IniFile ini = IniFile::load(home.file("QKMassProd.ini"));
    ini.setInt("TestItems", "EnFlashModule", 0);
    ini.setInt("TestItems", "EnDownload", 1);
    ini.setInt("TestItems", "DownloadType", 2);
    ini.setInt("DeviceSetting", "SNAutoInc", 1);
    ini.setString("DeviceSetting", "SerialNum", "QK0000000100");
    ASSERT_TRUE(ini.save(home.file("QKMassProd.ini")));
    station = std::make_unique<Station>(ProgramFolder(home.path()), op);
    ASSERT_EQ(station->startUp("", home.file("t.bench"), &clock), Station::StartResult::Ok);
    RunObserver observer;
    RunEngine engine(*station, observer);
    const RunOutcome out = engine.start({});
    ASSERT_TRUE(out.ran);
    for (int slot = 0; slot < 3; ++slot) ASSERT_EQ(port(slot).stepStatus[25], 1) << slot;
  }

  PortContext port(int slot) {
    std::lock_guard lock(station->scanner().scanLock());
    return station->scanner().ports()[static_cast<std::size_t>(slot)];
  }
  void rescan() { station->scanner().scanDevices(false); }

  test::TempDir home;
  test::RecordingOperator op;
  VirtualClock clock;
  std::unique_ptr<Station> station;
};

}  // namespace

TEST_F(AfterARun, ARescanKeepsTheRecordsOfDrivesThatEnumeratedAnewAfterTheirDownload) {
  const std::string serial = port(0).serialNumber.str();
  ASSERT_FALSE(serial.empty());
  // Each drive restarts into its new firmware and is enumerated anew, between two scans.
  for (const char* name : {"Drive1", "Drive2", "Drive3"}) {
    ASSERT_TRUE(station->bench()->unplug(name));
    ASSERT_TRUE(station->bench()->plug(name));
  }
  rescan();
  for (int slot = 0; slot < 3; ++slot) {
    const PortContext r = port(slot);
    // The download gave the drive new USB strings: it is on the bus anew.
    EXPECT_NE(r.usbSerial.str(), "ROM" + std::to_string(slot + 1)) << slot;
    EXPECT_EQ(r.stepStatus[25], 1) << slot;
    EXPECT_EQ(r.active, 1) << slot;
  }
  EXPECT_EQ(port(0).serialNumber.str(), serial);
  // And a second rescan changes nothing either.
  rescan();
  EXPECT_EQ(port(1).stepStatus[25], 1);
}

TEST_F(AfterARun, UnpluggingOneDriveLeavesTheOtherSlotsAlone) {
  ASSERT_TRUE(station->bench()->unplug("Drive2"));
  rescan();
  EXPECT_EQ(port(1).configured, 0);
  EXPECT_EQ(port(1).stepStatus[25], 0);
  EXPECT_EQ(port(0).stepStatus[25], 1);
  EXPECT_EQ(port(2).stepStatus[25], 1);
  EXPECT_FALSE(port(2).serialNumber.empty());
}

TEST_F(AfterARun, ADriveSwappedInBetweenTwoScansStartsAfresh) {
  const std::string kept = port(0).serialNumber.str();
  ASSERT_TRUE(station->bench()->unplug("Drive3"));
  ASSERT_TRUE(station->bench()->plug("Drive4"));
  rescan();
  EXPECT_EQ(port(2).active, 1);
  EXPECT_EQ(port(2).usbSerial.str(), "ROM4");
  EXPECT_EQ(port(2).stepStatus[25], 0);
  EXPECT_TRUE(port(2).serialNumber.empty());
  EXPECT_EQ(port(0).stepStatus[25], 1);
  EXPECT_EQ(port(0).serialNumber.str(), kept);
  // Two drives never share a port on the bench.
  EXPECT_FALSE(station->bench()->plug("Drive3"));
}
