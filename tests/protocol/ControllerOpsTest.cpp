// Composed operations against a scripted drive: waits, polls, page assembly,
// and the steps' handling of replies a healthy simulated drive never gives.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <vector>

#include "protocol/ControllerOps.h"
#include "protocol/ProductionSteps.h"
#include "support/TempDir.h"
#include "transport/TransportTestSupport.h"

using namespace qk;

namespace {

// Answers vendor blocks on either path: `reply` gets the 12-byte block and the
// data buffer of its data phase; false fails the command on the link.
class ScriptedDrive {
 public:
  using Reply = std::function<bool(const std::array<std::uint8_t, 12>& block, std::uint8_t* data, std::uint32_t length)>;

  ScriptedDrive(TransportPath path) {
    state.setTransportPath(path);
    pt.answer = [this](const PassThroughRequest& r) { return answer(r); };
    dir.write("GDP.bin", std::string(1024, 'G').replace(64, 4, "GDP_"));
    dir.write("satatest.bin", std::string(1024, 'T').replace(64, 4, "TST_"));
    ctx.devicePath = "/dev/scripted";
    ctx.programs = {dir.file("GDP.bin"), dir.file("satatest.bin")};
    ctx.params.Channel = 2;
    ctx.params.Bank = 1;
    ctx.params.geometry.PageSectors = 8;
    ctx.params.geometry.CEMap = {0, 0, 0, 0, 0, 0, 0, 0};
  }

  // Sub-operations seen, in order (vendor blocks only).
  std::vector<std::uint8_t> subops;
  Reply reply = [](const auto&, std::uint8_t*, std::uint32_t) { return true; };
  std::function<PassThroughResult(const PassThroughRequest&)> other;  // non-vendor commands

  test::TempDir dir;
  test::RecordingPassThrough pt;
  VirtualClock clock;
  TransportState state;
  DeviceTransport transport{pt, clock, state};
  ControllerContext ctx;
  ControllerOps ops{transport, ctx};
  ProductionSteps steps{ops};

 private:
  PassThroughResult answer(const PassThroughRequest& r) {
    PassThroughResult res;
    res.sent = res.completed = true;
    res.transferred = r.length;
    std::array<std::uint8_t, 12> block{};
    if (r.cdb[0] == 0xFF) {
      std::copy_n(r.cdb, 12, block.begin());
    } else if (r.cdb[0] == 0xA1 && r.cdb[5] == 0xFF && (r.cdb[9] == 0x88 || r.cdb[9] == 0x8F || r.cdb[9] == 0xC5)) {
      std::copy_n(r.buffer, 12, pending_.begin());
      if (dataPhase(pending_)) return res;
      block = pending_;
    } else if (r.cdb[0] == 0xA1 && r.cdb[5] == pending_[2] && r.cdb[9] != 0xEC && r.cdb[9] != 0xEF &&
               r.cdb[9] != 0xB0) {
      block = pending_;
    } else {
      if (other) return other(r);
      if (r.buffer && r.direction == DataDirection::In) std::fill(r.buffer, r.buffer + r.length, 0);
      return res;
    }
    subops.push_back(block[2]);
    if (r.buffer && r.direction == DataDirection::In) std::fill(r.buffer, r.buffer + r.length, 0);
    if (!reply(block, r.buffer, r.length)) res.completed = false;
    return res;
  }
  // Sub-operations that carry data wait for their data phase.
  static bool dataPhase(const std::array<std::uint8_t, 12>& b) {
    switch (b[2]) {
      case 0x81: case 0x82: case 0x83: case 0x85: case 0x8B: return false;
      default: return true;
    }
  }
  std::array<std::uint8_t, 12> pending_{};
};

}  // namespace

TEST(ControllerOps, ChipThatDoesNotAnswerFailsTheModuleTest) {
  ScriptedDrive d(TransportPath::UsbPath);
  d.ctx.params.CheckFlashMask = 0;  // even with nothing compared
  d.reply = [](const auto& b, std::uint8_t*, std::uint32_t) { return !(b[2] == 0x88 && b[3] == 1); };
  std::uint8_t* w = d.ctx.buffers.first();
  EXPECT_FALSE(d.steps.FlashModuleTest(w));
  EXPECT_EQ(w[0], 2);
  EXPECT_EQ(w[1], kReportComparing);
  EXPECT_EQ(std::vector<std::uint8_t>(w + 18, w + 34),
            (std::vector<std::uint8_t>{0x83, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(w[34], 0);  // no second entry

  // Every chip readable and nothing compared: the detection record decides.
  d.reply = [](const auto& b, std::uint8_t* data, std::uint32_t) {
    if (b[2] == 0x05) data[7] = 2, data[8] = 1;
    return true;
  };
  EXPECT_TRUE(d.steps.FlashModuleTest(w));
}

TEST(ControllerOps, LoadRamProgramPatchesFillsAndWaits) {
  ScriptedDrive d(TransportPath::UsbPath);
  std::vector<std::uint8_t> sent;
  d.reply = [&](const auto& b, std::uint8_t* data, std::uint32_t length) {
    if (b[2] == 0x87) sent.assign(data, data + length);
    return true;
  };
  d.ctx.params.TwoPlane = 1;
  std::uint8_t withFlag = 0;
  ASSERT_TRUE(d.ops.LoadRamProgram(RamProgram::Gdp, 0x100, d.ctx.buffers.first(), withFlag));
  EXPECT_EQ(withFlag, 2);
  EXPECT_EQ(d.subops, (std::vector<std::uint8_t>{0x81, 0x83, 0x87, 0x86, 0x82}));
  ASSERT_EQ(sent.size(), 64512u);
  EXPECT_EQ(sent[1023], 'G');
  EXPECT_EQ(sent[1024], 0x66);  // past the end of the file
  EXPECT_EQ(sent[0x503], 2);    // the parameter record went in
  EXPECT_EQ(d.pt.requests[2].cdb, test::bytes({0xFF, 0x04, 0x87, 3, 0x40, 0, 0x01, 0x00, 0, 0, 0, 0}));
  EXPECT_EQ(d.clock.totalSlept(), 2000 + 500);

  // satatest.bin gives no flag; a missing file fails after the restart.
  EXPECT_TRUE(d.ops.LoadRamProgram(RamProgram::Test, 0, d.ctx.buffers.first(), withFlag));
  EXPECT_EQ(withFlag, 0);
  d.ctx.programs.gdp = d.dir.file("missing.bin");
  d.subops.clear();
  EXPECT_FALSE(d.ops.LoadRamProgram(RamProgram::Gdp, 0, d.ctx.buffers.first(), withFlag));
  EXPECT_EQ(d.subops, (std::vector<std::uint8_t>{0x81, 0x83}));
}

TEST(ControllerOps, TaskPollsStopOnBadSignatureAndBusyWithoutWait) {
  ScriptedDrive d(TransportPath::SataPath);
  d.reply = [](const auto& b, std::uint8_t* data, std::uint32_t) {
    if (b[2] == 0x00) data[0] = 0x00, data[1] = 0x0E;  // no E5 signature
    return true;
  };
  std::uint8_t status = 0;
  EXPECT_FALSE(d.ops.RunProgramTask(1, 0x01, status, true));
  EXPECT_EQ(d.clock.totalSlept(), 30);

  int polls = 0;
  d.reply = [&](const auto& b, std::uint8_t* data, std::uint32_t) {
    if (b[2] == 0x00) data[0] = 0xE5, data[1] = ++polls < 3 ? 0xAA : 0x0A;
    return true;
  };
  EXPECT_FALSE(d.ops.RunProgramTask(3, 0x08, status, false));
  EXPECT_EQ(polls, 1);
  polls = 0;
  const auto before = d.clock.totalSlept();
  EXPECT_TRUE(d.ops.RunProgramTask(3, 0x08, status, true));
  EXPECT_EQ(status, 0x0A);
  EXPECT_EQ(d.clock.totalSlept() - before, 30 + 2 * 3000);
}

TEST(ControllerOps, TestStatusTogglesTheBridgeModeBetweenPolls) {
  ScriptedDrive d(TransportPath::SataPath);
  int polls = 0;
  d.reply = [&](const auto& b, std::uint8_t* data, std::uint32_t) {
    if (b[2] == 0x00) data[0] = 0xE5, data[1] = ++polls < 2 ? 0xAA : 0x15;
    return true;
  };
  std::uint8_t status = 0;
  ASSERT_TRUE(d.ops.WaitTestStatus(status, true));
  EXPECT_EQ(status, 0x15);
  EXPECT_EQ(d.clock.totalSlept(), 300);
  std::vector<std::uint8_t> modes;
  for (const auto& r : d.pt.requests) {
    if (r.cdb[9] == 0xEF) modes.push_back(r.cdb[4]);
  }
  EXPECT_EQ(modes, (std::vector<std::uint8_t>{0x4D, 0x4A}));
}

TEST(ControllerOps, LeavingLoaderMode) {
  // Not in loader mode: nothing but the check.
  ScriptedDrive usb(TransportPath::UsbPath);
  EXPECT_TRUE(usb.ops.LeaveLoaderMode(usb.ctx.buffers.first()));
  ASSERT_EQ(usb.pt.requests.size(), 1u);
  EXPECT_EQ(usb.pt.requests[0].cdb[0], 0x12);

  // In loader mode with a header that names two firmware files: boot source 2.
  ScriptedDrive loader(TransportPath::UsbPath);
  int inquiries = 0;
  loader.other = [&](const PassThroughRequest& r) {
    PassThroughResult res;
    res.sent = true;
    ++inquiries;
    res.completed = inquiries == 1 || inquiries == 4;  // the check, then two failed probes
    std::fill(r.buffer, r.buffer + r.length, 0);
    std::memcpy(r.buffer + 8, "Generic FCR USB Loader  ", 24);
    return res;
  };
  loader.reply = [](const auto& b, std::uint8_t* data, std::uint32_t) {
    if (b[2] == 0x89 && b[5] == 0 && b[6] == 1) {
      std::memcpy(data, "LDBK BLOCKS V30", 16);
      data[0x230] = 2;
    }
    return true;
  };
  EXPECT_TRUE(loader.ops.LeaveLoaderMode(loader.ctx.buffers.first()));
  // Blocks 0 and 1, two channels each, then the restart into source 2.
  EXPECT_EQ(loader.subops, (std::vector<std::uint8_t>{0x89, 0x89, 0x89, 0x89, 0x81, 0x83}));
  EXPECT_EQ(loader.pt.requests[6].cdb, test::bytes({0xFF, 0x04, 0x83, 2, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(inquiries, 4);
  EXPECT_EQ(loader.clock.totalSlept(), 2000 + 2 * 1000);

  // Through a bridge: restart (1, 1), 10 s, then eleven probes 1 s apart when none answers.
  ScriptedDrive sata(TransportPath::SataPath);
  int probes = 0;
  sata.other = [&](const PassThroughRequest& r) {
    PassThroughResult res;
    res.sent = res.completed = true;
    if (r.buffer) std::fill(r.buffer, r.buffer + r.length, 0);
    if (r.cdb[9] == 0xEC) {
      const char model[] = "eGenir cCF RASATL aoed roLdareD veci e";  // "Generic FCR SATA Loader Loader Device", swapped
      std::memcpy(r.buffer + 54, model, 38);
    }
    if (r.cdb[9] == 0x86 && r.cdb[5] == 0xFF) ++probes;
    return res;
  };
  EXPECT_TRUE(sata.ops.LeaveLoaderMode(sata.ctx.buffers.first()));
  EXPECT_EQ(probes, 11);
  EXPECT_EQ(sata.clock.totalSlept(), 2000 + 10000 + 10 * 1000);
  std::vector<std::uint8_t> restart;
  for (const auto& r : sata.pt.requests) {
    if (r.cdb[5] == 0xFF && r.cdb[9] == 0x88 && (r.dataOut[2] == 0x81 || r.dataOut[2] == 0x83))
      restart.push_back(r.dataOut[3]);
  }
  EXPECT_EQ(restart, (std::vector<std::uint8_t>{1, 1}));
}

TEST(ControllerOps, FirmwarePagesTakeOnePagePerChannelSlot) {
  ScriptedDrive d(TransportPath::UsbPath);
  d.ctx.params.geometry.PageSectors = 8;  // 4 KiB pages, four to a 16 KiB slot
  d.reply = [](const auto& b, std::uint8_t* data, std::uint32_t length) {
    if (b[2] != 0x04) return true;
    for (std::uint32_t p = 0; p < length; ++p) data[p] = static_cast<std::uint8_t>((b[3] == 0x0F ? 0x10 : 0x40) + p / 4096);
    return true;
  };
  std::uint8_t* buf = d.ctx.buffers.first();
  ASSERT_TRUE(d.ops.ReadFirmwarePages(7, 6, 0, 1, buf, 128));
  std::vector<std::uint8_t> firsts;
  for (int i = 0; i < 8; ++i) firsts.push_back(buf[i * 4096]);
  EXPECT_EQ(firsts, (std::vector<std::uint8_t>{0x10, 0x14, 0x18, 0x1C, 0x40, 0x44, 0x48, 0x4C}));
  // Below 16 KiB one page comes from each pass; an odd parity block takes the page one further.
  ASSERT_TRUE(d.ops.ReadFirmwarePages(7, 6, 0, 1, buf, 8));
  EXPECT_EQ(buf[0], 0x10);
  EXPECT_EQ(buf[4096], 0x40);
  EXPECT_EQ(buf[8192], 0x00);
  ASSERT_TRUE(d.ops.ReadFirmwarePages(7, 5, 0, 1, buf, 16));
  EXPECT_EQ(buf[0], 0x11);
  EXPECT_EQ(buf[4096], 0x41);
}

TEST(ControllerOps, InterfaceTestTakesTheFirstPassingSettingAndNoLostCommand) {
  ScriptedDrive d(TransportPath::UsbPath);
  int test3 = 0;
  d.reply = [&](const auto& b, std::uint8_t* data, std::uint32_t) {
    if (b[2] == 0x01) {
      data[0] = 1;
      data[1] = 0xFF;
      if (b[3] == 3) {
        ++test3;
        const unsigned arg = b[4] << 8 | b[5];
        EXPECT_GE(arg, 256u);
        EXPECT_LE(arg, 1791u);
      }
    }
    return true;
  };
  std::uint8_t code = 0xEE;
  EXPECT_TRUE(d.steps.FlashInterfaceTest(d.ctx.buffers.first(), &code));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(test3, 1);

  // Test 2 lost on the link is no pass.
  d.reply = [](const auto& b, std::uint8_t* data, std::uint32_t) {
    if (b[2] == 0x01) data[0] = 0;  // not answered: counts as 0xFF
    return !(b[2] == 0x01 && b[3] == 2);
  };
  EXPECT_FALSE(d.steps.FlashInterfaceTest(d.ctx.buffers.first(), &code));
  EXPECT_EQ(code, kInterfaceSecondCheck);
}

TEST(ControllerOps, PageReadsNeverPassTheWorkBuffer) {
  ScriptedDrive d(TransportPath::UsbPath);
  d.ctx.params.Channel = 16;  // a profile value beyond the drive family's channels
  d.ctx.params.geometry.PageSectors = 16;
  EXPECT_FALSE(d.ops.ReadPageAllChannels(8, 0, 0, 0, d.ctx.buffers.first()));
  EXPECT_TRUE(d.pt.requests.empty());
  d.ctx.params.Channel = 8;
  EXPECT_TRUE(d.ops.ReadPageAllChannels(8, 0, 0, 0, d.ctx.buffers.first()));
  EXPECT_EQ(d.pt.requests.size(), 8u);
  EXPECT_EQ(d.pt.requests[7].cdb[3], 7);
}
