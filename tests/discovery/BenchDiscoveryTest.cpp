#include <gtest/gtest.h>

#include "discovery/SafeRemoval.h"
#include "discovery/Scanner.h"
#include "discovery/TransportProbe.h"
#include "platform/bench/BenchDeviceTree.h"
#include "sim/Bench.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"
#include "transport/DeviceTransport.h"

using namespace qk;

namespace {

// A station on a bench file, on virtual time.
struct BenchStation {
  explicit BenchStation(const std::string& text) {
    dir.write("test.bench", text);
    sim::BenchOptions options;
    options.clock = &clock;
    std::string error;
    bench = sim::Bench::load(dir.file("test.bench"), options, error);
    if (!bench) throw std::runtime_error(error);
    tree = std::make_unique<BenchDeviceTree>(*bench);
    transport = std::make_unique<DeviceTransport>(bench->passThrough(), bench->clock(), state);
    probe = std::make_unique<TransportProbe>(*transport);
    scanner = std::make_unique<Scanner>(*tree, *probe, op, clock, dir.path());
  }
  const PortContext& port(int slot) const { return scanner->ports()[slot]; }

  test::TempDir dir;
  VirtualClock clock;
  std::unique_ptr<sim::Bench> bench;
  TransportState state;
  std::unique_ptr<BenchDeviceTree> tree;
  std::unique_ptr<DeviceTransport> transport;
  std::unique_ptr<TransportProbe> probe;
  test::RecordingOperator op;
  std::unique_ptr<Scanner> scanner;
};

std::string drive(int n, const std::string& at, const std::string& token, const std::string& extra = "") {
  return "[Drive" + std::to_string(n) + "]\nAt=" + at + "\nToken=" + token + "\nFlash=WBG\nUsbSerial=S" +
         std::to_string(n) + "\n" + extra;
}

}  // namespace

TEST(BenchDiscovery, NumberingExampleAndBothPaths) {
  BenchStation s("[Hub1]\nParent=root\nKind=usb2\nPorts=4\n"
                 "[Hub2]\nParent=Hub1:2\nPorts=7\n"
                 "[Hub3]\nParent=root\nKind=usb1\nPorts=2\n" +
                 drive(1, "Hub1:4", "k402", "Sectors=2048000\n") + drive(2, "Hub2:5", "R20X", "Sectors=2048000\n") +
                 drive(3, "Hub2:6", "X99Z") + drive(4, "Hub3:1", "k404") + "[Device1]\nAt=Hub2:1\n");
  ASSERT_TRUE(s.scanner->startUp());
  EXPECT_EQ(s.scanner->slotCount(), 11);
  EXPECT_EQ(s.port(10).bridgeCode, 1);
  EXPECT_EQ(s.port(10).devicePath.str(), "/dev/bench/Drive1");
  EXPECT_EQ(s.port(10).locationKey.str(), "usb\\vid_1234&pid_5678\\drive1");
  EXPECT_EQ(s.port(4).bridgeCode, 10);
  // Each capacity is read on the path its own drive chose, and both count every sector.
  EXPECT_EQ(s.port(10).capacityMB, 1000);
  EXPECT_EQ(s.port(4).capacityMB, 1000);
  EXPECT_EQ(s.port(5).configured, 1);  // unknown bridge
  EXPECT_EQ(s.port(5).active, 0);
  EXPECT_EQ(s.port(0).configured, 1);  // the other USB device
  EXPECT_EQ(s.scanner->configuredCount(), 4);
  EXPECT_EQ(s.scanner->deviceCount(), 2);
  // Slots bind in order, so Drive1 (slot 10, code 1) decides for the station.
  EXPECT_EQ(s.state.transportPath(), TransportPath::SataPath);
  EXPECT_EQ(s.state.busWord(), "SATA");
  EXPECT_EQ(s.state.ataWrapVariant(), 1);
  EXPECT_TRUE(s.state.keepVariantOne());
}

TEST(BenchDiscovery, FiftyDrivesScanAndFiftyOneSlotsAreRefused) {
  std::string fifty = "[Hub1]\nParent=root\nKind=usb3\nPorts=50\n";
  for (int i = 1; i <= 50; ++i) fifty += drive(i, "Hub1:" + std::to_string(i), i % 2 ? "k402" : "R21X");
  BenchStation s(fifty);
  ASSERT_TRUE(s.scanner->startUp());
  EXPECT_EQ(s.scanner->slotCount(), 50);
  EXPECT_EQ(s.scanner->deviceCount(), 50);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(s.port(i).devicePath.str(), "/dev/bench/Drive" + std::to_string(i + 1));
    EXPECT_EQ(s.port(i).bridgeCode, i % 2 ? 10 : 1);
  }
  EXPECT_TRUE(s.scanner->startEnabled());
  EXPECT_TRUE(s.op.messages.empty());

  BenchStation over("[Hub1]\nParent=root\nKind=usb3\nPorts=40\n[Hub2]\nParent=root\nKind=vendor\nPorts=11\n" +
                    drive(1, "Hub2:11", "k402"));
  EXPECT_FALSE(over.scanner->startUp());
  EXPECT_EQ(over.op.texts(),
            (std::vector<std::string>{"Up to the limitation of total port number(50), Please remove the usb hub"}));
}

TEST(BenchDiscovery, PlugEventsLeadToOneDebouncedRescan) {
  BenchStation s("[Hub1]\nParent=root\nKind=usb2\nPorts=4\n" + drive(1, "Hub1:1", "k402") +
                 drive(2, "Hub1:2", "k402") + drive(3, "Hub1:3", "k402", "Plugged=0\n"));
  ASSERT_TRUE(s.scanner->startUp());
  s.scanner->ports()[0].stepStatus[25] = 1;
  s.scanner->ports()[1].stepStatus[25] = 1;
  BenchHotplug hotplug(*s.bench);
  hotplug.start([&](DeviceChange c) { s.scanner->onDeviceChange(c); });

  s.bench->unplug("Drive2");
  s.clock.advance(100);
  s.bench->plug("Drive3");
  s.bench->unplug("Drive3");
  s.bench->plug("Drive3");  // the last is an arrival: 1500 ms from here
  EXPECT_FALSE(s.scanner->startEnabled());
  s.clock.advance(1499);
  EXPECT_FALSE(s.scanner->pollRescan());
  s.clock.advance(1);
  EXPECT_TRUE(s.scanner->pollRescan());
  EXPECT_FALSE(s.scanner->rescanTimer().armed());
  EXPECT_EQ(s.port(0).stepStatus[25], 1);  // still there: keeps its verdict
  EXPECT_EQ(s.port(1).configured, 0);
  EXPECT_EQ(s.port(2).active, 1);
  EXPECT_EQ(s.scanner->deviceCount(), 2);
  hotplug.stop();
}

TEST(BenchDiscovery, SafeRemovalUnplugsEveryActiveDrive) {
  BenchStation s("[Hub1]\nParent=root\nKind=usb2\nPorts=4\n" + drive(1, "Hub1:1", "k402") +
                 drive(2, "Hub1:2", "R20X") + drive(3, "Hub1:3", "zzzz"));
  ASSERT_TRUE(s.scanner->startUp());
  ASSERT_EQ(s.scanner->deviceCount(), 2);
  BenchRemoval removal(*s.bench);
  EXPECT_TRUE(SafeRemoval::removeAll(*s.scanner, removal, s.op));
  EXPECT_FALSE(s.bench->isPresent("Drive1"));
  EXPECT_FALSE(s.bench->isPresent("Drive2"));
  EXPECT_TRUE(s.bench->isPresent("Drive3"));  // not ours: left alone
  EXPECT_EQ(s.scanner->deviceCount(), 0);
  EXPECT_TRUE(s.op.messages.empty());
}
