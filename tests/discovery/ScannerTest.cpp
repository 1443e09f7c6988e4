#include <gtest/gtest.h>

#include "discovery/SafeRemoval.h"
#include "discovery/Scanner.h"
#include "Fakes.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"

using namespace qk;
using qk::test::FakeProbe;
using qk::test::FakeRemoval;
using qk::test::FakeTree;
using qk::test::RecordingOperator;

namespace {

// One root hub of 4 ports with a 4-port hub on port 1: the hub's ports are
// slots 0..3, root ports 2..4 are slots 5..7.
struct Station {
  test::TempDir dir;
  FakeTree tree;
  FakeProbe probe;
  RecordingOperator op;
  VirtualClock clock;
  Scanner scanner{tree, probe, op, clock, dir.path()};
  std::shared_ptr<HubDesc> root = tree.addRoot("usb1", 4);
  std::shared_ptr<HubDesc> ext = FakeTree::addHub(*root, 1, "1-1", 4);

  void drive(HubDesc& hub, int port, const std::string& key, const std::string& path,
             const std::string& serial = "0001") {
    FakeTree::plug(hub, port, key, serial);
    tree.addDisk(key, path);
    probe.capacity[path] = 2048u * 1000u + 7u;
  }
  void pull(HubDesc& hub, int port, const std::string& path) {
    FakeTree::unplug(hub, port);
    tree.removeDisk(path);
  }
  const PortContext& port(int slot) const { return scanner.ports()[slot]; }
};

}  // namespace

TEST(Scanner, StartUpScanBindsDrivesReadsCapacityAndEnablesStart) {
  Station s;
  s.drive(*s.ext, 2, "1-1.2", "/dev/sdb");
  s.drive(*s.root, 3, "1-3", "/dev/sdc");
  s.probe.codes["/dev/sdc"] = 1;
  FakeTree::plug(*s.root, 4, "1-4");  // a mouse: configured, no disk
  ASSERT_TRUE(s.scanner.startUp());
  EXPECT_EQ(s.scanner.slotCount(), 8);
  EXPECT_EQ(s.scanner.configuredCount(), 3);
  EXPECT_EQ(s.scanner.deviceCount(), 2);
  EXPECT_EQ(s.port(1).devicePath.str(), "/dev/sdb");
  EXPECT_EQ(s.port(1).active, 1);
  EXPECT_EQ(s.port(1).capacityMB, 1000);
  EXPECT_EQ(s.port(6).bridgeCode, 1);
  EXPECT_EQ(s.port(7).configured, 1);
  EXPECT_EQ(s.port(7).active, 0);
  EXPECT_EQ(s.probe.bridgeModes, (std::vector<std::pair<int, bool>>{{1, true}, {6, true}}));
  EXPECT_TRUE(s.scanner.startEnabled());
  EXPECT_TRUE(s.op.messages.empty());
}

TEST(Scanner, UnknownBridgeIsConfiguredButNotCounted) {
  Station s;
  s.drive(*s.root, 2, "1-2", "/dev/sdb");
  s.drive(*s.root, 3, "1-3", "/dev/sdc");
  s.probe.codes["/dev/sdc"] = 0;
  s.scanner.setSettings({2, false, true});
  s.scanner.startUp();
  EXPECT_EQ(s.scanner.configuredCount(), 2);
  EXPECT_EQ(s.scanner.deviceCount(), 1);
  EXPECT_EQ(s.port(6).active, 0);
  EXPECT_EQ(s.port(6).capacityMB, 0);
  EXPECT_FALSE(s.scanner.startEnabled());
}

TEST(Scanner, ConnectCheckAndFilesReadyDecideStart) {
  EXPECT_FALSE(ConnectCountAcceptable(0, 0));
  EXPECT_TRUE(ConnectCountAcceptable(3, 0));
  EXPECT_TRUE(ConnectCountAcceptable(3, 3));
  EXPECT_FALSE(ConnectCountAcceptable(2, 3));

  Station s;
  s.drive(*s.root, 2, "1-2", "/dev/sdb");
  s.drive(*s.root, 3, "1-3", "/dev/sdc");
  s.scanner.setSettings({3, false, true});
  s.scanner.startUp();
  EXPECT_FALSE(s.scanner.startEnabled());
  s.scanner.setSettings({0, false, true});  // "Don't Care", then a rescan
  s.scanner.scanDevices(false);
  EXPECT_TRUE(s.scanner.startEnabled());
  s.scanner.setSettings({0, false, false});
  s.scanner.scanDevices(false);
  EXPECT_FALSE(s.scanner.startEnabled());

  s.pull(*s.root, 2, "/dev/sdb");
  s.pull(*s.root, 3, "/dev/sdc");
  s.scanner.setSettings({0, false, true});
  s.scanner.scanDevices(false);
  EXPECT_FALSE(s.scanner.startEnabled());  // nothing found at all
  EXPECT_EQ(s.scanner.deviceCount(), 0);
  EXPECT_EQ(s.scanner.configuredCount(), 0);
}

TEST(Scanner, RescanKeepsAPresentDriveAndClearsAnEmptiedPort) {
  Station s;
  s.drive(*s.root, 2, "1-2", "/dev/sdb");
  s.drive(*s.root, 3, "1-3", "/dev/sdc");
  s.scanner.startUp();
  for (int slot : {5, 6}) {
    PortContext& r = s.scanner.ports()[slot];
    r.resultCode = 3;
    r.stepStatus[25] = -1;
    r.serialNumber.assign("SN" + std::to_string(slot));
  }
  s.pull(*s.root, 3, "/dev/sdc");
  s.scanner.scanDevices(false);
  EXPECT_EQ(s.port(5).resultCode, 3);
  EXPECT_EQ(s.port(5).stepStatus[25], -1);
  EXPECT_EQ(s.port(5).serialNumber.str(), "SN5");
  EXPECT_EQ(s.port(5).active, 1);
  EXPECT_EQ(s.port(6).configured, 0);
  EXPECT_EQ(s.port(6).resultCode, 0);
  EXPECT_TRUE(s.port(6).serialNumber.empty());
  EXPECT_TRUE(s.port(6).devicePath.empty());
  EXPECT_EQ(s.scanner.deviceCount(), 1);
}

TEST(Scanner, RescanClearsThePortOfADifferentDriveButNotOfARenamedDisk) {
  Station s;
  s.scanner.setSettings({0, true, true});
  s.drive(*s.root, 2, "1-2", "/dev/sdb", "AAAA");
  s.drive(*s.root, 3, "1-3", "/dev/sdc", "CCCC");
  s.op.answers = {"BAR-1", "BAR-2"};
  s.scanner.startUp();
  ASSERT_EQ(s.scanner.barcodeSerial(5), "BAR-1");
  for (int slot : {5, 6}) {
    s.scanner.ports()[slot].resultCode = 7;
    s.scanner.ports()[slot].stepStatus[25] = 1;
  }
  // Swapped while notifications were ignored: another USB serial on port 2.
  // Port 3 keeps its drive, enumerated anew under another disk node.
  s.pull(*s.root, 2, "/dev/sdb");
  s.drive(*s.root, 2, "1-2", "/dev/sdd", "BBBB");
  s.tree.removeDisk("/dev/sdc");
  s.tree.addDisk("1-3", "/dev/sde");
  s.op.answers = {"BAR-3", "BAR-4"};
  s.scanner.scanDevices(false);
  EXPECT_EQ(s.port(5).resultCode, 0);
  EXPECT_EQ(s.port(5).stepStatus[25], 0);
  EXPECT_EQ(s.port(6).resultCode, 7);
  EXPECT_EQ(s.port(6).stepStatus[25], 1);
  for (int slot : {5, 6}) EXPECT_EQ(s.port(slot).active, 1) << slot;
  EXPECT_EQ(s.port(5).usbSerial.str(), "BBBB");
  EXPECT_EQ(s.port(5).devicePath.str(), "/dev/sdd");
  EXPECT_EQ(s.port(6).devicePath.str(), "/dev/sde");
  EXPECT_EQ(s.port(5).serialNumber.str(), "BAR-3");  // asked again, not inherited
  EXPECT_EQ(s.scanner.barcodeSerial(6), "BAR-2");     // its bar code stands: not asked again
  EXPECT_EQ(s.op.questions.size(), 3u);
}

TEST(Scanner, BarcodePromptAsksOncePerNewDrive) {
  Station s;
  s.scanner.setSettings({0, true, true});
  s.drive(*s.root, 2, "1-2", "/dev/sdb");
  s.drive(*s.root, 3, "1-3", "/dev/sdc");
  s.probe.codes["/dev/sdc"] = 0;  // not ours: never asked
  s.op.answers = {std::nullopt};  // cancelled
  s.scanner.startUp();
  ASSERT_EQ(s.op.questions, (std::vector<std::string>{"Please Input the Serial Number (Port6)|Serial Number"}));
  EXPECT_TRUE(s.port(5).serialNumber.empty());
  s.op.answers = {"QK123"};
  s.scanner.scanDevices(false);  // a cancelled box asks again
  EXPECT_EQ(s.port(5).serialNumber.str(), "QK123");
  EXPECT_EQ(s.scanner.barcodeSerial(5), "QK123");
  s.scanner.scanDevices(false);
  EXPECT_EQ(s.op.questions.size(), 2u);
  EXPECT_FALSE(s.scanner.promptOpen());
}

TEST(Scanner, StartUpRefusesMoreThanFiftySlots) {
  for (int ports : {50, 51}) {
    test::TempDir dir;
    FakeTree tree;
    FakeProbe probe;
    RecordingOperator op;
    VirtualClock clock;
    Scanner scanner(tree, probe, op, clock, dir.path());
    auto root = tree.addRoot("usb1", 10);
    auto ext = FakeTree::addHub(*root, 10, "1-10", ports - 10);
    FakeTree::plug(*ext, ports - 10, "last");
    tree.addDisk("last", "/dev/sdz");
    bool ok = scanner.startUp();
    EXPECT_EQ(scanner.slotCount(), ports);
    if (ports == 50) {
      EXPECT_TRUE(ok);
      EXPECT_TRUE(op.messages.empty());
      EXPECT_EQ(scanner.ports()[39].active, 1);  // the hub's port 40
    } else {
      EXPECT_FALSE(ok);
      ASSERT_EQ(op.texts(),
                (std::vector<std::string>{"Up to the limitation of total port number(50), Please remove the usb hub"}));
    }
  }
}

TEST(Scanner, HubPluggedAfterStartUpAddsNoSlots) {
  Station s;
  s.scanner.startUp();
  auto late = FakeTree::addHub(*s.root, 4, "1-4", 8);  // slots 4..11, beyond the 8 built
  s.drive(*late, 1, "1-4.1", "/dev/sdb");
  s.drive(*late, 6, "1-4.6", "/dev/sdc");
  s.scanner.scanDevices(false);
  EXPECT_EQ(s.scanner.slotCount(), 8);
  EXPECT_EQ(s.port(4).active, 1);
  EXPECT_EQ(s.port(9).configured, 0);
  EXPECT_EQ(s.scanner.deviceCount(), 1);
}

TEST(Scanner, NotificationsLeadToOneDelayedRescan) {
  Station s;
  s.scanner.startUp();
  s.drive(*s.root, 2, "1-2", "/dev/sdb");
  const int walks = s.tree.walks;
  for (int i = 0; i < 4; ++i) {  // four arrivals within a second
    s.scanner.onDeviceChange(DeviceChange::Arrival);
    EXPECT_FALSE(s.scanner.startEnabled());
    s.clock.advance(300);
    EXPECT_FALSE(s.scanner.pollRescan());
  }
  s.clock.advance(1199);  // 1499 ms after the last
  EXPECT_FALSE(s.scanner.pollRescan());
  s.clock.advance(1);
  EXPECT_TRUE(s.scanner.pollRescan());
  EXPECT_FALSE(s.scanner.pollRescan());
  EXPECT_EQ(s.tree.walks, walks + 1);
  EXPECT_EQ(s.scanner.deviceCount(), 1);
  EXPECT_TRUE(s.scanner.startEnabled());

  s.pull(*s.root, 2, "/dev/sdb");
  s.scanner.onDeviceChange(DeviceChange::Removal);
  s.clock.advance(199);
  EXPECT_FALSE(s.scanner.pollRescan());
  s.clock.advance(1);
  EXPECT_TRUE(s.scanner.pollRescan());
  EXPECT_EQ(s.scanner.deviceCount(), 0);

  s.scanner.setRunning(true);  // ignored during a run
  s.scanner.onDeviceChange(DeviceChange::Arrival);
  s.clock.advance(5000);
  EXPECT_FALSE(s.scanner.pollRescan());
}

TEST(SafeRemoval, RemovesAllActiveDrivesWithRetries) {
  Station s;
  s.drive(*s.ext, 1, "1-1.1", "/dev/sdb");
  s.drive(*s.root, 2, "1-2", "/dev/sdc");
  s.drive(*s.root, 3, "1-3", "/dev/sdd");
  s.probe.codes["/dev/sdd"] = 0;  // inactive: not removed
  s.scanner.startUp();
  FakeRemoval removal;
  removal.refusals["usb:1-2"] = 2;
  removal.onRemoved = [&](const std::string& inst) {
    if (inst == "usb:1-1.1") s.pull(*s.ext, 1, "/dev/sdb");
    if (inst == "usb:1-2") s.pull(*s.root, 2, "/dev/sdc");
  };
  EXPECT_TRUE(SafeRemoval::removeAll(s.scanner, removal, s.op));
  EXPECT_EQ(removal.attempts["usb:1-1.1"], 1);
  EXPECT_EQ(removal.attempts["usb:1-2"], 3);
  EXPECT_EQ(removal.attempts.count("usb:1-3"), 0u);
  EXPECT_EQ(s.scanner.deviceCount(), 0);
  EXPECT_TRUE(s.op.messages.empty());
  EXPECT_GE(s.clock.totalSlept(), 1000);
}

TEST(SafeRemoval, GivesUpAfterFiveAttemptsAndWarns) {
  Station s;
  s.drive(*s.root, 2, "1-2", "/dev/sdc");
  s.scanner.startUp();
  FakeRemoval removal;
  removal.refusals["usb:1-2"] = 100;
  EXPECT_FALSE(SafeRemoval::removeAll(s.scanner, removal, s.op));
  EXPECT_EQ(removal.attempts["usb:1-2"], 5);
  EXPECT_EQ(s.clock.totalSlept(), 4 * 500);
  ASSERT_EQ(s.op.messages.size(), 1u);
  EXPECT_EQ(s.op.messages[0].text, "Unable to remove all device!");
  EXPECT_EQ(s.op.messages[0].caption, "Warning");
  EXPECT_EQ(s.op.messages[0].icon, MessageIcon::Warning);

  Station idle;  // nothing active: nothing happens
  idle.scanner.startUp();
  const int walks = idle.tree.walks;
  EXPECT_TRUE(SafeRemoval::removeAll(idle.scanner, removal, idle.op));
  EXPECT_EQ(idle.tree.walks, walks);
}
