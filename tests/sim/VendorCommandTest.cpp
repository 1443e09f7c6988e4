// The drive's answers to hand-built vendor command blocks, on both paths.
#include <gtest/gtest.h>

#include "SimRig.h"

using namespace qk;
using namespace qk::sim;
using namespace qk::sim::test;

namespace {

// WBG: ID word 0x0281 (4 KiB pages, 64 pages per block, 8192 blocks), two
// chip enables per package, ID bytes 5A D7 94 7A 44.
const std::string kWbg = "Flash=WBG\nChannel=4\nBank=2\nSectors=100000\n";
constexpr std::uint32_t kPage = 4096;

// A RAM program image: tag at 64, flash parameter record at 0x500.
Bytes programImage(const char* tag, std::uint16_t idWord = 0x0281, std::uint8_t channels = 4, std::uint8_t banks = 2) {
  Bytes img(64512, 0x66);
  std::memcpy(img.data() + 64, tag, 4);
  std::fill(img.begin() + 0x500, img.begin() + 0x578, 0);
  img[0x500] = static_cast<std::uint8_t>(idWord);
  img[0x501] = static_cast<std::uint8_t>(idWord >> 8);
  img[0x503] = channels;
  img[0x504] = banks;
  return img;
}

// Restart into the ROM, write the image to area 3 at 0x40000000, run it.
bool loadProgram(Rig& r, Bytes img) {
  return r.cmd(vendorBlock(0x81)) && r.cmd(vendorBlock(0x83, {0})) &&
         r.cmd(vendorBlock(0x87, {3, 0x40, 0, 0, 0}), DataDirection::Out, img.data(), 126) &&
         r.cmd(vendorBlock(0x82));
}

Block pageBlock(std::uint8_t sub, std::uint8_t channel, std::uint8_t ce, std::uint16_t block, std::uint16_t page) {
  return vendorBlock(sub, {channel, ce, static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(block),
                           static_cast<std::uint8_t>(page >> 8), static_cast<std::uint8_t>(page), 0, 0});
}

// One page per channel, each filled with channel + seed.
Bytes channelPages(int channels, std::uint8_t seed) {
  Bytes d(static_cast<size_t>(channels) * kPage);
  for (int c = 0; c < channels; ++c) std::fill_n(d.begin() + c * kPage, kPage, static_cast<std::uint8_t>(seed + c));
  return d;
}

}  // namespace

TEST(SimLoader, BootRomNamesItselfOnBothPaths) {
  auto usb = usbRig(kWbg);
  Bytes inq = usb->inquiry();
  EXPECT_EQ(std::string(inq.begin() + 8, inq.begin() + 31), "Generic FCR USB Loader ");

  auto sata = bridgedRig(kWbg);
  Bytes id = sata->identify();
  ASSERT_TRUE(sata->lastOk);
  EXPECT_EQ(Rig::ataText(id, 27, 20), "Generic FCR SATA Loader Loader Device");
}

TEST(SimLoader, LoaderInfoTellsStateShapeAndSequence) {
  auto r = usbRig(kWbg);
  Bytes info = r->in(vendorBlock(0x80));
  ASSERT_TRUE(r->lastOk);
  EXPECT_EQ(std::string(info.begin(), info.begin() + 8), "QKLDRINF");
  EXPECT_EQ(info[8], 0);
  EXPECT_EQ(info[9], 4);
  EXPECT_EQ(info[10], 2);
  EXPECT_EQ(info[11], 8);
  EXPECT_EQ(le16(&info[12]), 64);
  EXPECT_EQ(le16(&info[14]), 8192);
  EXPECT_EQ(Bytes(info.begin() + 16, info.begin() + 21), (Bytes{0x5A, 0xD7, 0x94, 0x7A, 0x44}));
  EXPECT_EQ(le16(&info[44]), 0);  // no loader area yet
  EXPECT_EQ(info[200], 0);        // the rest of the sector is zero

  ASSERT_TRUE(loadProgram(*r, programImage("GDP_")));
  EXPECT_EQ(r->in(vendorBlock(0x80))[8], 1);
  ASSERT_TRUE(r->cmd(vendorBlock(0x81)));
  EXPECT_EQ(r->in(vendorBlock(0x80))[8], 0);
}

TEST(SimLoader, UntaggedProgramLeavesTheRomRunning) {
  auto r = usbRig(kWbg);
  ASSERT_TRUE(loadProgram(*r, programImage("XXX_")));
  EXPECT_EQ(r->in(vendorBlock(0x80))[8], 0);
  // GDP sub-operations are unknown to the ROM.
  r->in(vendorBlock(0x05));
  EXPECT_FALSE(r->lastOk);
}

TEST(SimPaths, RegisterBytesOnTheUsbPath) {
  auto r = usbRig(kWbg);
  ASSERT_TRUE(r->usb(vendorBlock(0x85, {0x00, 0x02, 0x00, 0x05, 0x37})));
  EXPECT_EQ(r->status(vendorBlock(0x84, {0x00, 0x02, 0x00, 0x05})), 0x37);
  EXPECT_EQ(r->status(vendorBlock(0x84, {0x00, 0x02, 0x00, 0x06})), 0x00);
  // The bridge set-up is taken in any state.
  EXPECT_TRUE(r->usb(vendorBlock(0x32, {1})));
  // A vendor block whose byte 1 is not 0x04 is no vendor command.
  Block wrong = vendorBlock(0x80);
  wrong[1] = 0xE5;
  Bytes d(512);
  EXPECT_FALSE(r->usb(wrong, DataDirection::In, d.data(), 1));
}

TEST(SimPaths, EveryWrapVariantCarriesCommandsBehindABridge) {
  for (int variant = 0; variant < 3; ++variant) {
    SCOPED_TRACE(variant);
    auto r = bridgedRig(kWbg);
    r->variant = variant;
    ASSERT_TRUE(r->cmd(vendorBlock(0x85, {0x00, 0x02, 0x00, 0x01, 0x5C})));
    Bytes s = r->sataIn(vendorBlock(0x84, {0x00, 0x02, 0x00, 0x01}));
    ASSERT_TRUE(r->lastOk);
    EXPECT_EQ(s[0], 0xE5);
    EXPECT_EQ(s[1], 0x5C);
    Bytes id = r->sataIn(vendorBlock(0x88, {0, 1}));
    EXPECT_EQ(Bytes(id.begin(), id.begin() + 6), (Bytes{0x5A, 0xD7, 0x94, 0x7A, 0x44, 0}));
  }
}

TEST(SimPaths, WrappedProtocolIsChecked) {
  auto r = bridgedRig(kWbg);
  std::uint8_t sector[512] = {0xFF, 0xE5, 0x80};
  Bytes d(512);
  // Byte 1 of variant 1 with the ATA command of variant 2.
  Bytes bad = Rig::wrapCdb(true, 1, 0xFF, 2);
  bad[1] = 0x0A;
  EXPECT_FALSE(Rig::good(r->send(bad, DataDirection::Out, sector, 512)));
  // A data phase for another sub-operation than the one waiting.
  ASSERT_TRUE(Rig::good(r->send(Rig::wrapCdb(true, 1, 0xFF, 2), DataDirection::Out, sector, 512)));
  EXPECT_FALSE(Rig::good(r->send(Rig::wrapCdb(false, 1, 0x88, 2), DataDirection::In, d.data(), 512)));
  // ... which also dropped the waiting command.
  EXPECT_FALSE(Rig::good(r->send(Rig::wrapCdb(false, 1, 0x80, 2), DataDirection::In, d.data(), 512)));
  // A command sector must carry FF E5.
  sector[1] = 0x04;
  EXPECT_FALSE(Rig::good(r->send(Rig::wrapCdb(true, 1, 0xFF, 2), DataDirection::Out, sector, 512)));
  // Raw vendor blocks reach a bridged drive only for the bridge set-up.
  EXPECT_FALSE(r->usb(vendorBlock(0x80), DataDirection::In, d.data(), 1));
  EXPECT_TRUE(r->usb(vendorBlock(0x32, {1})));
  // The probe answers the controller's signature.
  ASSERT_TRUE(Rig::good(r->send(Rig::wrapCdb(false, 1, 0xFF, 2), DataDirection::In, d.data(), 512)));
  EXPECT_EQ(Bytes(d.begin(), d.begin() + 4), (Bytes{0xE5, 0x4A, 0x4D, 0x00}));
}

TEST(SimPaths, ANoDataCommandIsOneCommandSector) {
  auto r = bridgedRig(kWbg);
  ASSERT_TRUE(loadProgram(*r, programImage("GDP_")));
  std::uint8_t sector[512] = {0xFF, 0xE5, 0x81, 0x01};
  ASSERT_TRUE(Rig::good(r->send(Rig::wrapCdb(true, 1, 0xFF, 2), DataDirection::Out, sector, 512)));
  EXPECT_EQ(r->in(vendorBlock(0x80))[8], 0);  // the reset ran at once
}

TEST(SimRam, WritesAndReadsBackAcrossPages) {
  auto r = usbRig(kWbg);
  Bytes d(1024);
  for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_TRUE(r->usb(vendorBlock(0x87, {2, 0x00, 0x01, 0x0E, 0x00}), DataDirection::Out, d.data(), 2));
  EXPECT_EQ(r->usbIn(vendorBlock(0x86, {2, 0x00, 0x01, 0x0E, 0x00}), 2), d);
  Bytes other = r->usbIn(vendorBlock(0x86, {1, 0x00, 0x01, 0x0E, 0x00}), 1);
  EXPECT_EQ(other, Bytes(512, 0));  // areas are apart
}

TEST(SimFlash, IdPerChannelAndChipEnable) {
  auto r = usbRig("Flash=WBG\nChannel=2\nBank=3\n");
  const Bytes wbg{0x5A, 0xD7, 0x94, 0x7A, 0x44};
  // Two enables per package: slots 0, 1, 2 have numbers 0, 1, 4.
  auto id = [&](std::uint8_t channel, std::uint8_t ce) {
    Bytes reply = r->in(vendorBlock(0x88, {channel, ce}));
    return Bytes(reply.begin(), reply.begin() + 5);
  };
  for (std::uint8_t ce : {0, 1, 4}) EXPECT_EQ(id(1, ce), wbg);
  Bytes none(5, 0xFF);
  EXPECT_EQ(id(0, 2), none);  // no slot has number 2
  EXPECT_EQ(id(2, 0), none);  // no third channel
}

TEST(SimFlash, PagesProgramOnceAfterAnErase) {
  auto r = usbRig(kWbg);
  Bytes erased = r->in(pageBlock(0x89, 1, 0, 100, 5), 8);
  EXPECT_EQ(erased, Bytes(kPage, 0xFF));

  Bytes first = channelPages(4, 0x10);
  ASSERT_TRUE(r->cmd(pageBlock(0x8A, 8, 0, 100, 5), DataDirection::Out, first.data(), 32));
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(r->in(pageBlock(0x89, static_cast<std::uint8_t>(c), 0, 100, 5), 8),
              Bytes(kPage, static_cast<std::uint8_t>(0x10 + c)));
  }
  // Programming it again fails and keeps the data.
  Bytes second = channelPages(4, 0x40);
  EXPECT_FALSE(r->cmd(pageBlock(0x8A, 8, 0, 100, 5), DataDirection::Out, second.data(), 32));
  EXPECT_EQ(r->in(pageBlock(0x89, 2, 0, 100, 5), 8), Bytes(kPage, 0x12));
  // The other slot and the next page are still erased.
  EXPECT_TRUE(r->cmd(pageBlock(0x8A, 8, 1, 100, 5), DataDirection::Out, second.data(), 32));
  EXPECT_TRUE(r->cmd(pageBlock(0x8A, 8, 0, 100, 6), DataDirection::Out, second.data(), 32));
  // After an erase of all channels it programs again.
  ASSERT_TRUE(r->cmd(vendorBlock(0x8B, {8, 0, 0, 100})));
  EXPECT_TRUE(r->cmd(pageBlock(0x8A, 8, 0, 100, 5), DataDirection::Out, second.data(), 32));
  EXPECT_EQ(r->in(pageBlock(0x89, 3, 0, 100, 5), 8), Bytes(kPage, 0x43));
  // Fewer pages than channels: nothing is programmed.
  EXPECT_FALSE(r->cmd(pageBlock(0x8A, 8, 0, 101, 0), DataDirection::Out, second.data(), 24));
  EXPECT_EQ(r->in(pageBlock(0x89, 0, 0, 101, 0), 8), Bytes(kPage, 0xFF));
  // Outside the array.
  r->in(pageBlock(0x89, 0, 0, 8192, 0), 8);
  EXPECT_FALSE(r->lastOk);
  r->in(pageBlock(0x89, 0, 0, 1, 64), 8);
  EXPECT_FALSE(r->lastOk);
}

TEST(SimFlash, FactoryBadBlocksReadZeroAndRefuseWork) {
  auto r = bridgedRig(kWbg + "FactoryBad=2:0:7\n");
  EXPECT_EQ(r->in(pageBlock(0x89, 2, 0, 7, 0), 8), Bytes(kPage, 0x00));
  EXPECT_EQ(r->in(pageBlock(0x89, 1, 0, 7, 0), 8), Bytes(kPage, 0xFF));
  EXPECT_FALSE(r->cmd(vendorBlock(0x8B, {8, 0, 0, 7})));
  Bytes d = channelPages(4, 1);
  EXPECT_FALSE(r->cmd(pageBlock(0x8A, 8, 0, 7, 0), DataDirection::Out, d.data(), 32));
  // The good channels of that block were still programmed.
  EXPECT_EQ(r->in(pageBlock(0x89, 1, 0, 7, 0), 8), Bytes(kPage, 2));
}

TEST(SimFlash, FirmwarePagesComeInSixteenKibSlotsPerChannel) {
  auto r = usbRig(kWbg);
  Bytes even = channelPages(4, 0x20), odd = channelPages(4, 0x30);
  ASSERT_TRUE(r->cmd(pageBlock(0x8A, 8, 0, 2, 1), DataDirection::Out, even.data(), 32));
  ASSERT_TRUE(r->cmd(pageBlock(0x8A, 8, 0, 3, 1), DataDirection::Out, odd.data(), 32));
  // In the ROM block 3 is the pair 2, 3.
  Bytes got = r->in(vendorBlock(0x04, {0x0F, 0, 0, 3, 0, 1, 0, 0}), 128);
  for (int c = 0; c < 4; ++c) {
    const size_t slot = static_cast<size_t>(c) * 16384;
    EXPECT_EQ(got[slot], 0x20 + c);
    EXPECT_EQ(got[slot + kPage], 0x30 + c);
    EXPECT_EQ(got[slot + 2 * kPage], 0xFF);
  }
  // Channels 4..7 are not fitted.
  EXPECT_EQ(r->in(vendorBlock(0x04, {0xF0, 0, 0, 3, 0, 1, 0, 0}), 128), Bytes(65536, 0xFF));
  // Eight sectors: the first half page of channel 0.
  EXPECT_EQ(r->in(vendorBlock(0x04, {0x0F, 0, 0, 2, 0, 1, 0, 0}), 8), Bytes(kPage, 0x20));
}

TEST(SimGdp, DetectionRecordAndBlockList) {
  auto r = bridgedRig(kWbg + "FactoryBad=1:0:1\n");
  ASSERT_TRUE(loadProgram(*r, programImage("GDP_")));
  Bytes det = r->in(vendorBlock(0x05));
  EXPECT_EQ(Bytes(det.begin(), det.begin() + 9), (Bytes{0x5A, 0xD7, 0x94, 0x7A, 0x44, 2, 0, 4, 2}));
  Bytes list = r->in(vendorBlock(0x07));
  EXPECT_EQ(Bytes(list.begin(), list.begin() + 8), (Bytes{0, 0, 2, 0, 3, 0, 4, 0}));
}

TEST(SimGdp, TasksAreBusyForAWhileThenAnswerTheirValue) {
  auto r = usbRig(kWbg);
  ASSERT_TRUE(loadProgram(*r, programImage("GDP_")));
  EXPECT_EQ(r->status(vendorBlock(0x00)), 0x00);
  // Task 1 without erase flags checks the factory table: none on a blank drive.
  ASSERT_TRUE(r->cmd(vendorBlock(0x01, {0x00})));
  EXPECT_EQ(r->status(vendorBlock(0x00)), 2);
  ASSERT_TRUE(r->cmd(vendorBlock(0x03, {0x08})));
  EXPECT_EQ(r->status(vendorBlock(0x00)), 0xAA);
  EXPECT_EQ(r->status(vendorBlock(0x00)), 0xAA);
  EXPECT_EQ(r->status(vendorBlock(0x00)), 10);
  EXPECT_EQ(r->status(vendorBlock(0x00)), 10);
  ASSERT_TRUE(r->cmd(vendorBlock(0x01, {0x10})));
  EXPECT_EQ(r->status(vendorBlock(0x00)), 14);
  // Task 1 with 0x10 erased the system area: task 4 finds no table.
  ASSERT_TRUE(r->cmd(vendorBlock(0x04, {0x00})));
  EXPECT_EQ(r->status(vendorBlock(0x00)), 0xAA);
  EXPECT_EQ(r->status(vendorBlock(0x00)), 0x01);
  Bytes rec = r->in(vendorBlock(0x06), 4);
  EXPECT_EQ(rec[0], 1);
  EXPECT_EQ(rec[1], 1);      // kind 1: page does not exist
  EXPECT_EQ(le16(&rec[5]), 1);  // the defect page
}

TEST(SimGdp, AProgramPatchedForAnotherShapeFailsItsTasks) {
  for (auto img : {programImage("GDP_", 0x0281, 2, 2), programImage("GDP_", 0x0281, 4, 1),
                   programImage("GDP_", 0x0282, 4, 2)}) {
    auto r = bridgedRig(kWbg);
    ASSERT_TRUE(loadProgram(*r, img));
    ASSERT_TRUE(r->cmd(vendorBlock(0x03, {0x08})));
    EXPECT_EQ(r->status(vendorBlock(0x00)), 0x01);
    Bytes rec = r->in(vendorBlock(0x06), 4);
    EXPECT_EQ(rec[0], 2);
    EXPECT_EQ(rec[1], 0x81);
    EXPECT_EQ(rec[1 + 13], 4);
    EXPECT_EQ(rec[1 + 14], 2);
    EXPECT_EQ(rec[17], 6);
    // Nothing was written.
    EXPECT_EQ(r->in(pageBlock(0x89, 0, 0, 0, 1), 8), Bytes(kPage, 0xFF));
  }
}

TEST(SimTestProgram, BusAreasTestsAndDram) {
  auto r = bridgedRig(kWbg);
  ASSERT_TRUE(loadProgram(*r, programImage("TST_")));
  Bytes area(32768);
  for (size_t i = 0; i < area.size(); ++i) area[i] = static_cast<std::uint8_t>(i ^ 0x5A);
  ASSERT_TRUE(r->cmd(vendorBlock(0x04, {1, 0xB0, 0x02, 0x10, 0x00}), DataDirection::Out, area.data(), 64));
  EXPECT_EQ(r->in(vendorBlock(0x03, {1, 0xB0, 0x02, 0x10, 0x00}), 64), area);
  EXPECT_EQ(r->in(vendorBlock(0x03, {0, 0xB0, 0x02, 0x10, 0x00}), 64), Bytes(32768, 0));

  for (std::uint8_t test : {1, 2, 3}) {
    Bytes t = r->in(vendorBlock(0x01, {test, 0x02, 0x5A}));
    EXPECT_EQ(t[0], 1);
    EXPECT_EQ(t[1], 0xFF);
  }
  Bytes report = r->in(vendorBlock(0x02));
  EXPECT_EQ(Bytes(report.begin(), report.begin() + 8), (Bytes{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));

  Bytes pattern(512);
  ASSERT_TRUE(r->cmd(vendorBlock(0x05, {0, 0x00, 0x02, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00}), DataDirection::Out,
                     pattern.data(), 1));
  EXPECT_EQ(r->status(vendorBlock(0x00)), 0xAA);
  EXPECT_EQ(r->status(vendorBlock(0x00)), 21);
}

TEST(SimFirmwareList, BadBlockListIsEmptyWithoutFaults) {
  auto r = usbRig(kWbg);
  Bytes list = r->in(vendorBlock(0x00, {0, 0}), 64);
  ASSERT_TRUE(r->lastOk);
  EXPECT_EQ(list, Bytes(64 * 512, 0));
}
