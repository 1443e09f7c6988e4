#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "discovery/HubWalk.h"
#include "discovery/Scanner.h"
#include "Fakes.h"
#include "platform/linux/SysfsDeviceTree.h"
#include "platform/linux/SysfsRemoval.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"

using namespace qk;
namespace fs = std::filesystem;

namespace {

std::string fixture(const std::string& name) { return std::string(QK_TEST_DATA_DIR) + "/sysfs/" + name; }

struct SysfsStation {
  explicit SysfsStation(const std::string& name) : tree(fixture(name)) {}
  test::TempDir dir;
  SysfsDeviceTree tree;
  test::FakeProbe probe;
  test::RecordingOperator op;
  VirtualClock clock;
  Scanner scanner{tree, probe, op, clock, dir.path()};
};

}  // namespace

TEST(SysfsDeviceTree, TwoRootHubsOfFourAndSixPorts) {
  SysfsDeviceTree tree(fixture("two-roots"));
  PortTable t{};
  EXPECT_EQ(HubWalk::run(tree, t), 10);
  for (const auto& r : t) EXPECT_EQ(r.configured, 0);
}

TEST(SysfsDeviceTree, SevenPortHubOnPortTwoShiftsTheDriveOnPortFourToSlotTen) {
  SysfsStation s("ext-hub");
  ASSERT_TRUE(s.scanner.startUp());
  EXPECT_EQ(s.scanner.slotCount(), 11);
  const PortContext& p = s.scanner.ports()[10];
  EXPECT_EQ(p.active, 1);
  EXPECT_EQ(p.devicePath.str(), "/dev/sdb");
  EXPECT_EQ(p.locationKey.str(), "1-4");
  EXPECT_EQ(p.driverKey.str(), "/dev/bus/usb/001/003");
  EXPECT_EQ(p.usbVendorId, 0xabcd);
  EXPECT_EQ(p.usbProductId, 0x1234);
  EXPECT_EQ(p.usbSerial.str(), "QK0001");
  EXPECT_EQ(s.scanner.deviceCount(), 1);
  EXPECT_EQ(s.scanner.configuredCount(), 1);
}

TEST(SysfsDeviceTree, MixedMachineBindsOnlyUsbMassStorageOnWalkedHubs) {
  SysfsDeviceTree tree(fixture("mixed"));
  auto roots = tree.rootHubs();
  ASSERT_TRUE(roots);
  ASSERT_EQ(roots->size(), 2u);  // usb2 is full-speed only
  EXPECT_EQ((*roots)[0]->name, "usb1");
  EXPECT_EQ((*roots)[1]->name, "usb3");
  auto disks = tree.disks();
  ASSERT_TRUE(disks);
  ASSERT_EQ(disks->size(), 7u);  // partitions are not disks
  EXPECT_EQ((*disks)[0].devicePath, "/dev/sda");
  EXPECT_FALSE((*disks)[0].usbStorage);
  EXPECT_TRUE((*disks)[2].usbStorage);  // sdc through uas
  EXPECT_EQ((*disks)[2].parentKey, "1-1.3");

  SysfsStation s("mixed");
  s.probe.codes["/dev/sdg"] = 0;  // an unknown bridge
  ASSERT_TRUE(s.scanner.startUp());
  EXPECT_EQ(s.scanner.slotCount(), 10);
  const auto& ports = s.scanner.ports();
  EXPECT_EQ(ports[1].devicePath.str(), "/dev/sdb");
  EXPECT_EQ(ports[2].devicePath.str(), "/dev/sdc");
  EXPECT_EQ(ports[5].configured, 1);  // the mouse
  EXPECT_EQ(ports[5].active, 0);
  EXPECT_EQ(ports[6].devicePath.str(), "/dev/sdd");  // the first of its two disks
  EXPECT_EQ(ports[9].configured, 1);
  EXPECT_EQ(ports[9].active, 0);
  EXPECT_EQ(s.scanner.configuredCount(), 5);
  EXPECT_EQ(s.scanner.deviceCount(), 3);
  for (const auto& d : s.scanner.deviceList()) {
    EXPECT_NE(d.devicePath, "/dev/sda");
    EXPECT_EQ(d.taken, d.devicePath != "/dev/sde" && d.devicePath != "/dev/sdf") << d.devicePath;
  }
}

TEST(SysfsDeviceTree, MissingTreeCannotBeListed) {
  SysfsDeviceTree tree(fixture("no-such-tree"));
  EXPECT_FALSE(tree.rootHubs());
  EXPECT_FALSE(tree.disks());
}

TEST(SysfsRemoval, DeletesTheScsiDevicesThenRemovesTheUsbDevice) {
  test::TempDir dir;
  fs::copy(fixture("ext-hub"), dir.path() + "sys", fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  SysfsDeviceTree tree(dir.path() + "sys");
  auto disks = tree.disks();
  ASSERT_TRUE(disks && disks->size() == 1u);
  const fs::path usb = (*disks)[0].parentInstance;
  const fs::path scsi = (*disks)[0].diskInstance;
  EXPECT_EQ(scsi.filename(), "3:0:0:0");

  SysfsRemoval removal;
  EXPECT_FALSE(removal.remove(usb.string()));  // no attributes to write: refused
  std::ofstream(usb / "remove").flush();
  std::ofstream(scsi / "delete").flush();
  EXPECT_TRUE(removal.remove(usb.string()));
  auto content = [](const fs::path& p) {
    std::ifstream in(p);
    std::string s;
    std::getline(in, s);
    return s;
  };
  EXPECT_EQ(content(usb / "remove"), "1");
  EXPECT_EQ(content(scsi / "delete"), "1");
  EXPECT_FALSE(removal.remove(""));
}

// The shape of /sys in the virtual-machine test's guest (QEMU's xHCI with a
// hub, a tablet and two usb-storage drives), captured by tests/vm.
TEST(SysfsDeviceTree, QemuGuestTopologyNumbersHubTabletAndDrives) {
  SysfsDeviceTree tree(fixture("qemu-guest"));
  auto roots = tree.rootHubs();
  ASSERT_TRUE(roots);
  ASSERT_EQ(roots->size(), 2u);
  EXPECT_EQ((*roots)[0]->ports.size(), 4u);
  ASSERT_EQ((*roots)[0]->ports[1].state, PortDesc::State::Hub);
  EXPECT_EQ((*roots)[0]->ports[1].hub->ports.size(), 8u);
  EXPECT_EQ((*roots)[1]->ports[3].device.serial, "QEMUD1");
  EXPECT_EQ((*roots)[1]->ports[3].device.driverKey, "/dev/bus/usb/002/002");

  auto disks = tree.disks();
  ASSERT_TRUE(disks);
  ASSERT_EQ(disks->size(), 2u);
  EXPECT_EQ((*disks)[0].devicePath, "/dev/sda");
  EXPECT_EQ((*disks)[0].parentKey, "2-4");
  EXPECT_TRUE((*disks)[0].usbStorage);
  EXPECT_EQ(fs::path((*disks)[0].diskInstance).filename(), "0:0:0:0");
  EXPECT_EQ(fs::path((*disks)[0].parentInstance).filename(), "2-4");
  EXPECT_EQ((*disks)[1].parentKey, "1-2.3");

  SysfsStation s("qemu-guest");
  s.probe.codes["/dev/sda"] = 0;  // QEMU's INQUIRY token is no bridge of the table
  s.probe.codes["/dev/sdb"] = 0;
  ASSERT_TRUE(s.scanner.startUp());
  EXPECT_EQ(s.scanner.slotCount(), 16);
  const auto& ports = s.scanner.ports();
  // The hub on root port 2 takes slots 1..8; root port 3 moves up to slot 11.
  EXPECT_EQ(ports[2].locationKey.str(), "1-2.3");
  EXPECT_EQ(ports[2].devicePath.str(), "/dev/sdb");
  EXPECT_EQ(ports[10].locationKey.str(), "1-3");
  EXPECT_EQ(ports[10].devicePath.str(), "");
  EXPECT_EQ(ports[15].locationKey.str(), "2-4");
  EXPECT_EQ(ports[15].devicePath.str(), "/dev/sda");
  EXPECT_EQ(s.scanner.configuredCount(), 3);
  EXPECT_EQ(s.scanner.deviceCount(), 0);
}
