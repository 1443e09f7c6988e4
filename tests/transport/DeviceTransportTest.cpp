#include <gtest/gtest.h>

#include <cstring>

#include "platform/linux/LinuxPassThrough.h"
#include "protocol/StandardCommands.h"
#include "transport/DeviceTransport.h"
#include "transport/TransportTestSupport.h"

using namespace qk;
using qk::test::bytes;

namespace {

struct Fixture : ::testing::Test {
  test::RecordingPassThrough pt;
  VirtualClock clock;
  TransportState state;
  DeviceTransport t{pt, clock, state};
  const std::string path = "/dev/sdz";
};

}  // namespace

using CommandBlocks = Fixture;

TEST_F(CommandBlocks, InquiryReadWriteAndBridgeSetupCarryTheDocumentedBytes) {
  std::uint8_t buf[4096] = {};
  std::uint32_t moved = 0;
  EXPECT_EQ(t.InquiryDevice(path, buf, 40, &moved), 1);
  EXPECT_EQ(t.InquiryDevice(path, buf, 36, &moved), 1);
  EXPECT_EQ(t.ReadSectors(path, buf, 0x01020304, 8 * 512), 1);
  EXPECT_EQ(t.WriteSectors(path, buf, 0xA0B0C0D0, 4096), 1);
  EXPECT_TRUE(t.SendBridgeSetup(path, 1));
  ASSERT_EQ(pt.requests.size(), 5u);

  EXPECT_EQ(pt.requests[0].cdb, bytes({0x12, 0, 0, 0, 0x28, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(pt.requests[0].direction, DataDirection::In);
  EXPECT_EQ(pt.requests[0].length, 40u);
  EXPECT_EQ(pt.requests[1].cdb[4], 36);

  EXPECT_EQ(pt.requests[2].cdb, bytes({0x28, 0, 0x01, 0x02, 0x03, 0x04, 0, 0x00, 0x08, 0}));
  EXPECT_EQ(pt.requests[2].direction, DataDirection::In);
  EXPECT_EQ(pt.requests[2].length, 8u * 512);

  EXPECT_EQ(pt.requests[3].cdb, bytes({0x2A, 0, 0xA0, 0xB0, 0xC0, 0xD0, 0, 0x00, 0x08, 0}));
  EXPECT_EQ(pt.requests[3].direction, DataDirection::Out);

  EXPECT_EQ(pt.requests[4].cdb, bytes({0xFF, 0x04, 0x32, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(pt.requests[4].direction, DataDirection::None);
}

TEST_F(CommandBlocks, SectorCountIsTheLengthShiftedBySixteenBits) {
  std::vector<std::uint8_t> buf(0x0123 * 512);
  EXPECT_EQ(t.ReadSectors(path, buf.data(), 0, static_cast<std::uint32_t>(buf.size())), 1);
  EXPECT_EQ(pt.requests[0].cdb[7], 0x01);
  EXPECT_EQ(pt.requests[0].cdb[8], 0x23);
}

TEST_F(CommandBlocks, AtaCommandsOnTheBridgePathAndTheirUsbShortcuts) {
  StandardCommands cmd(t);
  std::uint8_t sector[512] = {};
  state.setTransportPath(TransportPath::SataPath);
  EXPECT_EQ(cmd.IdentifyDevice(path, sector), 1);
  EXPECT_EQ(cmd.SetBridgeMode(path, true), 1);
  EXPECT_EQ(cmd.SetBridgeMode(path, false), 1);
  ASSERT_EQ(pt.requests.size(), 3u);
  EXPECT_EQ(pt.requests[0].cdb, bytes({0xA1, 0x08, 0x0B, 0x00, 0x01, 0x00, 0x00, 0x00, 0xE0, 0xEC, 0x00, 0x00}));
  EXPECT_EQ(pt.requests[0].direction, DataDirection::In);
  EXPECT_EQ(pt.requests[0].length, 512u);
  EXPECT_EQ(pt.requests[1].cdb, bytes({0xA1, 0x06, 0x00, 0xDC, 0x4A, 0x00, 0x00, 0x00, 0xE0, 0xEF, 0x00, 0x00}));
  EXPECT_EQ(pt.requests[1].direction, DataDirection::None);
  EXPECT_EQ(pt.requests[2].cdb[4], 0x4D);

  // On the USB path: bridge mode succeeds and IDENTIFY fails, both without I/O.
  state.setTransportPath(TransportPath::UsbPath);
  EXPECT_EQ(cmd.SetBridgeMode(path, true), 1);
  EXPECT_EQ(cmd.IdentifyDevice(path, sector), 2);
  EXPECT_EQ(pt.requests.size(), 3u);
}

using ReturnValues = Fixture;

TEST_F(ReturnValues, EntryPointsGiveMinusOneForAnEmptyPathWithoutIo) {
  std::uint8_t cdb[12] = {0xFF, 0x04, 0x80};
  std::uint8_t buf[512];
  EXPECT_EQ(t.SendCommand("", true, cdb, 12, buf, 512), -1);
  EXPECT_EQ(t.SendScsiCommand("", false, cdb, 12, buf, 512), -1);
  EXPECT_EQ(t.SendCommand(std::string(1, '\0'), true, cdb, 12, buf, 512), -1);
  EXPECT_TRUE(pt.requests.empty());
}

TEST_F(ReturnValues, FailuresAreZeroFromPrimitivesAndMinusTwoFromEntryPoints) {
  std::uint8_t cdb[12] = {0xFF, 0x04, 0x80};
  std::uint8_t buf[512];
  std::uint32_t moved = 99;
  EXPECT_EQ(t.SendCommand(path, true, cdb, 12, buf, 512), 1);
  EXPECT_EQ(t.ScsiDataIn(path, cdb, 12, buf, 512, &moved, 5), 1);
  EXPECT_EQ(moved, 512u);

  pt.answer = [](const PassThroughRequest&) { return PassThroughResult{}; };  // open failed
  EXPECT_EQ(t.ScsiDataIn(path, cdb, 12, buf, 512, &moved, 5), 0);
  EXPECT_EQ(t.ScsiDataOut(path, cdb, 12, buf, 512, &moved, 5), 0);
  EXPECT_EQ(t.SendCommand(path, true, cdb, 12, buf, 512), -2);
  EXPECT_EQ(t.SendScsiCommand(path, false, cdb, 12, buf, 512), -2);
  EXPECT_FALSE(t.SendBridgeSetup(path, 1));

  // Sent but lost in the transport.
  pt.answer = [](const PassThroughRequest&) { PassThroughResult r; r.sent = true; return r; };
  EXPECT_EQ(t.SendCommand(path, true, cdb, 12, buf, 512), -2);
}

TEST_F(ReturnValues, ScsiStatusIsNotConsultedOutsideSectorReadsAndWrites) {
  pt.answer = [](const PassThroughRequest& r) {
    PassThroughResult res;
    res.sent = res.completed = true;
    res.scsiStatus = kScsiStatusCheckCondition;
    res.transferred = r.length / 2;
    return res;
  };
  std::uint8_t cdb[12] = {0xFF, 0x04, 0x80};
  std::uint8_t buf[1024] = {};
  std::uint32_t moved = 0;
  EXPECT_EQ(t.SendCommand(path, true, cdb, 12, buf, 512), 1);
  EXPECT_EQ(t.InquiryDevice(path, buf, 40, &moved), 1);
  EXPECT_EQ(t.ReadSectors(path, buf, 0, 1024), 0);
  EXPECT_EQ(t.WriteSectors(path, buf, 0, 1024), 0);
  // The strict rule is available to the user-data commands built later.
  EXPECT_EQ(t.SendCommand(path, true, cdb, 12, buf, 512, StatusRule::Strict), -2);
}

TEST_F(ReturnValues, OneByteTransfersTravelAsTwoBytes) {
  pt.answer = [](const PassThroughRequest& r) {
    PassThroughResult res;
    res.sent = res.completed = true;
    if (r.direction == DataDirection::In) {
      r.buffer[0] = 0xAB;
      r.buffer[1] = 0xCD;
    }
    res.transferred = r.length;
    return res;
  };
  std::uint8_t cdb[12] = {0xFF, 0x04, 0x84};
  std::uint8_t one[2] = {0x00, 0x77};  // the second byte must stay untouched
  std::uint32_t moved = 0;
  EXPECT_EQ(t.ScsiDataIn(path, cdb, 12, one, 1, &moved, 5), 1);
  EXPECT_EQ(one[0], 0xAB);
  EXPECT_EQ(one[1], 0x77);
  EXPECT_EQ(moved, 2u);
  EXPECT_EQ(pt.requests.back().length, 2u);

  std::uint8_t out = 0x5A;
  EXPECT_EQ(t.ScsiDataOut(path, cdb, 12, &out, 1, &moved, 5), 1);
  EXPECT_EQ(pt.requests.back().dataOut, bytes({0x5A, 0x00}));
}

using TimeOuts = Fixture;

TEST_F(TimeOuts, FollowTheTableForEachPath) {
  std::uint8_t cdb[12] = {0xFF};
  std::uint8_t buf[512];
  auto last = [&] { return pt.requests.back().timeoutMs; };
  state.setTransportPath(TransportPath::UsbPath);
  t.SendCommand(path, true, cdb, 12, buf, 512);
  EXPECT_EQ(last(), 300000u);
  t.SendCommand(path, false, cdb, 12, buf, 512);
  EXPECT_EQ(last(), 10000u);
  t.SendScsiCommand(path, true, cdb, 12, buf, 512);
  EXPECT_EQ(last(), 300000u);
  t.ReadSectors(path, buf, 0, 512);
  EXPECT_EQ(last(), 300000u);
  t.WriteSectors(path, buf, 0, 512);
  EXPECT_EQ(last(), 10000u);

  state.setTransportPath(TransportPath::SataPath);
  t.SendCommand(path, true, cdb, 12, buf, 512);
  EXPECT_EQ(last(), 10000u);
  t.SendScsiCommand(path, true, cdb, 12, buf, 512);
  EXPECT_EQ(last(), 5000u);
  std::uint32_t moved;
  t.InquiryDevice(path, buf, 40, &moved);
  EXPECT_EQ(last(), 5000u);
  t.ReadSectors(path, buf, 0, 512);
  EXPECT_EQ(last(), 5000u);
  t.SendScsiCommand(path, false, cdb, 12, buf, 512);
  EXPECT_EQ(last(), 10000u);
}

TEST(TimeOutScaling, BenchTimeFactorShortensTimeOutsButZeroKeepsThemWhole) {
  test::RecordingPassThrough pt;
  TransportState state;
  std::uint8_t cdb[12] = {0xFF};
  std::uint8_t buf[512];
  ScaledClock fast(0.01);
  DeviceTransport a(pt, fast, state);
  a.SendCommand("/dev/x", false, cdb, 12, buf, 512);
  EXPECT_EQ(pt.requests.back().timeoutMs, 100u);
  ScaledClock none(0.0);
  DeviceTransport b(pt, none, state);
  b.SendCommand("/dev/x", false, cdb, 12, buf, 512);
  EXPECT_EQ(pt.requests.back().timeoutMs, 10000u);
}

TEST(BridgeTable, TokensMapInTableOrderAndExactCase) {
  struct Case {
    const char* token;
    int code;
  } cases[] = {{"k402", 1},  {"k403", 9},  {"k404", 4},  {"k401", 7},  {"k405", 8},  {"k406", 11},
               {"k408", 12}, {"k407", 12}, {"k409", 10}, {"R20X", 10}, {"ice ", 10}, {"q21x", 10},
               {"R21X", 10}, {"K402", 0},  {"ice_", 0},  {"r20x", 0},  {"Q21X", 0},  {"X99Z", 0}};
  for (const auto& c : cases) EXPECT_EQ(BridgeCodeForToken(c.token), c.code) << c.token;
  const char zeros[4] = {0, 0, 0, 0};
  EXPECT_EQ(BridgeCodeForToken(zeros), 0);
}

TEST(BridgeTable, OnlyTheBridgeChipsAreBridgeCodes) {
  for (int code = 0; code < 256; ++code) {
    bool expected = code == 1 || code == 4 || code == 7 || code == 8 || code == 9 || code == 11 || code == 12;
    EXPECT_EQ(IsBridgeCode(static_cast<std::uint8_t>(code)), expected) << code;
  }
}

TEST(LinuxPassThrough, MissingNodeFailsToOpenAndCharacterDevicesHaveNumbers) {
  LinuxPassThrough pt;
  VirtualClock clock;
  TransportState state;
  DeviceTransport t(pt, clock, state);
  std::uint8_t buf[40];
  std::uint32_t moved = 7;
  EXPECT_EQ(t.InquiryDevice("/nonexistent/sdq", buf, 40, &moved), 0);
  EXPECT_EQ(t.IdentifyBridge("/nonexistent/sdq"), 0);
  // /dev/null opens but knows no SG_IO: a request error, not a success.
  EXPECT_EQ(t.InquiryDevice("/dev/null", buf, 40, &moved), 0);
  DeviceNumber n;
  EXPECT_EQ(t.GetDeviceNumber("/dev/null", n), 1);
  EXPECT_FALSE(n.blockDevice);
  EXPECT_EQ(n.major, 1u);
  EXPECT_EQ(n.minor, 3u);
  EXPECT_EQ(t.GetDeviceNumber("/nonexistent/sdq", n), 0);
}

// A hung drive's command ends only at its own time-out (the system's resets
// wait for it): once a port has a deadline, no command of its drive may
// outlast it, or the run waits minutes for a drive it has already cut off.
TEST_F(TimeOuts, APortsDeadlineCutsItsDrivesCommandsButNoOthers) {
  std::uint8_t cdb[12] = {0xFF};
  std::uint8_t buf[512];
  auto last = [&] { return pt.requests.back().timeoutMs; };
  state.setTransportPath(TransportPath::UsbPath);
  t.limitCommands(path, clock.nowMs() + 60000);
  t.SendCommand(path, true, cdb, 12, buf, 512);
  EXPECT_EQ(last(), 60000u);
  t.SendCommand(path, false, cdb, 12, buf, 512);
  EXPECT_EQ(last(), 10000u);  // shorter of its own: kept
  t.SendCommand("/dev/sdy", true, cdb, 12, buf, 512);
  EXPECT_EQ(last(), 300000u);
  clock.advance(59990);  // a short time-out, never none (0 is the system's default)
  t.ReadSectors(path, buf, 0, 512);
  EXPECT_EQ(last(), static_cast<std::uint32_t>(DeviceTransport::kLastCommandMs));
  // Past it nothing more is sent: each command would wait out its time-out on a hung drive.
  clock.advance(10);
  const auto sent = pt.requests.size();
  std::uint32_t moved = 7;
  EXPECT_EQ(t.ScsiDataIn(path, cdb, 12, buf, 512, &moved, 5), 0);
  EXPECT_EQ(moved, 0u);
  EXPECT_EQ(t.SendCommand(path, true, cdb, 12, buf, 512), -2);
  EXPECT_EQ(pt.requests.size(), sent);
  t.SendCommand("/dev/sdy", true, cdb, 12, buf, 512);
  EXPECT_EQ(pt.requests.size(), sent + 1);
  t.unlimitCommands(path);
  t.SendCommand(path, true, cdb, 12, buf, 512);
  EXPECT_EQ(last(), 300000u);
}
