// Each production step against the simulated drive, on both paths: passing on
// a healthy drive, failing with its record on a drive with the matching fault.
#include <gtest/gtest.h>

#include <set>

#include "BenchRig.h"

using namespace qk;
using qk::test::BenchRig;

namespace {

class Steps : public ::testing::TestWithParam<const char*> {
 protected:
  bool usb() const { return std::string(GetParam()) == test::kUsbToken; }
};

}  // namespace

TEST_P(Steps, HealthyDrivePassesEveryStep) {
  BenchRig rig(GetParam(), "Temperature=45\n");
  ASSERT_TRUE(rig.ops);
  EXPECT_EQ(rig.state.transportPath(), usb() ? TransportPath::UsbPath : TransportPath::SataPath);
  auto& s = *rig.steps;
  EXPECT_TRUE(s.FlashModuleTest(rig.work()));
  EXPECT_EQ(rig.work()[0], 1);
  EXPECT_EQ(rig.work()[1], kReportDetectChecked);
  EXPECT_TRUE(s.BusInterfaceTest(rig.work()));
  std::uint8_t code = 0xEE;
  EXPECT_TRUE(s.FlashInterfaceTest(rig.work(), &code));
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(s.DramTest(rig.work()));
  EXPECT_TRUE(s.EraseSearch(rig.work()));
  EXPECT_TRUE(s.Preformat(rig.work(), {true, true, false}));
  EXPECT_TRUE(s.FindSystemBlocks(rig.work()));
  const SystemBlockList& list = rig.ctx.loader.systemBlocks;
  EXPECT_EQ(list.count, 4);
  EXPECT_EQ(std::set<std::uint16_t>(list.blocks.begin(), list.blocks.end()).size(), 4u);
  EXPECT_TRUE(s.FinishTables(rig.work()));
  std::uint8_t temperature = 0;
  // The temperature comes through SMART on the bridge only.
  EXPECT_TRUE(s.CheckTemperature(rig.work(), 50, temperature));
  EXPECT_EQ(temperature, usb() ? 0 : 45);
  EXPECT_EQ(s.CheckTemperature(rig.work(), 40, temperature), usb());
}

TEST_P(Steps, WrongChipIdAndOtherLayoutFailTheModuleTest) {
  BenchRig rig(GetParam(), "FaultFlashId=0:1 5A D7 94 7B 44\n");
  ASSERT_TRUE(rig.ops);
  EXPECT_FALSE(rig.steps->FlashModuleTest(rig.work()));
  const std::uint8_t* w = rig.work();
  EXPECT_EQ(w[0], 2);
  EXPECT_EQ(w[1], kReportComparing);
  EXPECT_EQ(w[18], kEntryWrongId);
  EXPECT_EQ(w[19], 0);  // channel
  EXPECT_EQ(w[20], 1);  // chip-enable index
  EXPECT_EQ(std::vector<std::uint8_t>(w + 24, w + 29), (std::vector<std::uint8_t>{0x5A, 0xD7, 0x94, 0x7B, 0x44}));
  // Without the 4th ID byte in the mask the same chip passes.
  rig.ctx.params.CheckFlashMask = 0x17;
  EXPECT_TRUE(rig.steps->FlashModuleTest(rig.work()));

  BenchRig other(GetParam(), "FaultDetect=2:2\n");
  EXPECT_FALSE(other.steps->FlashModuleTest(other.work()));
  w = other.work();
  EXPECT_EQ(w[0], 2);
  EXPECT_EQ(w[1], kReportDetectChecked);
  EXPECT_EQ(w[18], kEntryLayoutDiffers);
  EXPECT_EQ(w[18 + 13], 2);
  EXPECT_EQ(w[18 + 14], 2);
}

TEST_P(Steps, TestProgramFaults) {
  BenchRig bus(GetParam(), "FaultBus=1:3\n");
  EXPECT_FALSE(bus.steps->BusInterfaceTest(bus.work()));

  BenchRig reg(GetParam(), "FaultDram=register\n");
  EXPECT_FALSE(reg.steps->DramTest(reg.work()));
  BenchRig status(GetParam(), "FaultDram=status:5\n");
  EXPECT_FALSE(status.steps->DramTest(status.work()));

  BenchRig iface(GetParam(), "FaultInterface=7:0:1,4:3:0\n");
  std::uint8_t code = 0;
  EXPECT_FALSE(iface.steps->FlashInterfaceTest(iface.work(), &code));
  EXPECT_EQ(code, kInterfaceFirstCheck);
  // The test report: entries of channel, bank, kind from offset 4.
  const std::uint8_t* w = iface.work();
  EXPECT_EQ(std::vector<std::uint8_t>(w + 4, w + 7), (std::vector<std::uint8_t>{0, 1, 7}));
  EXPECT_EQ(std::vector<std::uint8_t>(w + 8, w + 11), (std::vector<std::uint8_t>{3, 0, 4}));
}

TEST_P(Steps, GdpTaskFaults) {
  BenchRig pre(GetParam(), "FaultPreformat=3:0:1:0:120\n");
  EXPECT_FALSE(pre.steps->Preformat(pre.work(), {}));
  const std::uint8_t* w = pre.work();
  EXPECT_EQ(w[0], 1);
  EXPECT_EQ(std::vector<std::uint8_t>(w + 1, w + 7), (std::vector<std::uint8_t>{3, 0, 1, 0, 120, 0}));

  BenchRig blocks(GetParam(), "FaultSystemBlocks=0x10,0x10,0x20,0xFFFF\n");
  EXPECT_FALSE(blocks.steps->FindSystemBlocks(blocks.work()));
  EXPECT_EQ(blocks.ctx.loader.systemBlocks.count, 2);
  EXPECT_EQ(blocks.ctx.loader.systemBlocks.blocks[0], 0x10);
  EXPECT_EQ(blocks.ctx.loader.systemBlocks.blocks[1], 0x20);
  EXPECT_FALSE(blocks.steps->FinishTables(blocks.work()));

  // Erase search polls once: a task that stays busy fails after one 3 s wait.
  BenchRig erase(GetParam(), "FaultBusy=erase\n");
  const auto before = erase.clock.totalSlept();
  EXPECT_FALSE(erase.steps->EraseSearch(erase.work()));
  EXPECT_EQ(erase.clock.totalSlept() - before, 2000 + 500 + 30 + 3000);
}

TEST_P(Steps, BusyPreformatEndsOnlyWithThePortsStop) {
  BenchRig rig(GetParam(), "FaultBusy=preformat\n");
  rig.clock.stopAtMs = 10 * 60 * 1000;
  EXPECT_FALSE(rig.steps->Preformat(rig.work(), {}));
  EXPECT_TRUE(rig.clock.source.stop_requested());
  EXPECT_GE(rig.clock.nowMs(), rig.clock.stopAtMs);
  EXPECT_LT(rig.clock.nowMs(), rig.clock.stopAtMs + 3000 + 1);
}

TEST_P(Steps, WrongArrayShapeFailsTheGdpTasks) {
  // The profile says 4 channels, the drive has 2: the patched program refuses.
  BenchRig rig(GetParam(), "", 4, 2);
  BenchRig two(GetParam(), "", 2, 2);
  two.ctx.params.Channel = 4;
  EXPECT_FALSE(two.steps->Preformat(two.work(), {}));
  EXPECT_EQ(two.work()[1], kEntryLayoutDiffers);
  EXPECT_TRUE(rig.steps->Preformat(rig.work(), {}));
}

TEST(BenchTrace, CommandBlocksLeaveAsTheTablesGiveThem) {
  BenchRig rig(test::kBridgeToken);
  ASSERT_TRUE(rig.ops);
  ASSERT_TRUE(rig.ops->RestartController(0, 0));
  std::array<std::uint8_t, 512> id{};
  ASSERT_EQ(rig.ops->vendor().ReadFlashId(1, 1, id.data(), 1), 1);
  const std::string want =
      "Drive1\tin\t12 00 00 00 28 00 00 00 00 00 00 00\t40\tok\n"
      "Drive1\tout\tA1 16 03 00 01 FF 34 12 E0 88 00 00\t512\tok\tFF E5 81 01 00 00 00 00 00 00 00 00 00 00 00 00\n"
      "Drive1\tout\tA1 16 03 00 01 FF 34 12 E0 88 00 00\t512\tok\tFF E5 83 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
      "Drive1\tnone\tA1 06 00 DC 4A 00 00 00 E0 EF 00 00\t0\tok\n"
      "Drive1\tout\tA1 16 03 00 01 FF 34 12 E0 88 00 00\t512\tok\tFF E5 88 01 01 00 00 00 00 00 00 00 00 00 00 00\n"
      "Drive1\tin\tA1 14 0B 00 01 88 34 12 E0 86 00 00\t512\tok\n";
  EXPECT_EQ(rig.dir.read("trace.txt"), want);
  EXPECT_EQ(std::vector<std::uint8_t>(id.begin(), id.begin() + 5),
            (std::vector<std::uint8_t>{0x5A, 0xD7, 0x94, 0x7A, 0x44}));
}

INSTANTIATE_TEST_SUITE_P(BothPaths, Steps, ::testing::Values(test::kUsbToken, test::kBridgeToken),
                         [](const auto& info) { return std::string(info.param) == test::kUsbToken ? "Usb" : "Sata"; });
