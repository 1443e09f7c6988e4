#include <gtest/gtest.h>

#include "discovery/BindSlot.h"
#include "discovery/DeviceList.h"
#include "discovery/HubWalk.h"
#include "Fakes.h"
#include "support/TempDir.h"

using namespace qk;
using qk::test::FakeProbe;
using qk::test::FakeTree;

namespace {
std::vector<int> configuredSlots(const PortTable& t) {
  std::vector<int> out;
  for (int i = 0; i < SlotLimit; ++i)
    if (t[i].configured) out.push_back(i);
  return out;
}
}  // namespace

TEST(HubWalk, RootHubsNumberTheirPortsOneAfterAnother) {
  FakeTree tree;
  auto r1 = tree.addRoot("usb1", 4);
  auto r2 = tree.addRoot("usb2", 6);
  FakeTree::plug(*r1, 4, "1-4");
  FakeTree::plug(*r2, 1, "2-1");
  FakeTree::plug(*r2, 6, "2-6");
  PortTable t{};
  EXPECT_EQ(HubWalk::run(tree, t), 10);
  EXPECT_EQ(configuredSlots(t), (std::vector<int>{3, 4, 9}));
  EXPECT_EQ(t[4].locationKey.str(), "2-1");
  EXPECT_EQ(t[4].driverKey.str(), "drv:2-1");
  EXPECT_EQ(t[4].usbVendorId, 0x1234);
  EXPECT_EQ(t[4].usbSerial.str(), "0001");
}

TEST(HubWalk, ExternalHubTakesTheBaseAndShiftsLaterRootPorts) {
  FakeTree tree;
  auto root = tree.addRoot("usb1", 4);
  auto ext = FakeTree::addHub(*root, 2, "1-2", 7);
  FakeTree::plug(*root, 4, "1-4");
  FakeTree::plug(*ext, 7, "1-2.7");
  PortTable t{};
  EXPECT_EQ(HubWalk::run(tree, t), 11);
  EXPECT_EQ(configuredSlots(t), (std::vector<int>{6, 10}));
  EXPECT_EQ(t[10].locationKey.str(), "1-4");
}

TEST(HubWalk, LaterWalkedExternalPortOverwritesTheRootPortOfTheSameNumber) {
  FakeTree tree;
  auto root = tree.addRoot("usb1", 4);
  FakeTree::plug(*root, 1, "1-1", "root-dev");
  auto ext = FakeTree::addHub(*root, 2, "1-2", 4);
  FakeTree::plug(*ext, 1, "1-2.1", "hub-dev");
  PortTable t{};
  EXPECT_EQ(HubWalk::run(tree, t), 8);
  EXPECT_EQ(t[0].locationKey.str(), "1-2.1");
  EXPECT_EQ(t[0].usbSerial.str(), "hub-dev");
}

TEST(HubWalk, SkippedHubsAndMissingKeys) {
  FakeTree tree;
  auto r1 = tree.addRoot("usb1", 4);
  r1->readable = false;
  auto r2 = tree.addRoot("usb2", 3);
  auto ext = FakeTree::addHub(*r2, 1, "2-1", 4);
  ext->readable = false;  // no slots, no shift
  FakeTree::plug(*r2, 2, "");  // no instance identifier: configured, no key
  PortTable t{};
  EXPECT_EQ(HubWalk::run(tree, t), 3);
  EXPECT_EQ(t[1].configured, 1);
  EXPECT_TRUE(t[1].locationKey.empty());
  EXPECT_TRUE(t[1].driverKey.empty());

  tree.hubsFail = true;
  PortTable t2{};
  EXPECT_EQ(HubWalk::run(tree, t2), 0);
}

TEST(HubWalk, StopsAtItsLimitsInsteadOfOverflowing) {
  FakeTree tree;
  for (int i = 1; i <= 90; ++i) FakeTree::plug(*tree.addRoot("usb" + std::to_string(i), 1), 1, "k" + std::to_string(i));
  PortTable t{};
  EXPECT_EQ(HubWalk::run(tree, t), HubWalk::HubLimit);  // hubs past 80 are not walked
  EXPECT_EQ(configuredSlots(t).size(), static_cast<size_t>(SlotLimit));  // slots past the table are not written
  EXPECT_EQ(t[SlotLimit - 1].locationKey.str(), "k50");
}

TEST(EnumerateDisks, KeepsOnlyUsbMassStorageUpToTheCapacity) {
  test::TempDir dir;
  NamedLock lock("QKUSBAcess", dir.path());
  FakeTree tree;
  tree.addDisk("USB\\VID_1&PID_2\\X", "/dev/sdb");
  tree.addDisk("", "/dev/sda", false);  // a disk on a SATA port
  for (int i = 0; i < 300; ++i) tree.addDisk("k" + std::to_string(i), "/dev/x" + std::to_string(i));
  std::vector<DeviceRecord> list;
  ASSERT_TRUE(EnumerateDisks(tree, lock, list, DeviceListLimit));
  ASSERT_EQ(list.size(), static_cast<size_t>(DeviceListLimit));
  EXPECT_EQ(list[0].parentId, "usb\\vid_1&pid_2\\x");
  EXPECT_EQ(list[1].devicePath, "/dev/x0");

  tree.disksFail = true;
  EXPECT_FALSE(EnumerateDisks(tree, lock, list, DeviceListLimit));
  EXPECT_TRUE(list.empty());
}

TEST(BindSlot, MatchesTheFirstUntakenDiskOfItsDeviceIgnoringCase) {
  FakeProbe probe;
  std::vector<DeviceRecord> list{{"other", "/dev/sdc", "", "", false},
                                 {"usb\\vid_abcd&pid_1234\\s1", "/dev/sdb", "d1", "u1", false},
                                 {"usb\\vid_abcd&pid_1234\\s1", "/dev/sdd", "d2", "u1", false}};
  PortContext rec;
  rec.configured = 1;
  rec.locationKey.assign("USB\\VID_ABCD&PID_1234\\S1");
  EXPECT_TRUE(BindSlot(rec, 3, list, probe));
  EXPECT_EQ(rec.devicePath.str(), "/dev/sdb");
  EXPECT_EQ(rec.usbInstance.str(), "u1");
  EXPECT_EQ(rec.locationKey.str(), "usb\\vid_abcd&pid_1234\\s1");
  EXPECT_EQ(rec.active, 1);
  EXPECT_EQ(rec.bridgeCode, 10);
  EXPECT_TRUE(list[1].taken);
  EXPECT_FALSE(list[2].taken);  // one disk per slot
  EXPECT_EQ(probe.portPath[3], "/dev/sdb");
  EXPECT_EQ(probe.selected, (std::vector<std::string>{"/dev/sdb"}));
}

TEST(BindSlot, UnknownBridgeStaysInactiveAndEmptyKeyMatchesNothing) {
  FakeProbe probe;
  probe.codes["/dev/sdb"] = 0;
  std::vector<DeviceRecord> list{{"", "/dev/sda", "", "", false}, {"1-4", "/dev/sdb", "", "", false}};
  PortContext noKey;
  noKey.configured = 1;
  EXPECT_FALSE(BindSlot(noKey, 0, list, probe));
  EXPECT_FALSE(list[0].taken);
  PortContext rec;
  rec.locationKey.assign("1-4");
  EXPECT_TRUE(BindSlot(rec, 1, list, probe));
  EXPECT_EQ(rec.active, 0);
  EXPECT_EQ(rec.bridgeCode, 0);
}

TEST(BindSlot, PathKindFollowsThePathInOrder) {
  EXPECT_EQ(PathKindOf("\\\\?\\IDE#Disk"), 1);
  EXPECT_EQ(PathKindOf("\\\\?\\scsi#ide"), 1);
  EXPECT_EQ(PathKindOf("\\\\?\\SCSI#disk"), 2);
  EXPECT_EQ(PathKindOf("\\\\?\\USBSTOR#Disk&Ven_X"), 3);
  EXPECT_EQ(PathKindOf("/dev/sdb"), 0);
}
