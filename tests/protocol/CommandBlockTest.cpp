// Command blocks byte for byte as they leave the station, on both paths.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "platform/Clock.h"
#include "protocol/StandardCommands.h"
#include "protocol/VendorCommands.h"
#include "transport/TransportTestSupport.h"

using namespace qk;
using qk::test::bytes;

namespace {

struct Fixture {
  test::RecordingPassThrough pt;
  VirtualClock clock;
  TransportState state;
  DeviceTransport transport{pt, clock, state};
  std::string path = "/dev/sdz";
  VendorCommands vendor{transport, path};
  StandardCommands standard{transport};

  explicit Fixture(TransportPath p, std::uint8_t variant = 2) {
    state.setTransportPath(p);
    state.setAtaWrapVariant(variant);
  }
  // Every data-in answers with `reply` at the start of the buffer.
  void replyWith(std::vector<std::uint8_t> reply) {
    pt.answer = [reply](const PassThroughRequest& r) {
      if (r.direction == DataDirection::In && r.buffer) {
        std::fill(r.buffer, r.buffer + r.length, 0);
        std::copy_n(reply.begin(), std::min<std::size_t>(reply.size(), r.length), r.buffer);
      }
      PassThroughResult ok;
      ok.sent = ok.completed = true;
      ok.transferred = r.length;
      return ok;
    };
  }
  void failEverything() {
    pt.answer = [](const PassThroughRequest&) {
      PassThroughResult r;
      r.sent = true;
      return r;
    };
  }
};

}  // namespace

TEST(WrappedCdb, EachVariantCarriesItsCodes) {
  EXPECT_EQ(WrappedCdb(WrapDirection::Out, 2, 1, 0xFF),
            (std::array<std::uint8_t, 12>{0xA1, 0x16, 0x03, 0x00, 0x01, 0xFF, 0x34, 0x12, 0xE0, 0x88, 0, 0}));
  EXPECT_EQ(WrappedCdb(WrapDirection::In, 2, 0x80, 0x89),
            (std::array<std::uint8_t, 12>{0xA1, 0x14, 0x0B, 0x00, 0x80, 0x89, 0x34, 0x12, 0xE0, 0x86, 0, 0}));
  EXPECT_EQ(WrappedCdb(WrapDirection::Out, 1, 4, 0x87),
            (std::array<std::uint8_t, 12>{0xA1, 0x0A, 0x03, 0x00, 0x04, 0x87, 0x34, 0x12, 0xE0, 0x8F, 0, 0}));
  EXPECT_EQ(WrappedCdb(WrapDirection::In, 1, 1, 0xFF),
            (std::array<std::uint8_t, 12>{0xA1, 0x08, 0x0B, 0x00, 0x01, 0xFF, 0x34, 0x12, 0xE0, 0x8A, 0, 0}));
  EXPECT_EQ(WrappedCdb(WrapDirection::Out, 0, 1, 0xFF),
            (std::array<std::uint8_t, 12>{0xA1, 0x0A, 0x03, 0x00, 0x01, 0xFF, 0x34, 0x12, 0xE0, 0xC5, 0, 0}));
  EXPECT_EQ(WrappedCdb(WrapDirection::In, 0, 2, 0x05),
            (std::array<std::uint8_t, 12>{0xA1, 0x08, 0x0B, 0x00, 0x02, 0x05, 0x34, 0x12, 0xE0, 0xC4, 0, 0}));
}

TEST(SendVendorCommand, UsbSendsTheBlockAsTheCdb) {
  Fixture f(TransportPath::UsbPath);
  std::vector<std::uint8_t> page(4096);
  ASSERT_EQ(f.vendor.ReadFlashPage(3, 4, 0x1234, 0x0056, 1, page.data(), 8), 1);
  ASSERT_EQ(f.pt.requests.size(), 1u);
  const auto& r = f.pt.requests[0];
  EXPECT_EQ(r.cdb, bytes({0xFF, 0x04, 0x89, 3, 4, 0x12, 0x34, 0x00, 0x56, 1, 0, 0}));
  EXPECT_EQ(r.direction, DataDirection::In);
  EXPECT_EQ(r.length, 4096u);

  f.pt.requests.clear();
  ASSERT_EQ(f.vendor.WriteRegisterByte(0x00020007, 7), 1);
  EXPECT_EQ(f.pt.requests[0].cdb, bytes({0xFF, 0x04, 0x85, 0x00, 0x02, 0x00, 0x07, 7, 0, 0, 0, 0}));
  EXPECT_EQ(f.pt.requests[0].direction, DataDirection::None);
  // The reset mode is passed as given on this path.
  f.pt.requests.clear();
  f.vendor.ResetController(0);
  EXPECT_EQ(f.pt.requests[0].cdb, bytes({0xFF, 0x04, 0x81, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(SendVendorCommand, SataWrapsTheBlockAndTheDataPhase) {
  Fixture f(TransportPath::SataPath, 2);
  std::vector<std::uint8_t> ram(126 * 512, 0x5A);
  ASSERT_EQ(f.vendor.WriteRam(3, 0x40000000, ram.data(), 126), 1);
  ASSERT_EQ(f.pt.requests.size(), 2u);
  const auto& cmd = f.pt.requests[0];
  EXPECT_EQ(cmd.cdb, bytes({0xA1, 0x16, 0x03, 0x00, 0x01, 0xFF, 0x34, 0x12, 0xE0, 0x88, 0, 0}));
  ASSERT_EQ(cmd.dataOut.size(), 512u);
  EXPECT_EQ(std::vector<std::uint8_t>(cmd.dataOut.begin(), cmd.dataOut.begin() + 12),
            bytes({0xFF, 0xE5, 0x87, 3, 0x40, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(std::all_of(cmd.dataOut.begin() + 12, cmd.dataOut.end(), [](auto b) { return b == 0; }));
  const auto& data = f.pt.requests[1];
  EXPECT_EQ(data.cdb, bytes({0xA1, 0x16, 0x03, 0x00, 126, 0x87, 0x34, 0x12, 0xE0, 0x88, 0, 0}));
  EXPECT_EQ(data.length, 126u * 512);
  EXPECT_EQ(data.dataOut, ram);

  // No data: exactly one WrappedOut, and the reset mode is forced to 1.
  f.pt.requests.clear();
  f.state.setAtaWrapVariant(0);
  ASSERT_EQ(f.vendor.ResetController(0), 1);
  ASSERT_EQ(f.pt.requests.size(), 1u);
  EXPECT_EQ(f.pt.requests[0].cdb[9], 0xC5);
  EXPECT_EQ(f.pt.requests[0].dataOut[3], 1);

  // A data-in phase of variant 1.
  f.pt.requests.clear();
  f.state.setAtaWrapVariant(1);
  std::vector<std::uint8_t> id(512);
  ASSERT_EQ(f.vendor.ReadFlashId(2, 5, id.data(), 1), 1);
  EXPECT_EQ(f.pt.requests[1].cdb, bytes({0xA1, 0x08, 0x0B, 0x00, 0x01, 0x88, 0x34, 0x12, 0xE0, 0x8A, 0, 0}));
  EXPECT_EQ(f.pt.requests[1].direction, DataDirection::In);

  // The wrapped count is one byte: 256 sectors are refused before anything is sent.
  f.pt.requests.clear();
  std::vector<std::uint8_t> big(256 * 512);
  EXPECT_EQ(f.vendor.ReadRam(3, 0, big.data(), 256), 2);
  EXPECT_TRUE(f.pt.requests.empty());
}

TEST(SendVendorCommand, StatusSectorsAndTheirSignature) {
  Fixture usb(TransportPath::UsbPath);
  usb.replyWith({0x0E, 0x99});
  std::uint8_t status = 0;
  EXPECT_EQ(usb.vendor.GetTaskStatus(status), 1);
  EXPECT_EQ(status, 0x0E);

  Fixture sata(TransportPath::SataPath);
  sata.replyWith({0xE5, 0x12});
  EXPECT_EQ(sata.vendor.GetTaskStatus(status), 1);
  EXPECT_EQ(status, 0x12);
  std::uint8_t reg = 0;
  sata.replyWith({0x00, 0x12});
  EXPECT_EQ(sata.vendor.ReadRegisterByte(0x20000, reg), 3);
  sata.failEverything();
  EXPECT_EQ(sata.vendor.GetTaskStatus(status), 2);
  // A failed command sector never reaches the data phase.
  sata.pt.requests.clear();
  EXPECT_EQ(sata.vendor.ReadTaskResult(0x05, nullptr, 1), 2);
  EXPECT_EQ(sata.pt.requests.size(), 1u);
}

TEST(SendVendorCommand, TestProgramAnswers) {
  Fixture f(TransportPath::UsbPath);
  std::uint8_t value = 0;
  f.replyWith({1, 0x40});
  EXPECT_EQ(f.vendor.RunTest(1, 602, value), 1);
  EXPECT_EQ(value, 0x40);
  EXPECT_EQ(f.pt.requests.back().cdb, bytes({0xFF, 0x04, 0x01, 1, 0x02, 0x5A, 0, 0, 0, 0, 0, 0}));
  f.replyWith({0, 0x40});  // not answered
  EXPECT_EQ(f.vendor.RunTest(3, 1791, value), 1);
  EXPECT_EQ(value, 0xFF);
  std::vector<std::uint8_t> sector(512);
  f.vendor.WriteTestValue(0x00020000, 0x04000000, sector.data());
  EXPECT_EQ(f.pt.requests.back().cdb, bytes({0xFF, 0x04, 0x05, 0, 0x00, 0x02, 0x00, 0x00, 0x04, 0, 0, 0}));
  f.vendor.ReadFirmwarePagesRaw(0xF0, 0x0102, 0x0003, 1, sector.data(), 1);
  EXPECT_EQ(f.pt.requests.back().cdb, bytes({0xFF, 0x04, 0x04, 0xF0, 0, 0x01, 0x02, 0x00, 0x03, 1, 0, 0}));
  f.vendor.EraseFlashBlock(8, 4, 0x0200);
  EXPECT_EQ(f.pt.requests.back().cdb, bytes({0xFF, 0x04, 0x8B, 8, 4, 0x02, 0x00, 0, 0, 0, 0, 0}));
}

TEST(StandardCommands, PathRules) {
  Fixture usb(TransportPath::UsbPath);
  std::array<std::uint8_t, 512> buf{};
  EXPECT_EQ(usb.standard.IdentifyDevice(usb.path, buf.data()), 2);
  EXPECT_EQ(usb.standard.SmartReadData(usb.path, buf.data()), 2);
  EXPECT_EQ(usb.standard.SetBridgeMode(usb.path, true), 1);
  EXPECT_EQ(usb.standard.FlushCache(usb.path), 1);
  EXPECT_TRUE(usb.pt.requests.empty());

  Fixture sata(TransportPath::SataPath);
  sata.standard.SmartReadData(sata.path, buf.data());
  sata.standard.FlushCache(sata.path);
  sata.standard.SetBridgeMode(sata.path, false);
  ASSERT_EQ(sata.pt.requests.size(), 3u);
  EXPECT_EQ(sata.pt.requests[0].cdb, bytes({0xA1, 0x08, 0x0B, 0xD0, 0x01, 0x00, 0x4F, 0xC2, 0x00, 0xB0, 0, 0}));
  EXPECT_EQ(sata.pt.requests[1].cdb, bytes({0xA1, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0x00, 0xE7, 0, 0}));
  EXPECT_EQ(sata.pt.requests[2].cdb, bytes({0xA1, 0x06, 0x00, 0xDC, 0x4D, 0x00, 0x00, 0x00, 0xE0, 0xEF, 0, 0}));
}

TEST(StandardCommands, UserDataFailuresLeaveTheirWordsInTheBuffer) {
  Fixture usb(TransportPath::UsbPath);
  std::vector<std::uint8_t> buf(8 * 512, 0xCC);
  ASSERT_EQ(usb.standard.ReadUserSectors(usb.path, buf.data(), 8, 0x01020304), 1);
  EXPECT_EQ(usb.pt.requests[0].cdb, bytes({0x28, 0, 0x01, 0x02, 0x03, 0x04, 0, 0, 8, 0, 0, 0}));
  EXPECT_EQ(usb.pt.requests[0].timeoutMs, 300000u);

  // A CHECK CONDITION counts as failure for sector I/O.
  usb.pt.answer = [](const PassThroughRequest& r) {
    PassThroughResult res;
    res.sent = res.completed = true;
    res.scsiStatus = kScsiStatusCheckCondition;
    res.transferred = r.length;
    return res;
  };
  EXPECT_EQ(usb.standard.WriteUserSectors(usb.path, buf.data(), 8, 4096), 2);
  EXPECT_EQ(std::vector<std::uint8_t>(buf.begin(), buf.begin() + 8), bytes({1, 0, 0, 0, 0x00, 0x10, 0, 0}));
  EXPECT_EQ(usb.standard.ReadUserSectors(usb.path, buf.data(), 8, 7), 2);
  EXPECT_EQ(std::vector<std::uint8_t>(buf.begin(), buf.begin() + 8), bytes({2, 0, 0, 0, 7, 0, 0, 0}));

  // The bridge path uses the short read time-out.
  Fixture sata(TransportPath::SataPath);
  sata.standard.ReadUserSectors(sata.path, buf.data(), 1, 0);
  EXPECT_EQ(sata.pt.requests[0].timeoutMs, 5000u);
  EXPECT_EQ(sata.pt.requests[0].cdb.size(), 12u);
}
