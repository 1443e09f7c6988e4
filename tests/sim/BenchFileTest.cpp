#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "sim/Bench.h"
#include "sim/BenchConfig.h"

using namespace qk;
using namespace qk::sim;

namespace {

bool parse(const std::string& text, BenchConfig& cfg, std::string& error, const BenchParseOptions& options = {}) {
  cfg = BenchConfig{};
  cfg.file = "t.bench";
  return ParseBenchText(text, "/benches", options, cfg, error);
}

const std::string kHub = "[Hub1]\nParent=root\nKind=usb3\nPorts=4\n";

}  // namespace

TEST(BenchFile, ReadsTheDocumentedExampleWithItsComments) {
  const char* text = R"([Bench]
TimeScale=0.01        ; factor on every fixed wait
Trace=trace.txt       ; optional

[Hub1]                ; hubs are Hub1, Hub2, ...
Parent=root           ; root, or HubK:P
Kind=usb3
Ports=4

[Hub2]
Parent=Hub1:2
Ports=7

[Drive1]              ; drives are Drive1, Drive2, ...
At=Hub1:3             ; the hub port it is plugged into
Token=R20X
Flash=WBG             ; unique name
Channel=4
Bank=2
State=blank
Temperature=40
UsbSerial=0001        ; serial string descriptor
VendorId=0x1D2E
ProductId=0x0102
Store=d1.img

[drive2]
At=Hub2:7
Token="ice "  ; quoted to keep the blank
Flash=WBG
Plugged=0

[Device1]
At=Hub1:1

[Events]
4000=plug Drive2
1500=unplug Drive2, unplug device1
)";
  BenchConfig cfg;
  std::string error;
  ASSERT_TRUE(parse(text, cfg, error)) << error;
  EXPECT_DOUBLE_EQ(cfg.timeScale, 0.01);
  EXPECT_EQ(cfg.tracePath, "/benches/trace.txt");
  ASSERT_EQ(cfg.hubs.size(), 2u);
  EXPECT_EQ(cfg.hubs[0].kind, HubKind::Usb3);
  EXPECT_EQ(cfg.hubs[1].parentHub, 1);
  EXPECT_EQ(cfg.hubs[1].parentPort, 2);
  EXPECT_EQ(cfg.hubs[1].ports, 7);
  ASSERT_EQ(cfg.drives.size(), 2u);
  const DriveSpec& d = cfg.drives[0];
  EXPECT_EQ(d.name, "Drive1");
  EXPECT_EQ(d.hub, 1);
  EXPECT_EQ(d.port, 3);
  EXPECT_EQ(d.token, "R20X");
  EXPECT_EQ(d.flash, "WBG");
  EXPECT_EQ(d.bank, 2);
  EXPECT_EQ(d.usbSerial, "0001");
  EXPECT_EQ(d.vendorId, 0x1D2E);
  EXPECT_EQ(d.storePath, "/benches/d1.img");
  EXPECT_EQ(cfg.drives[1].name, "Drive2");
  EXPECT_EQ(cfg.drives[1].token, "ice ");
  EXPECT_FALSE(cfg.drives[1].plugged);
  ASSERT_EQ(cfg.events.size(), 3u);
  EXPECT_EQ(cfg.events[0].atMs, 1500);
  EXPECT_EQ(cfg.events[0].target, "Drive2");
  EXPECT_FALSE(cfg.events[0].plug);
  EXPECT_EQ(cfg.events[1].target, "Device1");
  EXPECT_EQ(cfg.events[2].atMs, 4000);
  EXPECT_TRUE(cfg.events[2].plug);
}

TEST(BenchFile, FaultKeysBecomeTheDrivesFaults) {
  BenchConfig cfg;
  std::string error;
  ASSERT_TRUE(parse(kHub + "[Drive1]\nAt=Hub1:1\nFlash=X\nFaultFail=12, A1:EC\nFaultReadError=10-20,99\n"
                           "FaultPullAt=3\n",
                    cfg, error))
      << error;
  const auto& f = cfg.drives[0].faults;
  ASSERT_EQ(f.fail.size(), 2u);
  std::uint8_t inquiry[6] = {0x12};
  std::uint8_t identify[12] = {0xA1, 0, 0, 0, 0, 0, 0, 0, 0, 0xEC};
  std::uint8_t smart[12] = {0xA1, 0, 0, 0, 0, 0, 0, 0, 0, 0xB0};
  EXPECT_TRUE(f.fail[0].matches(inquiry, 6));
  EXPECT_TRUE(f.fail[1].matches(identify, 12));
  EXPECT_FALSE(f.fail[1].matches(smart, 12));
  ASSERT_EQ(f.readError.size(), 2u);
  EXPECT_TRUE(f.readError[0].overlaps(5, 6));    // 5..10
  EXPECT_FALSE(f.readError[0].overlaps(21, 100));
  EXPECT_TRUE(f.readError[1].overlaps(99, 1));
  EXPECT_EQ(f.pullAtCommand, 3u);
}

struct BadCase {
  const char* name;
  std::string text;
  const char* expected;  // a fragment of the message
};

class BadBenchFile : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadBenchFile, IsRefusedWithAClearMessage) {
  BenchConfig cfg;
  std::string error;
  BenchParseOptions options;
  options.flashKnown = [](const std::string& n) { return n == "WBG"; };
  EXPECT_FALSE(parse(GetParam().text, cfg, error, options));
  EXPECT_NE(error.find(GetParam().expected), std::string::npos) << error;
  EXPECT_EQ(error.rfind("t.bench", 0), 0u) << error;
}

const std::string kDrive = "[Drive1]\nAt=Hub1:1\nFlash=WBG\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, BadBenchFile,
    ::testing::Values(
        BadCase{"Garbage", std::string("\x7f" "ELF\x02\x01\x01\0\0\0", 10) + "\n\xff\xfe", "line 1"},
        BadCase{"Empty", "", "no [HubN] section"},
        BadCase{"KeyOutsideSection", "Ports=4\n" + kHub, "key outside a section"},
        BadCase{"UnknownSection", kHub + "[Drvie1]\nAt=Hub1:1\n", "unknown section [Drvie1]"},
        BadCase{"RepeatedSection", kHub + "[hub1]\nParent=root\n", "appears twice"},
        BadCase{"UnterminatedHeader", "[Hub1\n", "unterminated"},
        BadCase{"MissingPorts", "[Hub1]\nParent=root\nKind=usb2\n", "[Hub1] Ports: missing"},
        BadCase{"MissingParent", "[Hub1]\nKind=usb2\nPorts=4\n", "[Hub1] Parent: missing"},
        BadCase{"MissingRootKind", "[Hub1]\nParent=root\nPorts=4\n", "[Hub1] Kind: missing"},
        BadCase{"BadKind", "[Hub1]\nParent=root\nKind=usb4\nPorts=4\n", "not usb1"},
        BadCase{"ZeroPorts", "[Hub1]\nParent=root\nKind=usb2\nPorts=0\n", "[Hub1] Ports"},
        BadCase{"PortsNotANumber", "[Hub1]\nParent=root\nKind=usb2\nPorts=4x\n", "\"4x\" is not a number"},
        BadCase{"MissingAt", kHub + "[Drive1]\nFlash=WBG\n", "[Drive1] At: missing"},
        BadCase{"MissingFlash", kHub + "[Drive1]\nAt=Hub1:1\n", "[Drive1] Flash: missing"},
        BadCase{"UnknownFlash", kHub + "[Drive1]\nAt=Hub1:1\nFlash=ZZZ\n", "not in the flash list"},
        BadCase{"AtNoHub", kHub + "[Drive1]\nAt=Hub9:1\nFlash=WBG\n", "no section [Hub9]"},
        BadCase{"AtBeyondPorts", kHub + "[Drive1]\nAt=Hub1:5\nFlash=WBG\n", "only 4 ports"},
        BadCase{"AtGarbage", kHub + "[Drive1]\nAt=Drive2:1\nFlash=WBG\n", "not HubK:P"},
        BadCase{"AtPortZero", kHub + "[Drive1]\nAt=Hub1:0\nFlash=WBG\n", "not HubK:P"},
        BadCase{"PortTwice", kHub + kDrive + "[Device1]\nAt=Hub1:1\n", "taken by Drive1"},
        BadCase{"TwoPluggedDrivesOnAPort", kHub + kDrive + "[Drive2]\nAt=Hub1:1\nFlash=WBG\n", "taken by Drive1"},
        BadCase{"HubOnTakenPort", kHub + kDrive + "[Hub2]\nParent=Hub1:1\nPorts=4\n", "taken"},
        BadCase{"HubLoop", "[Hub1]\nParent=Hub2:1\nPorts=4\n[Hub2]\nParent=Hub1:1\nPorts=4\n", "loop"},
        BadCase{"ShortToken", kHub + kDrive + "Token=k40\n", "not 4 characters"},
        BadCase{"UnknownKey", kHub + kDrive + "Temprature=40\n", "[Drive1] Temprature: unknown key"},
        BadCase{"UnknownFault", kHub + kDrive + "FaultExplode=1\n", "unknown fault"},
        BadCase{"BadFaultRange", kHub + kDrive + "FaultReadError=20-10\n", "bad LBA range"},
        BadCase{"BadState", kHub + kDrive + "State=firmware\n", "not a known state"},
        BadCase{"BadVendorId", kHub + kDrive + "VendorId=0x12345\n", "[Drive1] VendorId"},
        BadCase{"BadTimeScale", "[Bench]\nTimeScale=fast\n" + kHub, "TimeScale"},
        BadCase{"NegativeTimeScale", "[Bench]\nTimeScale=-1\n" + kHub, "TimeScale"},
        BadCase{"EventUnknownTarget", kHub + kDrive + "[Events]\n100=unplug Drive7\n", "[Events] 100"},
        BadCase{"EventBadVerb", kHub + kDrive + "[Events]\n100=yank Drive1\n", "not plug or unplug"},
        BadCase{"EventBadTime", kHub + kDrive + "[Events]\nsoon=plug Drive1\n", "time in milliseconds"}),
    [](const ::testing::TestParamInfo<BadCase>& info) { return info.param.name; });

TEST(BenchFile, AnUnpluggedDriveMayWaitOnATakenPort) {
  BenchConfig cfg;
  std::string error;
  EXPECT_TRUE(parse(kHub + kDrive + "[Drive2]\nAt=Hub1:1\nFlash=WBG\nPlugged=0\n", cfg, error)) << error;
}

TEST(BenchFile, AFlashTypeWithoutAShapeIsRefusedAtLoad) {
  const std::string dir = ::testing::TempDir();
  const std::string path = dir + "/shape.bench";
  {
    std::ofstream f(path);
    f << kHub << "[Drive1]\nAt=Hub1:1\nFlash=BAD\n";
  }
  BenchOptions options;
  // ID word 0x0283: page size code 3, no page size.
  options.flashList = "[Vendor]\nName00=Nandora\nName01=No\n[Nandora]\n"
                      "Name00=BAD, K9BAD08U0A, 0x0283, 2, 2, 0x5A, 0xD7, 0x94, 0x7A, 0x44, 0x000000, 0, 0, 0, 1\n"
                      "Name01=No\n";
  std::string error;
  EXPECT_EQ(Bench::load(path, options, error), nullptr);
  EXPECT_NE(error.find("[Drive1] Flash: BAD"), std::string::npos) << error;
  std::filesystem::remove(path);
}

TEST(BenchFile, MissingFileIsAnErrorNotACrash) {
  BenchConfig cfg;
  std::string error;
  EXPECT_FALSE(ParseBenchFile("/nonexistent/x.bench", {}, cfg, error));
  EXPECT_NE(error.find("cannot read"), std::string::npos);
}

TEST(BenchFile, TheBundledDemoParsesAgainstTheSampleFlashNames) {
  const std::string kDemo =
      (std::filesystem::path(QK_TEST_DATA_DIR) / "../../sim/demo/demo.bench").lexically_normal().string();
  BenchConfig cfg;
  std::string error;
  BenchParseOptions options;
  options.flashKnown = [](const std::string& n) {
    return n == "WBG" || n == "WBH" || n == "CLA" || n == "CLB" || n == "CLC" || n == "BTA" || n == "BTB";
  };
  ASSERT_TRUE(ParseBenchFile(kDemo, options, cfg, error)) << error;
  EXPECT_GE(cfg.hubs.size(), 3u);
  bool external = false, fullSpeed = false, device = !cfg.devices.empty();
  for (const auto& h : cfg.hubs) {
    external |= h.parentHub != 0;
    fullSpeed |= h.parentHub == 0 && h.kind == HubKind::Usb1;
  }
  EXPECT_TRUE(external);
  EXPECT_TRUE(fullSpeed);
  EXPECT_TRUE(device);
  for (const auto& d : cfg.drives) EXPECT_TRUE(d.storePath.empty()) << d.name;
}

TEST(BenchFile, AFeedTakesItsTemplatesOffTheLineAndRefusesWhatIsNoDrive) {
  BenchConfig cfg;
  std::string error;
  const std::string drives = "[Drive1]\nAt=Hub1:1\nFlash=WBG\nSpeed=0.5\n[Drive2]\nAt=Hub1:1\nFlash=WBG\n";
  ASSERT_TRUE(parse(kHub + "[Feed]\nDrives=8\nSwap=5000\nTemplate2=Drive1\nTemplate1=Drive2\n" + drives, cfg, error))
      << error;
  EXPECT_EQ(cfg.feed.drives, 8);
  EXPECT_EQ(cfg.feed.swapMs, 5000);
  EXPECT_EQ(cfg.feed.templates, (std::vector<std::string>{"Drive2", "Drive1"}));  // in template order
  // Templates share a port: they are never on the line themselves.
  EXPECT_FALSE(cfg.drives[0].plugged);
  EXPECT_FALSE(cfg.drives[1].plugged);
  EXPECT_DOUBLE_EQ(cfg.drives[0].speedMBps, 0.5);

  EXPECT_FALSE(parse(kHub + "[Feed]\nDrives=8\nTemplate1=Device1\n" + drives, cfg, error));
  EXPECT_NE(error.find("[Feed] Template1: not a DriveN section"), std::string::npos) << error;
  EXPECT_FALSE(parse(kHub + "[Feed]\nDrives=8\n" + drives, cfg, error));
  EXPECT_NE(error.find("Template1: missing"), std::string::npos) << error;
  EXPECT_FALSE(parse(kHub + "[Feed]\nTemplate1=Drive1\n" + drives, cfg, error));
  EXPECT_NE(error.find("Drives: missing"), std::string::npos) << error;
  EXPECT_FALSE(parse(kHub + "[Feed]\nDrives=2\nTemplate1=Drive1\nSpare=1\n" + drives, cfg, error));
  EXPECT_NE(error.find("Spare: unknown key"), std::string::npos) << error;
  EXPECT_FALSE(parse(kHub + "[Drive1]\nAt=Hub1:1\nFlash=WBG\nSpeed=fast\n", cfg, error));
  EXPECT_NE(error.find("Speed"), std::string::npos) << error;
}
