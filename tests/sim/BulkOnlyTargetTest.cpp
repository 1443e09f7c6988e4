#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sim/Bench.h"
#include "sim/BulkOnlyTarget.h"

using namespace qk;
using namespace qk::sim;

namespace {

std::vector<std::uint8_t> cbwBytes(std::uint32_t tag, std::uint32_t length, bool in, std::vector<std::uint8_t> cdb,
                                   std::uint8_t lun = 0) {
  std::vector<std::uint8_t> b(kCbwLength, 0);
  const std::uint8_t head[] = {'U', 'S', 'B', 'C'};
  std::memcpy(b.data(), head, 4);
  for (int i = 0; i < 4; ++i) {
    b[4 + i] = static_cast<std::uint8_t>(tag >> (8 * i));
    b[8 + i] = static_cast<std::uint8_t>(length >> (8 * i));
  }
  b[12] = in ? 0x80 : 0x00;
  b[13] = lun;
  b[14] = static_cast<std::uint8_t>(cdb.size());
  std::memcpy(b.data() + 15, cdb.data(), cdb.size());
  return b;
}

struct Rig {
  Rig() {
    BenchConfig cfg;
    std::string error;
    EXPECT_TRUE(ParseBenchText("[Hub1]\nParent=root\nKind=usb2\nPorts=1\n[Drive1]\nAt=Hub1:1\nToken=R20X\n"
                               "Flash=WBG\nSectors=1000\n",
                               "/tmp", {}, cfg, error))
        << error;
    BenchOptions options;
    options.clock = &clock;
    bench = Bench::fromConfig(std::move(cfg), options, error);
    EXPECT_TRUE(bench) << error;
  }
  CommandBlockWrapper decode(const std::vector<std::uint8_t>& bytes) {
    CommandBlockWrapper c;
    EXPECT_TRUE(BulkOnlyTarget::decodeCbw(bytes.data(), bytes.size(), c));
    return c;
  }
  VirtualClock clock;
  std::unique_ptr<Bench> bench;
};

}  // namespace

TEST(BulkOnlyTarget, DecodesTheWrapperAndRefusesMalformedOnes) {
  CommandBlockWrapper c;
  auto good = cbwBytes(0x11223344, 0x200, true, {0x28, 0, 0, 0, 0, 5, 0, 0, 1, 0});
  ASSERT_TRUE(BulkOnlyTarget::decodeCbw(good.data(), good.size(), c));
  EXPECT_EQ(c.tag, 0x11223344u);
  EXPECT_EQ(c.dataLength, 0x200u);
  EXPECT_TRUE(c.dataIn);
  EXPECT_EQ(c.cdbLength, 10);
  EXPECT_EQ(c.cdb[5], 5);
  EXPECT_EQ(c.cdb[10], 0);

  EXPECT_FALSE(BulkOnlyTarget::decodeCbw(good.data(), good.size() - 1, c));  // short packet
  auto bad = good;
  bad[3] = 'S';
  EXPECT_FALSE(BulkOnlyTarget::decodeCbw(bad.data(), bad.size(), c));  // a status wrapper's signature
  bad = cbwBytes(1, 0, false, {0, 0, 0, 0, 0, 0}, 1);
  EXPECT_FALSE(BulkOnlyTarget::decodeCbw(bad.data(), bad.size(), c));  // only LUN 0 exists
  bad = good;
  bad[14] = 17;
  EXPECT_FALSE(BulkOnlyTarget::decodeCbw(bad.data(), bad.size(), c));
  bad[14] = 0;
  EXPECT_FALSE(BulkOnlyTarget::decodeCbw(bad.data(), bad.size(), c));
}

TEST(BulkOnlyTarget, EncodesTheStatusWrapperByteForByte) {
  std::uint8_t csw[kCswLength];
  BulkOnlyTarget::encodeCsw(0xA1B2C3D4, 0x10, kCswFailed, csw);
  const std::uint8_t want[kCswLength] = {'U', 'S', 'B', 'S', 0xD4, 0xC3, 0xB2, 0xA1, 0x10, 0, 0, 0, 1};
  EXPECT_EQ(std::memcmp(csw, want, kCswLength), 0);
}

TEST(BulkOnlyTarget, DataBothWaysReachTheDrive) {
  Rig rig;
  BulkOnlyTarget target(*rig.bench->drive("Drive1"));
  std::vector<std::uint8_t> data(512 * 2);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  auto r = target.execute(rig.decode(cbwBytes(1, 1024, false, {0x2A, 0, 0, 0, 0, 9, 0, 0, 2, 0})), data.data());
  EXPECT_EQ(r.status, kCswPassed);
  EXPECT_EQ(r.transferred, 1024u);

  std::vector<std::uint8_t> back(1024, 0);
  r = target.execute(rig.decode(cbwBytes(2, 1024, true, {0x28, 0, 0, 0, 0, 9, 0, 0, 2, 0})), back.data());
  EXPECT_EQ(r.status, kCswPassed);
  EXPECT_EQ(r.transferred, 1024u);
  EXPECT_EQ(back, data);

  // INQUIRY carries the token at bytes 36..39: the bridge table sees it through USB too.
  std::uint8_t inquiry[96] = {};
  r = target.execute(rig.decode(cbwBytes(3, sizeof inquiry, true, {0x12, 0, 0, 0, sizeof inquiry, 0})), inquiry);
  EXPECT_EQ(r.status, kCswPassed);
  ASSERT_EQ(r.transferred, 40u);  // fewer than asked: the residue tells the host
  EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry + 36), 4), "R20X");
}

TEST(BulkOnlyTarget, FailedCommandLeavesItsSenseForRequestSenseOnce) {
  Rig rig;
  BulkOnlyTarget target(*rig.bench->drive("Drive1"));
  std::uint8_t sector[512];
  // Beyond the last sector: CHECK CONDITION, LBA out of range.
  auto r = target.execute(rig.decode(cbwBytes(1, 512, true, {0x28, 0, 0, 0, 0x03, 0xE8, 0, 0, 1, 0})), sector);
  EXPECT_EQ(r.status, kCswFailed);
  EXPECT_TRUE(r.answered);

  std::uint8_t sense[18] = {};
  r = target.execute(rig.decode(cbwBytes(2, 18, true, {0x03, 0, 0, 0, 18, 0})), sense);
  EXPECT_EQ(r.status, kCswPassed);
  EXPECT_EQ(r.transferred, 18u);
  EXPECT_EQ(sense[0], 0x70);
  EXPECT_EQ(sense[2], 0x05);
  EXPECT_EQ(sense[12], 0x21);

  r = target.execute(rig.decode(cbwBytes(3, 18, true, {0x03, 0, 0, 0, 18, 0})), sense);
  EXPECT_EQ(sense[2], 0x00);  // read once, then cleared
  EXPECT_EQ(sense[12], 0x00);
}
