#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "sim/AtaFamily.h"
#include "sim/Bench.h"
#include "sim/Trace.h"
#include "support/TempDir.h"

using namespace qk;
using namespace qk::sim;

namespace {

std::unique_ptr<Bench> makeBench(const std::string& text, Clock* clock, const std::string& dir = "/tmp") {
  BenchConfig cfg;
  cfg.file = "t.bench";
  std::string error;
  if (!ParseBenchText(text, dir, {}, cfg, error)) {
    ADD_FAILURE() << error;
    return nullptr;
  }
  BenchOptions options;
  options.clock = clock;
  auto bench = Bench::fromConfig(std::move(cfg), options, error);
  if (!bench) ADD_FAILURE() << error;
  return bench;
}

std::string drives(int count, const std::string& extra = "") {
  std::string text = "[Hub1]\nParent=root\nKind=usb3\nPorts=60\n";
  for (int i = 1; i <= count; ++i) {
    text += "[Drive" + std::to_string(i) + "]\nAt=Hub1:" + std::to_string(i) +
            "\nToken=k402\nFlash=WBG\nTemperature=" + std::to_string(30 + i) + "\nUsbSerial=S" + std::to_string(i) +
            "\nSectors=100000\n" + extra;
  }
  return text;
}

struct Io {
  Bench& bench;
  PassThroughResult run(const std::string& name, std::vector<std::uint8_t> cdb, DataDirection dir,
                        std::uint8_t* data, std::uint32_t length, std::uint32_t timeoutMs = 1000) {
    PassThroughRequest r;
    r.cdb = cdb.data();
    r.cdbLength = cdb.size();
    r.direction = dir;
    r.buffer = data;
    r.length = length;
    r.timeoutMs = timeoutMs;
    return bench.passThrough().execute(Bench::devicePathFor(name), r);
  }
  bool readOk(const std::string& name, std::uint32_t lba, std::uint8_t* data, std::uint8_t count = 1) {
    auto r = run(name, {0x28, 0, static_cast<std::uint8_t>(lba >> 24), static_cast<std::uint8_t>(lba >> 16),
                        static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba), 0, 0, count, 0},
                 DataDirection::In, data, count * 512u);
    return r.completed && r.scsiStatus == 0 && r.transferred == count * 512u;
  }
  bool writeOk(const std::string& name, std::uint32_t lba, std::uint8_t* data, std::uint8_t count = 1) {
    auto r = run(name, {0x2A, 0, static_cast<std::uint8_t>(lba >> 24), static_cast<std::uint8_t>(lba >> 16),
                        static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba), 0, 0, count, 0},
                 DataDirection::Out, data, count * 512u);
    return r.completed && r.scsiStatus == 0;
  }
};

std::vector<std::string> lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

}  // namespace

TEST(BenchEvents, PlayInOrderOnTheBenchClockAndReachListeners) {
  VirtualClock clock;
  auto bench = makeBench(drives(2) + "[Device1]\nAt=Hub1:9\n[Events]\n4000=plug Drive2\n1500=unplug Drive2, "
                                     "unplug Device1\n6000=unplug Drive2\n",
                         &clock);
  struct Seen {
    std::int64_t at;
    bool plug;
    std::string name;
    bool presentAtThatMoment;
  };
  std::vector<Seen> seen;
  Io io{*bench};
  bench->addListener([&](const BenchEvent& e) {
    std::uint8_t sector[512];
    seen.push_back({clock.nowMs(), e.plug, e.name, e.kind == AttachmentKind::Drive && io.readOk(e.name, 0, sector)});
  });
  bench->runEvents({});
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].at, 1500);
  EXPECT_EQ(seen[0].name, "Drive2");
  EXPECT_FALSE(seen[0].plug);
  EXPECT_FALSE(seen[0].presentAtThatMoment);  // the drive is gone before anyone hears of it
  EXPECT_EQ(seen[1].name, "Device1");
  EXPECT_EQ(seen[2].at, 4000);
  EXPECT_TRUE(seen[2].plug);
  EXPECT_TRUE(seen[2].presentAtThatMoment);
  EXPECT_EQ(seen[3].at, 6000);
  EXPECT_FALSE(bench->isPresent("Drive2"));
  EXPECT_FALSE(bench->isPresent("Device1"));
  EXPECT_TRUE(bench->isPresent("drive1"));
}

TEST(BenchEvents, StoppingThePlayerEndsItsWait) {
  ScaledClock clock(1.0);
  auto bench = makeBench(drives(1) + "[Events]\n600000=unplug Drive1\n", &clock);
  int heard = 0;
  bench->addListener([&](const BenchEvent&) { ++heard; });
  bench->startEvents();
  bench->stopEvents();  // returns at once instead of after ten minutes
  EXPECT_EQ(heard, 0);
  EXPECT_TRUE(bench->isPresent("Drive1"));
}

TEST(BenchPlug, AnUnpluggedDriveFailsEveryCommandAndKeepsItsData) {
  VirtualClock clock;
  auto bench = makeBench(drives(1), &clock);
  Io io{*bench};
  std::uint8_t out[512], in[512];
  std::memset(out, 0x5C, sizeof out);
  ASSERT_TRUE(io.writeOk("Drive1", 42, out));
  int events = 0;
  bench->addListener([&](const BenchEvent&) { ++events; });
  EXPECT_TRUE(bench->unplug("Drive1"));
  EXPECT_TRUE(bench->unplug("Drive1"));  // no change, no second event
  EXPECT_EQ(events, 1);
  auto r = io.run("Drive1", {0x12, 0, 0, 0, 36, 0}, DataDirection::In, in, 36);
  EXPECT_FALSE(r.sent);
  EXPECT_FALSE(r.completed);
  EXPECT_FALSE(io.readOk("Drive1", 42, in));
  auto attachments = bench->attachments();
  EXPECT_FALSE(attachments[0].present);
  EXPECT_EQ(attachments[0].devicePath, "/dev/bench/Drive1");
  EXPECT_TRUE(bench->plug("Drive1"));
  ASSERT_TRUE(io.readOk("Drive1", 42, in));
  EXPECT_EQ(std::memcmp(in, out, 512), 0);
  EXPECT_FALSE(bench->plug("Drive9"));
}

TEST(BenchFaults, APulledDriveFailsThatCommandAndStaysGone) {
  VirtualClock clock;
  auto bench = makeBench(drives(1, "FaultPullAt=3\n"), &clock);
  Io io{*bench};
  std::vector<BenchEvent> heard;
  bench->addListener([&](const BenchEvent& e) { heard.push_back(e); });
  std::uint8_t data[512] = {};
  EXPECT_TRUE(io.writeOk("Drive1", 1, data));
  EXPECT_TRUE(io.writeOk("Drive1", 2, data));
  EXPECT_FALSE(io.writeOk("Drive1", 3, data));
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_FALSE(heard[0].plug);
  EXPECT_EQ(heard[0].name, "Drive1");
  EXPECT_FALSE(io.writeOk("Drive1", 4, data));
  EXPECT_FALSE(bench->isPresent("Drive1"));
}

TEST(BenchFaults, LostAndUnansweredCommands) {
  VirtualClock clock;
  auto bench = makeBench(drives(1, "FaultFail=12\nFaultTimeout=25\n"), &clock);
  Io io{*bench};
  std::uint8_t data[512];
  auto lost = io.run("Drive1", {0x12, 0, 0, 0, 36, 0}, DataDirection::In, data, 36, 5000);
  EXPECT_TRUE(lost.sent);
  EXPECT_FALSE(lost.completed);
  EXPECT_EQ(clock.nowMs(), 0);
  auto hung = io.run("Drive1", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, DataDirection::In, data, 8, 5000);
  EXPECT_FALSE(hung.completed);
  EXPECT_EQ(clock.nowMs(), 5000);
}

TEST(SimDriveAnswers, InquiryNamesTheLoaderOrTheBridgeAndCarriesTheToken) {
  VirtualClock clock;
  auto bench = makeBench(drives(1) + "[Drive2]\nAt=Hub1:2\nToken=R20X\nFlash=WBG\n[Drive3]\nAt=Hub1:3\nFlash=WBG\n",
                         &clock);
  Io io{*bench};
  std::uint8_t data[64];
  std::memset(data, 0xEE, sizeof data);
  auto r = io.run("Drive2", {0x12, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0}, DataDirection::In, data, 40);
  ASSERT_TRUE(r.completed);
  EXPECT_EQ(r.transferred, 40u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 8), 23), "Generic FCR USB Loader ");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 36), 4), "R20X");

  r = io.run("Drive1", {0x12, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0}, DataDirection::In, data, 40);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 36), 4), "k402");
  EXPECT_NE(std::string(reinterpret_cast<char*>(data + 8), 23), "Generic FCR USB Loader ");

  std::memset(data, 0xEE, sizeof data);
  r = io.run("Drive3", {0x12, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0}, DataDirection::In, data, 40);
  EXPECT_EQ(r.transferred, 36u);  // no token: nothing beyond byte 35
  EXPECT_EQ(data[36], 0xEE);
  r = io.run("Drive2", {0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 0}, DataDirection::In, data, 40);
  EXPECT_EQ(r.transferred, 36u);  // cut to the allocation length
}

TEST(SimDriveAnswers, BridgedDriveAnswersTheStandardAtaCommands) {
  VirtualClock clock;
  auto bench = makeBench(drives(1), &clock);
  Io io{*bench};
  std::uint8_t id[512];
  auto r = io.run("Drive1", {0xA1, 0x08, 0x0B, 0, 1, 0, 0, 0, 0xE0, 0xEC, 0, 0}, DataDirection::In, id, 512);
  ASSERT_TRUE(r.completed);
  ASSERT_EQ(r.scsiStatus, 0);
  std::string model;
  for (int i = 54; i < 94; i += 2) {
    model += static_cast<char>(id[i + 1]);
    model += static_cast<char>(id[i]);
  }
  EXPECT_EQ(model.substr(0, 36), "Generic FCR SATA Loader Loader Devic");
  std::uint8_t sum = 0;
  for (auto b : id) sum = static_cast<std::uint8_t>(sum + b);
  EXPECT_EQ(sum, 0);
  EXPECT_EQ(id[510], 0xA5);

  std::uint8_t smart[512];
  r = io.run("Drive1", {0xA1, 0x08, 0x0B, 0xD0, 1, 0, 0x4F, 0xC2, 0, 0xB0, 0, 0}, DataDirection::In, smart, 512);
  ASSERT_TRUE(r.completed);
  int temperature = -1;
  for (int e = 0; e < 30; ++e) {
    if (smart[2 + e * 12] == 194) {
      temperature = smart[2 + e * 12 + 5];
      break;
    }
  }
  EXPECT_EQ(temperature, 31);

  SimDrive* drive = bench->drive("Drive1");
  r = io.run("Drive1", {0xA1, 0x06, 0, 0xDC, 0x4A, 0, 0, 0, 0xE0, 0xEF, 0, 0}, DataDirection::None, nullptr, 0);
  EXPECT_TRUE(r.completed);
  EXPECT_TRUE(drive->bridgeMode);
  io.run("Drive1", {0xA1, 0x06, 0, 0xDC, 0x4D, 0, 0, 0, 0xE0, 0xEF, 0, 0}, DataDirection::None, nullptr, 0);
  EXPECT_FALSE(drive->bridgeMode);
  r = io.run("Drive1", {0xA1, 0x06, 0, 0, 0, 0, 0, 0xE0, 0, 0xE7, 0, 0}, DataDirection::None, nullptr, 0);
  EXPECT_EQ(r.scsiStatus, 0);
  EXPECT_EQ(drive->flushCount, 1u);
}

TEST(SimDriveAnswers, UnknownCommandsAndOutOfRangeSectorsEndWithCheckCondition) {
  VirtualClock clock;
  auto bench = makeBench(drives(1) + "[Drive2]\nAt=Hub1:2\nToken=R20X\nFlash=WBG\n", &clock);
  Io io{*bench};
  std::uint8_t data[512];
  auto r = io.run("Drive1", {0xD7, 0, 0, 0, 0, 0}, DataDirection::None, nullptr, 0);
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(r.scsiStatus, kScsiStatusCheckCondition);
  r = io.run("Drive2", {0xA1, 0x08, 0x0B, 0, 1, 0, 0, 0, 0xE0, 0xEC, 0, 0}, DataDirection::In, data, 512);
  EXPECT_EQ(r.scsiStatus, kScsiStatusCheckCondition);  // the controller on USB knows no ATA pass-through
  EXPECT_EQ(r.transferred, 0u);
  EXPECT_FALSE(io.readOk("Drive1", 100000, data));
  EXPECT_TRUE(io.readOk("Drive1", 99999, data));
}

TEST(BenchTrace, OneLinePerCommandInTheDocumentedFormat) {
  test::TempDir dir;
  VirtualClock clock;
  auto bench = makeBench("[Bench]\nTrace=trace.txt\n" + drives(1), &clock, dir.path());
  Io io{*bench};
  std::uint8_t data[1024];
  for (int i = 0; i < 1024; ++i) data[i] = static_cast<std::uint8_t>(i);
  std::uint8_t inquiry[40];
  io.run("Drive1", {0x12, 0, 0, 0, 0x28, 0, 0, 0, 0, 0, 0, 0}, DataDirection::In, inquiry, 40);
  io.writeOk("Drive1", 0x0102, data, 2);
  io.run("Drive1", {0xFF, 0x04, 0x81, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}, DataDirection::None, nullptr, 0);
  bench->unplug("Drive1");
  io.run("Drive1", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, DataDirection::In, data, 512);
  auto got = lines(dir.file("trace.txt"));
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0], "Drive1\tin\t12 00 00 00 28 00 00 00 00 00 00 00\t40\tok");
  EXPECT_EQ(got[1], "Drive1\tout\t2A 00 00 00 01 02 00 00 02 00\t1024\tok\t"
                    "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F");
  EXPECT_EQ(got[2], "Drive1\tnone\tFF 04 81 01 00 00 00 00 00 00 00 00\t0\tfail");  // raw vendor block behind a bridge
  EXPECT_EQ(got[3], "Drive1\tin\t25 00 00 00 00 00 00 00 00 00 00 00\t512\tfail");
}

TEST(BenchTrace, ShortDataOutShowsOnlyItsBytes) {
  std::uint8_t cdb[6] = {0x15, 0, 0, 0, 3, 0};
  std::uint8_t data[3] = {0xAA, 0x0B, 0xC0};
  PassThroughRequest r;
  r.cdb = cdb;
  r.cdbLength = 6;
  r.direction = DataDirection::Out;
  r.buffer = data;
  r.length = 3;
  EXPECT_EQ(Trace::formatLine("Drive7", r, true), "Drive7\tout\t15 00 00 00 03 00\t3\tok\tAA 0B C0");
}

TEST(BenchStore, UserDataLivesInASparseFileOthersCanRead) {
  test::TempDir dir;
  VirtualClock clock;
  auto bench = makeBench("[Hub1]\nParent=root\nKind=usb2\nPorts=1\n[Drive1]\nAt=Hub1:1\nFlash=WBG\nSectors=2048\n"
                         "Store=d1.img\n",
                         &clock, dir.path());
  Io io{*bench};
  std::uint8_t out[512];
  std::memset(out, 0x3D, sizeof out);
  ASSERT_TRUE(io.writeOk("Drive1", 7, out));
  std::ifstream f(dir.file("d1.img"), std::ios::binary | std::ios::ate);
  EXPECT_EQ(static_cast<long>(f.tellg()), 2048L * 512);
  f.seekg(7 * 512);
  char c = 0;
  f.get(c);
  EXPECT_EQ(static_cast<unsigned char>(c), 0x3D);
}

TEST(BenchStore, AnUnwritableStoreIsALoadError) {
  VirtualClock clock;
  BenchConfig cfg;
  std::string error;
  ASSERT_TRUE(ParseBenchText("[Hub1]\nParent=root\nKind=usb2\nPorts=1\n[Drive1]\nAt=Hub1:1\nFlash=WBG\n"
                             "Store=/nonexistent/dir/d1.img\n",
                             "/tmp", {}, cfg, error));
  BenchOptions options;
  options.clock = &clock;
  EXPECT_EQ(Bench::fromConfig(std::move(cfg), options, error), nullptr);
  EXPECT_NE(error.find("[Drive1] Store"), std::string::npos) << error;
}

TEST(BenchConcurrency, FiftyDrivesAtOnceAndTwoThreadsOnOneDrive) {
  test::TempDir dir;
  VirtualClock clock;
  auto bench = makeBench("[Bench]\nTrace=trace.txt\n" + drives(50), &clock, dir.path());
  Io io{*bench};
  std::atomic<int> bad{0};
  auto worker = [&](int drive, std::uint32_t firstLba, std::uint8_t tag) {
    std::string name = "Drive" + std::to_string(drive);
    std::uint8_t out[512], in[512];
    for (std::uint32_t i = 0; i < 40; ++i) {
      std::memset(out, tag, sizeof out);
      std::memcpy(out, &i, sizeof i);
      if (!io.writeOk(name, firstLba + i, out) || !io.readOk(name, firstLba + i, in) ||
          std::memcmp(in, out, 512) != 0) {
        ++bad;
      }
    }
  };
  std::vector<std::thread> threads;
  for (int d = 1; d <= 50; ++d) threads.emplace_back(worker, d, 0, static_cast<std::uint8_t>(d));
  threads.emplace_back(worker, 1, 1000, 0xF1);  // a second thread on Drive1, elsewhere on the medium
  for (auto& t : threads) t.join();
  EXPECT_EQ(bad.load(), 0);
  auto got = lines(dir.file("trace.txt"));
  EXPECT_EQ(got.size(), 51u * 80);
  for (const auto& l : got) {
    EXPECT_EQ(std::count(l.begin(), l.end(), '\t'), l.find("\tout\t") != std::string::npos ? 5 : 4) << l;
  }
}
