// Each controller fault of a bench drive changes exactly the reply it names.
#include <gtest/gtest.h>

#include "SimRig.h"
#include "sim/UserData.h"

using namespace qk;
using namespace qk::sim;
using namespace qk::sim::test;

namespace {

const std::string kWbg = "Flash=WBG\nChannel=4\nBank=2\nSectors=100000\n";

Bytes programImage(const char* tag) {
  Bytes img(64512, 0x66);
  std::memcpy(img.data() + 64, tag, 4);
  std::fill(img.begin() + 0x500, img.begin() + 0x578, 0);
  img[0x500] = 0x81;
  img[0x501] = 0x02;
  img[0x503] = 4;
  img[0x504] = 2;
  return img;
}

bool loadProgram(Rig& r, const char* tag) {
  Bytes img = programImage(tag);
  return r.cmd(vendorBlock(0x81)) && r.cmd(vendorBlock(0x83, {0})) &&
         r.cmd(vendorBlock(0x87, {3, 0x40, 0, 0, 0}), DataDirection::Out, img.data(), 126) &&
         r.cmd(vendorBlock(0x82));
}

Bytes head(const Bytes& b, size_t n, size_t from = 0) { return Bytes(b.begin() + from, b.begin() + from + n); }

Bytes rw10(std::uint8_t op, std::uint32_t lba, std::uint16_t count) {
  return {op, 0, static_cast<std::uint8_t>(lba >> 24), static_cast<std::uint8_t>(lba >> 16),
          static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba), 0,
          static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count), 0};
}

}  // namespace

TEST(SimFaults, FlashIdOfOneChip) {
  auto r = usbRig(kWbg + "FaultFlashId=0:1 EC D7 94 7A 54\n");
  EXPECT_EQ(head(r->in(vendorBlock(0x88, {0, 1})), 5), (Bytes{0xEC, 0xD7, 0x94, 0x7A, 0x54}));
  EXPECT_EQ(head(r->in(vendorBlock(0x88, {0, 0})), 5), (Bytes{0x5A, 0xD7, 0x94, 0x7A, 0x44}));
  EXPECT_EQ(head(r->in(vendorBlock(0x88, {1, 1})), 5), (Bytes{0x5A, 0xD7, 0x94, 0x7A, 0x44}));
}

TEST(SimFaults, DetectionRecordShape) {
  auto r = bridgedRig(kWbg + "FaultDetect=2:1\n");
  ASSERT_TRUE(loadProgram(*r, "GDP_"));
  EXPECT_EQ(head(r->in(vendorBlock(0x05)), 9), (Bytes{0x5A, 0xD7, 0x94, 0x7A, 0x44, 2, 0, 2, 1}));
}

TEST(SimFaults, BusAreaRoundReadsBackAWrongWord) {
  auto r = usbRig(kWbg + "FaultBus=1:3\n");
  ASSERT_TRUE(loadProgram(*r, "TST_"));
  Bytes area(32768, 0x11);
  for (std::uint8_t a : {0, 1}) {
    for (int round = 0; round < 5; ++round) {
      ASSERT_TRUE(r->cmd(vendorBlock(0x04, {a, 0xB0, 0x02, 0x10, 0x00}), DataDirection::Out, area.data(), 64));
      Bytes back = r->in(vendorBlock(0x03, {a, 0xB0, 0x02, 0x10, 0x00}), 64);
      const bool wrong = a == 1 && round == 3;
      EXPECT_EQ(back == area, !wrong) << "area " << int(a) << " round " << round;
      if (wrong) {
        EXPECT_EQ(head(back, 4, 198), (Bytes{0x11, 0x11, 0xEE, 0xEE}));
      }
    }
  }
}

TEST(SimFaults, DramRegisterAndStatus) {
  auto r = bridgedRig(kWbg + "FaultDram=register\n");
  ASSERT_TRUE(loadProgram(*r, "TST_"));
  for (std::uint8_t j = 0; j < 32; ++j) ASSERT_TRUE(r->cmd(vendorBlock(0x85, {0, 2, 0, j, j})));
  for (std::uint8_t j = 0; j < 32; ++j) {
    EXPECT_EQ(r->status(vendorBlock(0x84, {0, 2, 0, j})), j == 7 ? (7 ^ 0xFF) : j);
  }

  auto s = usbRig(kWbg + "FaultDram=status:9\n");
  ASSERT_TRUE(loadProgram(*s, "TST_"));
  Bytes pattern(512);
  ASSERT_TRUE(s->cmd(vendorBlock(0x05, {0, 0, 2, 0, 0, 4, 0, 0, 0}), DataDirection::Out, pattern.data(), 1));
  EXPECT_EQ(s->status(vendorBlock(0x00)), 0xAA);
  EXPECT_EQ(s->status(vendorBlock(0x00)), 9);
}

TEST(SimFaults, FlashInterfaceEntries) {
  auto r = usbRig(kWbg + "FaultInterface=7:0:1,7:3:0\n");
  ASSERT_TRUE(loadProgram(*r, "TST_"));
  EXPECT_EQ(head(r->in(vendorBlock(0x01, {1, 0x02, 0x5A})), 2), (Bytes{1, 7}));
  EXPECT_EQ(head(r->in(vendorBlock(0x01, {2, 0x02, 0x5A})), 2), (Bytes{1, 0xFF}));
  Bytes report = r->in(vendorBlock(0x02));
  EXPECT_EQ(head(report, 16), (Bytes{2, 0, 0, 0, 0, 1, 7, 0, 3, 0, 7, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(SimFaults, PreformatFailsWithItsEntries) {
  auto r = bridgedRig(kWbg + "FaultPreformat=3:0:1:0:120,5:0:0:0:300\n");
  ASSERT_TRUE(loadProgram(*r, "GDP_"));
  ASSERT_TRUE(r->cmd(vendorBlock(0x03, {0x08})));
  EXPECT_EQ(r->status(vendorBlock(0x00)), 0xAA);
  EXPECT_EQ(r->status(vendorBlock(0x00)), 0xAA);
  EXPECT_EQ(r->status(vendorBlock(0x00)), 0x01);
  Bytes rec = r->in(vendorBlock(0x06), 4);
  EXPECT_EQ(rec[0], 2);
  EXPECT_EQ(head(rec, 6, 1), (Bytes{3, 0, 1, 0, 120, 0}));
  EXPECT_EQ(head(rec, 6, 17), (Bytes{5, 0, 0, 0, 0x2C, 0x01}));
  // Task 1 and the block list are untouched.
  ASSERT_TRUE(r->cmd(vendorBlock(0x01, {0x10})));
  EXPECT_EQ(r->status(vendorBlock(0x00)), 14);
}

TEST(SimFaults, SystemBlockListReply) {
  auto r = usbRig(kWbg + "FaultSystemBlocks=0x10,0x10,0x20,0xFFFF\n");
  ASSERT_TRUE(loadProgram(*r, "GDP_"));
  EXPECT_EQ(head(r->in(vendorBlock(0x07)), 8), (Bytes{0x10, 0, 0x10, 0, 0x20, 0, 0xFF, 0xFF}));
  EXPECT_EQ(r->in(vendorBlock(0x06), 4)[0], 0);
}

TEST(SimFaults, BadBlocksMoveTheSystemBlocks) {
  // Two bad blocks only move the list.
  auto r = usbRig(kWbg + "FactoryBad=0:0:0,3:0:2\n");
  ASSERT_TRUE(loadProgram(*r, "GDP_"));
  EXPECT_EQ(head(r->in(vendorBlock(0x07)), 8), (Bytes{1, 0, 3, 0, 4, 0, 5, 0}));
  EXPECT_EQ(r->in(vendorBlock(0x06), 4)[0], 0);
}

TEST(SimFaults, FirmwareBadBlockList) {
  auto r = usbRig(kWbg + "State=ready\nFaultLaterBad=1:0x120:0x01,5:0x33:0x02:0x04\n");
  Bytes list = r->in(vendorBlock(0x00, {0, 0}), 64);
  EXPECT_EQ(head(list, 18), (Bytes{2, 0, 0, 0, 0x20, 0x01, 1, 0x01, 0, 0, 0, 0x33, 0, 5, 0x02, 0x04, 0, 0}));
}

TEST(SimFaults, BusyTasksNeverFinishWhileTheDriveAnswers) {
  auto r = bridgedRig(kWbg + "FaultBusy=preformat,dram\n");
  ASSERT_TRUE(loadProgram(*r, "GDP_"));
  ASSERT_TRUE(r->cmd(vendorBlock(0x03, {0x08})));
  for (int i = 0; i < 50; ++i) ASSERT_EQ(r->status(vendorBlock(0x00)), 0xAA);
  EXPECT_EQ(r->in(vendorBlock(0x05))[7], 4);
  ASSERT_TRUE(r->cmd(vendorBlock(0x01, {0x00})));
  EXPECT_EQ(r->status(vendorBlock(0x00)), 14);

  ASSERT_TRUE(loadProgram(*r, "TST_"));
  Bytes pattern(512);
  ASSERT_TRUE(r->cmd(vendorBlock(0x05, {0, 0, 2, 0, 0, 4, 0, 0, 0}), DataDirection::Out, pattern.data(), 1));
  for (int i = 0; i < 50; ++i) ASSERT_EQ(r->status(vendorBlock(0x00)), 0xAA);
}

TEST(SimFaults, AHungDriveFailsEveryRequestAfterItsTimeOutUntilPowerCycled) {
  auto r = bridgedRig(kWbg + "FaultHang=identify\n");
  r->inquiry();
  EXPECT_TRUE(r->lastOk);
  const auto before = r->clock.nowMs();
  PassThroughResult id = r->send({0xA1, 0x08, 0x0B, 0, 1, 0, 0, 0, 0xE0, 0xEC, 0, 0}, DataDirection::In, nullptr, 0,
                                 7000);
  EXPECT_FALSE(id.completed);
  EXPECT_EQ(r->clock.nowMs() - before, 7000);
  r->inquiry();
  EXPECT_FALSE(r->lastOk);
  EXPECT_FALSE(r->cmd(vendorBlock(0x81)));
  r->bench->unplug("Drive1");
  r->bench->plug("Drive1");
  r->inquiry();
  EXPECT_TRUE(r->lastOk);
}

TEST(SimFaults, HangTriggers) {
  Bytes sector(512, 0);
  {
    auto r = usbRig(kWbg + "FaultHang=download\n");
    Bytes page(4 * 4096, 1);
    EXPECT_TRUE(r->cmd(vendorBlock(0x8B, {8, 0, 0, 0})));
    EXPECT_FALSE(r->cmd(vendorBlock(0x8A, {8, 0, 0, 0, 0, 0, 0, 0}), DataDirection::Out, page.data(), 32));
    EXPECT_FALSE(r->cmd(vendorBlock(0x80), DataDirection::In, sector.data(), 1));
  }
  {
    auto r = bridgedRig(kWbg + "FaultHang=download\n");
    Bytes page(4 * 4096, 1);
    EXPECT_FALSE(r->cmd(vendorBlock(0x8A, {8, 0, 0, 0, 0, 0, 0, 0}), DataDirection::Out, page.data(), 32));
    r->identify();
    EXPECT_FALSE(r->lastOk);
  }
  {
    auto r = usbRig(kWbg + "FaultHang=format\n");
    FillTestPattern(0, 1, sector.data());
    EXPECT_TRUE(Rig::good(r->send(rw10(0x2A, 0, 1), DataDirection::Out, sector.data(), 512)));
    sector[510] = 0x55;
    sector[511] = 0xAA;
    EXPECT_TRUE(Rig::good(r->send(rw10(0x2A, 1, 1), DataDirection::Out, sector.data(), 512)));
    EXPECT_FALSE(r->send(rw10(0x2A, 0, 1), DataDirection::Out, sector.data(), 512).completed);
  }
  {
    auto r = usbRig(kWbg + "FaultHang=rw\n");
    r->inquiry();
    EXPECT_TRUE(r->lastOk);
    EXPECT_FALSE(r->send(rw10(0x28, 5, 1), DataDirection::In, sector.data(), 512).completed);
    r->lastLba();
    EXPECT_FALSE(r->lastOk);
  }
  {
    // The system's own probing (INQUIRY, READ) does not move the count: the
    // third vendor command hangs wherever the drive is attached, and a power
    // cycle starts the count again.
    auto r = usbRig(kWbg + "FaultHang=vendor:3\n");
    for (int round = 0; round < 2; ++round) {
      r->inquiry();
      EXPECT_TRUE(Rig::good(r->send(rw10(0x28, 5, 1), DataDirection::In, sector.data(), 512)));
      EXPECT_TRUE(r->cmd(vendorBlock(0x81)));
      r->inquiry();
      EXPECT_TRUE(r->cmd(vendorBlock(0x83)));
      EXPECT_FALSE(r->cmd(vendorBlock(0x80), DataDirection::In, sector.data(), 1));
      r->inquiry();
      EXPECT_FALSE(r->lastOk);
      r->bench->unplug("Drive1");
      r->bench->plug("Drive1");
    }
  }
  {
    auto r = usbRig(kWbg + "FaultHang=inquiry\n");
    EXPECT_TRUE(r->cmd(vendorBlock(0x81)));
    r->inquiry();
    EXPECT_FALSE(r->lastOk);
  }
}

TEST(SimFaults, CorruptWordReadsBackFlipped) {
  auto r = usbRig(kWbg + "FaultCorrupt=4096:300\n");
  Bytes block(128 * 512);
  FillTestPattern(4096, 128, block.data());
  ASSERT_TRUE(Rig::good(r->send(rw10(0x2A, 4096, 128), DataDirection::Out, block.data(), 65536)));
  Bytes back(65536);
  ASSERT_TRUE(Rig::good(r->send(rw10(0x28, 4096, 128), DataDirection::In, back.data(), 65536)));
  size_t differing = 0;
  for (size_t w = 0; w < 32768; ++w) {
    if (back[2 * w] != block[2 * w] || back[2 * w + 1] != block[2 * w + 1]) ++differing;
  }
  EXPECT_EQ(differing, 1u);
  EXPECT_EQ(le16(&block[600]), 0x012C);
  EXPECT_EQ(le16(&back[600]), 0xFED3);
  // The same word seen from a read that starts at the next sector.
  Bytes one(512);
  ASSERT_TRUE(Rig::good(r->send(rw10(0x28, 4097, 1), DataDirection::In, one.data(), 512)));
  EXPECT_EQ(le16(&one[88]), 0xFED3);
}

TEST(SimFaults, MediumErrorsEndWithCheckCondition) {
  auto r = bridgedRig(kWbg + "FaultReadError=8192\nFaultWriteError=9000-9001\n");
  Bytes data(8 * 512);
  PassThroughResult rd = r->send(rw10(0x28, 8190, 8), DataDirection::In, data.data(), 4096);
  EXPECT_TRUE(rd.completed);
  EXPECT_EQ(rd.scsiStatus, kScsiStatusCheckCondition);
  EXPECT_EQ(rd.transferred, 1024u);
  PassThroughResult wr = r->send(rw10(0x2A, 8996, 8), DataDirection::Out, data.data(), 4096);
  EXPECT_EQ(wr.scsiStatus, kScsiStatusCheckCondition);
  EXPECT_TRUE(Rig::good(r->send(rw10(0x28, 8200, 8), DataDirection::In, data.data(), 4096)));
}
