// The read/write tests and the wipe: pattern, block lists, failure records, gauge.
#include <gtest/gtest.h>

#include <vector>

#include "diskops/DiskTestSupport.h"
#include "diskops/RwPattern.h"
#include "diskops/RwTests.h"
#include "diskops/TransportSectorDevice.h"
#include "platform/bench/BenchVolumes.h"
#include "transport/TransportTestSupport.h"

using namespace qk;

namespace {

struct RwFixture : ::testing::Test {
  VirtualClock clock;
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(kRwBufferBytes, 0xCC);
  test::FakeDrive drive{1u << 20};
  struct NoVolumes : Volumes {
    bool geometry(const std::string&, DiskGeometry&) override { return false; }
    bool flushBuffers(const std::string&) override { return true; }
    bool rereadPartitions(const std::string&) override { return true; }
    std::optional<VolumeInfo> firstVolume(const std::string&) override { return std::nullopt; }
    std::vector<std::string> mountsOf(const std::string&) override { return {}; }
    bool unmount(const std::string&) override { return false; }
    std::unique_ptr<ExclusiveHandle> openExclusive(const std::string&) override { return nullptr; }
    bool space(const VolumeInfo&, std::uint64_t&, std::uint64_t&) override { return false; }
  } volumes;
  DiskJob job{drive, volumes, clock};

  RwFailureRecord record() const { return RwFailureRecord::load(buffer.data()); }
};

}  // namespace

TEST(RwPattern, EveryWordHoldsItsOwnAddress) {
  std::vector<std::uint8_t> b(300 * 512);
  RwPattern::fill(b.data(), 4000, 300);  // longer than one window, across the period
  for (std::uint32_t i = 0; i < 300 * 256; ++i) {
    const std::uint64_t address = std::uint64_t{4000} * 256 + i;
    ASSERT_EQ(b[2 * i] | b[2 * i + 1] << 8, static_cast<int>(address & 0xFFFF)) << i;
  }
  EXPECT_EQ(RwPattern::firstMismatch(b.data(), 4000, 300), -1);
  EXPECT_EQ(RwPattern::firstMismatch(b.data(), 4001, 300), 0);  // only readable from its own LBA
  b[2 * 70000 + 1] ^= 1;
  EXPECT_EQ(RwPattern::firstMismatch(b.data(), 4000, 300), 70000);
}

TEST_F(RwFixture, CompareFailureRecordNamesBlockWordAndValues) {
  drive.corrupt.push_back({4096 + 1, 300 - 256});  // word 300 of the block at 4096
  EXPECT_FALSE(WriteVerifyBlock(job, buffer.data(), 128, 4096));
  const RwFailureRecord r = record();
  EXPECT_EQ(r.kind, 3u);
  EXPECT_EQ(r.lba, 4096u);
  EXPECT_EQ(r.expected, 0x012Cu);
  EXPECT_EQ(r.received, 0x012Cu ^ 0x5A);
  EXPECT_EQ(r.index, 300u);
  EXPECT_EQ(r.describe(), (std::vector<std::string>{"Comapre fail on LBA(4096), offset(300)", "expected(0x12C)",
                                                    "received(0x176)"}));
}

TEST_F(RwFixture, TransferFailuresGiveKindAndFirstLbaOfTheBlock) {
  drive.readErrors.insert(1000);
  EXPECT_FALSE(VerifyBlock(job, buffer.data(), 128, 900));
  EXPECT_EQ(record().kind, 2u);
  EXPECT_EQ(record().lba, 900u);
  drive.writeErrors.insert(3000000);
  EXPECT_FALSE(WriteBlock(job, buffer.data(), 5, 2999999));
  EXPECT_EQ(record().kind, 1u);
  EXPECT_EQ(record().describe(), std::vector<std::string>{"Write fail on LBA(2999999)"});
  EXPECT_EQ((RwFailureRecord{2, 3000000000u}.describe()), std::vector<std::string>{"Read fail on LBA(3000000000)"});
}

TEST_F(RwFixture, QuickTestRunsTheBlockListOnEveryKthGigabyteThenTheLastSector) {
  const std::uint32_t mb64 = 65536u * 2048;  // 64 GB: k = 5
  test::FakeDrive big(mb64);
  DiskJob j{big, volumes, clock};
  ASSERT_TRUE(QuickRwTest(j, buffer.data()));
  EXPECT_EQ(big.leaveCalls, 1);
  std::vector<std::uint32_t> gigabytes;
  for (const auto& op : big.log) {
    if (op.kind == 'W' && op.count == 128 && op.lba % 2097152 == 0) gigabytes.push_back(op.lba / 2097152);
  }
  EXPECT_EQ(gigabytes, (std::vector<std::uint32_t>{0, 0, 5, 5, 10, 10, 15, 15, 20, 20, 25, 25, 30, 30, 35, 35, 40,
                                                   40, 45, 45, 50, 50, 55, 55, 60, 60}));

  // One gigabyte: write, flush, read for each block, in the list's order.
  test::FakeDrive one(2u * 1024 * 2048);  // 2 GB, k = 1
  DiskJob j1{one, volumes, clock};
  const std::int64_t slept = clock.totalSlept();
  ASSERT_TRUE(QuickRwTest(j1, buffer.data()));
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> list = {
      {128, 0},     {128, 0},     {128, 128},   {128, 128},   {128, 256},  {128, 256},   {1, 150},
      {1, 150},     {1, 180000},  {5, 100033},  {4, 80058},   {26, 5000},  {5, 100033},  {1, 180000},
      {26, 5000},   {126, 15000}, {33, 154900}, {4, 80058},   {126, 15000}, {33, 154900}};
  std::vector<test::FakeDrive::Op> want;
  for (std::uint32_t g : {0u, 1u}) {
    for (auto [n, off] : list) {
      const std::uint32_t lba = g * 2097152 + off;
      want.push_back({'W', lba, n});
      want.push_back({'F', 0, 0});
      want.push_back({'R', lba, n});
    }
  }
  const std::uint32_t last = 2u * 1024 * 2048 - 1;
  for (auto op : {test::FakeDrive::Op{'W', 0, 1}, {'W', last, 1}, {'F', 0, 0}, {'R', last, 1}, {'F', 0, 0}}) {
    want.push_back(op);
  }
  EXPECT_EQ(one.log, want);
  EXPECT_EQ(clock.totalSlept() - slept, 41 * 10);
  ASSERT_TRUE(one.data.count(0));
  EXPECT_EQ(one.data[0], std::vector<std::uint8_t>(512, 0xFF));
}

TEST_F(RwFixture, QuickTestFailsA8192SectorDriveAndANoCapacityDrive) {
  test::FakeDrive small(8192);
  DiskJob j{small, volumes, clock};
  EXPECT_FALSE(QuickRwTest(j, buffer.data()));
  EXPECT_TRUE(small.data.empty());

  drive.capacityAnswer = [] { return 0u; };
  EXPECT_FALSE(QuickRwTest(job, buffer.data()));
  EXPECT_FALSE(RWTestPercentageWithProgress(job, buffer.data(), 50));
  EXPECT_FALSE(EraseAllData(job));
  EXPECT_TRUE(drive.log.empty());
  EXPECT_EQ(record().kind, 0u);
}

TEST_F(RwFixture, PercentageTestWritesAllThenVerifiesAllWithTheGauge) {
  test::FakeDrive d(1000);
  DiskJob j{d, volumes, clock};
  test::RecordingGauge gauge;
  ASSERT_TRUE(RWTestPercentageWithProgress(j, buffer.data(), 50, &gauge));
  std::vector<test::FakeDrive::Op> want{{'W', 0, 128}, {'W', 128, 128}, {'W', 256, 128}, {'W', 384, 116},
                                        {'F', 0, 0},   {'R', 0, 128},   {'R', 128, 128}, {'R', 256, 128},
                                        {'R', 384, 116}};
  EXPECT_EQ(d.log, want);
  EXPECT_EQ(clock.totalSlept(), 3000);
  ASSERT_EQ(gauge.steps.size(), 11u);
  EXPECT_TRUE(gauge.steps[0].visible);
  EXPECT_EQ(gauge.steps[0].colour, (GaugeColour{255, 0, 0}));
  EXPECT_EQ(gauge.steps[1].percent, 128 * 100 / 500);
  EXPECT_EQ(gauge.steps[4].percent, 100);
  EXPECT_EQ(gauge.steps[5].colour, (GaugeColour{0, 128, 0}));
  EXPECT_EQ(gauge.steps[9].percent, 100);
  EXPECT_FALSE(gauge.steps[10].visible);
  EXPECT_EQ(gauge.steps[10].colour, (GaugeColour{0, 128, 0}));

  d.log.clear();
  EXPECT_TRUE(RWTestPercentageWithProgress(j, buffer.data(), 0));  // nothing to do
  EXPECT_EQ(d.log, (std::vector<test::FakeDrive::Op>{{'F', 0, 0}}));
  d.log.clear();
  EXPECT_TRUE(RWTestPercentageWithProgress(j, buffer.data(), 250));  // the whole drive
  EXPECT_EQ(d.log[7], (test::FakeDrive::Op{'W', 896, 104}));
}

TEST_F(RwFixture, PercentageTestSkipsTheVerifyPassAfterAFailedWrite) {
  test::FakeDrive d(1000);
  d.writeErrors.insert(300);
  DiskJob j{d, volumes, clock};
  EXPECT_FALSE(RWTestPercentageWithProgress(j, buffer.data(), 100));
  EXPECT_EQ(record().kind, 1u);
  EXPECT_EQ(record().lba, 256u);
  EXPECT_EQ(std::count_if(d.log.begin(), d.log.end(), [](auto& op) { return op.kind == 'R'; }), 0);
}

TEST_F(RwFixture, EraseWritesOnesEverywhereAndStopsAtTheFirstFailure) {
  test::FakeDrive d(300);
  DiskJob j{d, volumes, clock};
  ASSERT_TRUE(EraseAllData(j));
  EXPECT_EQ(d.data.size(), 300u);
  EXPECT_EQ(d.data[299], std::vector<std::uint8_t>(512, 0xFF));
  d.writeErrors.insert(200);
  RwFailureRecord r;
  EXPECT_FALSE(EraseAllData(j, &r));
  EXPECT_EQ(r.kind, 1u);
  EXPECT_EQ(r.lba, 128u);
}

TEST(RwOnBench, ReadErrorOfTheDriveIsKindTwoAndFullTestPassesOnAGoodDrive) {
  VirtualClock clock;
  auto bench = test::benchFromText("[Hub1]\nParent=root\nKind=usb3\nPorts=2\n[Drive1]\nAt=Hub1:1\nToken=k402\n"
                                   "Flash=WBG\nSectors=20000\nFaultReadError=4100\n[Drive2]\nAt=Hub1:2\n"
                                   "Token=R20X\nFlash=WBG\nSectors=20000\n",
                                   clock);
  TransportState state;
  DeviceTransport t(bench->passThrough(), clock, state);
  BenchVolumes volumes(bench->passThrough());
  std::vector<std::uint8_t> buffer(kRwBufferBytes);
  TransportSectorDevice bad(t, sim::Bench::devicePathFor("Drive1"));
  DiskJob j{bad, volumes, clock};
  EXPECT_FALSE(RWTestPercentageWithProgress(j, buffer.data(), 100));
  const RwFailureRecord r = RwFailureRecord::load(buffer.data());
  EXPECT_EQ(r.kind, 2u);
  EXPECT_EQ(r.lba, 4096u);

  state.setTransportPath(TransportPath::UsbPath);
  TransportSectorDevice good(t, sim::Bench::devicePathFor("Drive2"));
  DiskJob g{good, volumes, clock};
  EXPECT_TRUE(RWTestPercentageWithProgress(g, buffer.data(), 100));
}
