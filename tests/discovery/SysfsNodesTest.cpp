#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "discovery/Scanner.h"
#include "Fakes.h"
#include "platform/linux/SysfsDeviceTree.h"
#include "platform/linux/SysfsRemoval.h"
#include "platform/linux/UdevHotplug.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"

using namespace qk;
namespace fs = std::filesystem;

namespace {

std::string fixture(const std::string& name) { return std::string(QK_TEST_DATA_DIR) + "/sysfs/" + name; }

std::vector<std::string> rootNames(SysfsDeviceTree& tree) {
  std::vector<std::string> out;
  auto roots = tree.rootHubs();
  if (roots) {
    for (const auto& h : *roots) out.push_back(h->name);
  }
  return out;
}

}  // namespace

// usb1 has the lowest bus number but sits on the controller with the higher
// PCI address; the chipset's high-speed hub comes before its super-speed one.
TEST(SysfsStableOrder, RootHubsFollowControllerPathNotBusNumber) {
  SysfsDeviceTree tree(fixture("stable-order"));
  EXPECT_EQ(rootNames(tree), (std::vector<std::string>{"usb2", "usb3", "usb1"}));

  test::TempDir dir;
  test::FakeProbe probe;
  test::RecordingOperator op;
  VirtualClock clock;
  Scanner scanner{tree, probe, op, clock, dir.path()};
  ASSERT_TRUE(scanner.startUp());
  EXPECT_EQ(scanner.slotCount(), 7);
  const auto& ports = scanner.ports();
  EXPECT_EQ(ports[2].devicePath.str(), "/dev/sdc");
  EXPECT_EQ(ports[5].devicePath.str(), "/dev/sdb");
  // The CD-ROM's port is configured but has no disk to bind.
  EXPECT_EQ(ports[1].configured, 1);
  EXPECT_EQ(ports[1].active, 0);
  EXPECT_EQ(scanner.deviceCount(), 2);
}

TEST(SysfsStableOrder, OnlyDirectAccessDisksAreListed) {
  SysfsDeviceTree tree(fixture("stable-order"));
  auto disks = tree.disks();
  ASSERT_TRUE(disks);
  std::vector<std::string> nodes;
  for (const auto& d : *disks) nodes.push_back(d.devicePath);
  EXPECT_EQ(nodes, (std::vector<std::string>{"/dev/sdb", "/dev/sdc"}));
}

namespace {

// A copy of the ext-hub tree whose disk sdb has one partition, sdb1.
struct RemovalTree {
  RemovalTree() {
    fs::copy(fixture("ext-hub"), sys(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    SysfsDeviceTree tree(sys());
    auto disks = tree.disks();
    usb = (*disks)[0].parentInstance;
    scsi = (*disks)[0].diskInstance;
    const fs::path block = scsi / "block/sdb";
    fs::create_directories(block / "sdb1");
    std::ofstream(block / "sdb1/partition") << "1\n";
    fs::create_directories(sys() + "/block");
    fs::create_symlink(block, sys() + "/block/sdb");
    std::ofstream(usb / "remove").flush();
    std::ofstream(scsi / "delete").flush();
  }
  std::string sys() const { return dir.path() + "sys"; }
  std::string mounts(const std::string& lines) const {
    dir.write("mounts", lines);
    return dir.file("mounts");
  }
  std::string written(const fs::path& p) const {
    std::ifstream in(p);
    std::string s;
    std::getline(in, s);
    return s;
  }
  test::TempDir dir;
  fs::path usb, scsi;
};

}  // namespace

TEST(SysfsRemovalUnderMount, MountedPartitionOrDiskRefusesAndTouchesNothing) {
  for (const char* source : {"/dev/sdb1", "/dev/sdb"}) {
    RemovalTree t;
    SysfsRemoval removal(t.sys(), t.mounts(std::string("/dev/sda2 / ext4 rw 0 0\n") + source +
                                           " /media/line\\040one vfat rw 0 0\n"));
    EXPECT_FALSE(removal.remove(t.usb.string())) << source;
    EXPECT_EQ(t.written(t.scsi / "delete"), "") << source;
    EXPECT_EQ(t.written(t.usb / "remove"), "") << source;
  }
}

TEST(SysfsRemovalUnderMount, UnmountedDiskIsRemoved) {
  RemovalTree t;
  SysfsRemoval removal(t.sys(), t.mounts("/dev/sda2 / ext4 rw 0 0\n/dev/sdbb1 /mnt vfat rw 0 0\n"));
  EXPECT_TRUE(removal.remove(t.usb.string()));
  EXPECT_EQ(t.written(t.scsi / "delete"), "1");
  EXPECT_EQ(t.written(t.usb / "remove"), "1");
}

// The disk shows up a second or more after its USB device: its arrival, and
// that of its generic node, must restart the rescan delay too.
TEST(UdevHotplugEvents, DiskAndGenericNodeArrivalsCountAsArrivals) {
  EXPECT_EQ(UdevHotplug::classify("usb", "usb_device", "add"), DeviceChange::Arrival);
  EXPECT_EQ(UdevHotplug::classify("block", "disk", "add"), DeviceChange::Arrival);
  EXPECT_EQ(UdevHotplug::classify("scsi_generic", nullptr, "add"), DeviceChange::Arrival);
  EXPECT_EQ(UdevHotplug::classify("block", "disk", "remove"), DeviceChange::Removal);
  // Interfaces, partitions and the station's own change events start no rescan.
  EXPECT_EQ(UdevHotplug::classify("usb", "usb_interface", "add"), std::nullopt);
  EXPECT_EQ(UdevHotplug::classify("block", "partition", "add"), std::nullopt);
  EXPECT_EQ(UdevHotplug::classify("block", "disk", "change"), std::nullopt);
  EXPECT_EQ(UdevHotplug::classify("block", nullptr, "add"), std::nullopt);
}
