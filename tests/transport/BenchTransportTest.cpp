// The transport and the standard commands against simulated drives.
#include <gtest/gtest.h>

#include <numeric>

#include "protocol/StandardCommands.h"
#include "transport/DeviceTransport.h"
#include "transport/TransportTestSupport.h"

using namespace qk;

namespace {

const char* kBench = R"(
[Hub1]
Parent=root
Kind=usb3
Ports=8
[Drive1]
At=Hub1:1
Token=k402
Flash=WBG
Sectors=1000000
[Drive2]
At=Hub1:2
Token=R20X
Flash=WBG
Sectors=2000000
[Drive3]
At=Hub1:3
Token=k404
Flash=WBG
Sectors=4000000000
[Drive4]
At=Hub1:4
Flash=WBG
[Drive5]
At=Hub1:5
Token=X99Z
Flash=WBG
[Drive6]
At=Hub1:6
Token=k401
Flash=WBG
FaultReadError=100-101
FaultShortRead=300
FaultWriteError=200
FaultTimeout=A1:EC, 25
)";

struct OnBench : ::testing::Test {
  VirtualClock clock;
  std::unique_ptr<sim::Bench> bench = test::benchFromText(kBench, clock);
  TransportState state;
  DeviceTransport t{bench->passThrough(), clock, state};
  StandardCommands cmd{t};
  static std::string path(int n) { return sim::Bench::devicePathFor("Drive" + std::to_string(n)); }
};

}  // namespace

TEST_F(OnBench, CapacityIsASectorCountOnBothPathsOfTheSameDrive) {
  state.setTransportPath(TransportPath::SataPath);
  EXPECT_EQ(cmd.ReadCapacitySectors(path(1)), 1000000u);
  state.setTransportPath(TransportPath::UsbPath);
  EXPECT_EQ(cmd.ReadCapacitySectors(path(1)), 1000000u);
  EXPECT_EQ(cmd.ReadCapacitySectors(path(2)), 2000000u);

  // Beyond 28 bits the bridge path takes the 48-bit field.
  EXPECT_EQ(cmd.ReadCapacitySectors(path(3)), 4000000000u);
  state.setTransportPath(TransportPath::SataPath);
  EXPECT_EQ(cmd.ReadCapacitySectors(path(3)), 4000000000u);

  // The last sector is reachable, the one after it is not.
  std::vector<std::uint8_t> sector(512, 0xEE);
  EXPECT_EQ(t.WriteSectors(path(1), sector.data(), 999999, 512), 1);
  EXPECT_EQ(t.WriteSectors(path(1), sector.data(), 1000000, 512), 0);
}

TEST_F(OnBench, FailedCapacityReadsStayZero) {
  bench->unplug("Drive1");
  state.setTransportPath(TransportPath::UsbPath);
  EXPECT_EQ(cmd.ReadCapacitySectors(path(1)), 0u);
  state.setTransportPath(TransportPath::SataPath);
  EXPECT_EQ(cmd.ReadCapacitySectors(path(1)), 0u);
  // A native drive knows no ATA pass-through: its refusal carries no capacity.
  EXPECT_EQ(cmd.ReadCapacitySectors(path(2)), 0u);
}

TEST_F(OnBench, SectorDataRoundTrips) {
  std::vector<std::uint8_t> out(64 * 512), in(64 * 512);
  std::iota(out.begin(), out.end(), 0);
  EXPECT_EQ(t.WriteSectors(path(1), out.data(), 5000, static_cast<std::uint32_t>(out.size())), 1);
  EXPECT_EQ(t.ReadSectors(path(1), in.data(), 5000, static_cast<std::uint32_t>(in.size())), 1);
  EXPECT_EQ(in, out);
}

TEST_F(OnBench, MediumErrorsAndShortTransfersFailSectorCommandsOnly) {
  std::vector<std::uint8_t> buf(8 * 512);
  const auto len = static_cast<std::uint32_t>(buf.size());
  EXPECT_EQ(t.ReadSectors(path(6), buf.data(), 96, len), 0);   // CHECK CONDITION at 100
  EXPECT_EQ(t.ReadSectors(path(6), buf.data(), 296, len), 0);  // stops before 300, status GOOD
  EXPECT_EQ(t.WriteSectors(path(6), buf.data(), 196, len), 0);
  EXPECT_EQ(t.ReadSectors(path(6), buf.data(), 102, len), 1);
  EXPECT_EQ(t.WriteSectors(path(6), buf.data(), 201, len), 1);

  // The same READ(10) as a plain command completes: its status is the caller's business.
  std::uint8_t cdb[12] = {0x28, 0, 0, 0, 0, 96, 0, 0, 8, 0, 0, 0};
  EXPECT_EQ(t.SendScsiCommand(path(6), true, cdb, 12, buf.data(), len), 1);
}

TEST_F(OnBench, UnansweredCommandsFailAfterThePathsTimeOut) {
  std::uint8_t cdb[12] = {0x25};
  std::uint8_t buf[512];
  state.setTransportPath(TransportPath::UsbPath);
  auto before = clock.nowMs();
  EXPECT_EQ(t.SendCommand(path(6), true, cdb, 12, buf, 512), -2);
  EXPECT_EQ(clock.nowMs() - before, 300000);
  state.setTransportPath(TransportPath::SataPath);
  before = clock.nowMs();
  EXPECT_EQ(cmd.IdentifyDevice(path(6), buf), 2);
  EXPECT_EQ(clock.nowMs() - before, 10000);
}

TEST_F(OnBench, BridgeIdentificationFromTheDrivesInquiry) {
  EXPECT_EQ(t.IdentifyBridge(path(1)), 1);
  EXPECT_EQ(t.IdentifyBridge(path(2)), 10);
  EXPECT_EQ(t.IdentifyBridge(path(3)), 4);
  EXPECT_EQ(t.IdentifyBridge(path(4)), 0);  // 36 bytes only: zeros at 36..39
  EXPECT_EQ(t.IdentifyBridge(path(5)), 0);  // unknown token
  EXPECT_EQ(t.IdentifyBridge("/dev/bench/Drive99"), 0);
  bench->unplug("Drive1");
  EXPECT_EQ(t.IdentifyBridge(path(1)), 0);
}

TEST_F(OnBench, TheLastIdentifiedDriveDecidesThePathAndCaption) {
  std::vector<std::string> captions;
  state.setCaptionListener([&](const std::string& word) { captions.push_back(word); });
  EXPECT_EQ(state.transportPath(), TransportPath::SataPath);
  EXPECT_EQ(state.busWord(), "SATA");
  EXPECT_EQ(state.ataWrapVariant(), 2);

  EXPECT_EQ(t.SelectTransportPath(path(2)), 10);
  EXPECT_EQ(state.transportPath(), TransportPath::UsbPath);
  EXPECT_EQ(state.busWord(), "USB");

  // Unknown and absent drives leave path and word alone, but the caption is still refreshed.
  EXPECT_EQ(t.SelectTransportPath(path(5)), 0);
  EXPECT_EQ(t.SelectTransportPath(path(4)), 0);
  EXPECT_EQ(state.transportPath(), TransportPath::UsbPath);
  EXPECT_EQ(state.busWord(), "USB");
  EXPECT_FALSE(state.keepVariantOne());

  EXPECT_EQ(t.SelectTransportPath(path(3)), 4);
  EXPECT_EQ(state.transportPath(), TransportPath::SataPath);
  EXPECT_EQ(state.ataWrapVariant(), 2);

  EXPECT_EQ(t.SelectTransportPath(path(1)), 1);
  EXPECT_EQ(state.ataWrapVariant(), 1);
  EXPECT_TRUE(state.keepVariantOne());
  EXPECT_EQ(captions, (std::vector<std::string>{"USB", "USB", "USB", "SATA", "SATA"}));
}

TEST_F(OnBench, DeviceNumbersBelongToPresentDrives) {
  DeviceNumber a, b;
  EXPECT_EQ(t.GetDeviceNumber(path(1), a), 1);
  EXPECT_EQ(t.GetDeviceNumber(path(2), b), 1);
  EXPECT_TRUE(a.blockDevice);
  EXPECT_NE(a.minor, b.minor);
  bench->unplug("Drive1");
  EXPECT_EQ(t.GetDeviceNumber(path(1), a), 0);
}
