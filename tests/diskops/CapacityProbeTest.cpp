// The capacity probe against drives that hold less than they claim: the bench's
// alias faults, healthy drives of many sizes, and the data it must put back.
#include <gtest/gtest.h>

#include <vector>

#include "diskops/CapacityProbe.h"
#include "diskops/RwTests.h"
#include "diskops/TransportSectorDevice.h"
#include "platform/bench/BenchVolumes.h"
#include "transport/TransportTestSupport.h"

using namespace qk;

namespace {

struct ProbeRig {
  VirtualClock clock;
  std::unique_ptr<sim::Bench> bench;
  TransportState state;
  std::unique_ptr<DeviceTransport> transport;
  std::unique_ptr<TransportSectorDevice> device;
  std::unique_ptr<BenchVolumes> volumes;
  std::unique_ptr<DiskJob> job;
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(kRwBufferBytes, 0);

  ProbeRig(std::uint64_t sectors, const std::string& fault = "") {
    bench = test::benchFromText("[Hub1]\nParent=root\nKind=usb3\nPorts=2\n[Drive1]\nAt=Hub1:1\nToken=k402\n"
                                "Flash=WBG\nSectors=" + std::to_string(sectors) + "\n" +
                                    (fault.empty() ? "" : "FaultAlias=" + fault + "\n"),
                                clock);
    transport = std::make_unique<DeviceTransport>(bench->passThrough(), clock, state);
    device = std::make_unique<TransportSectorDevice>(*transport, sim::Bench::devicePathFor("Drive1"));
    volumes = std::make_unique<BenchVolumes>(bench->passThrough());
    job = std::make_unique<DiskJob>(DiskJob{*device, *volumes, clock});
  }

  CapacityProbeResult probe(std::uint64_t nonce = 0x1234, bool keep = true) {
    CapacityProbeOptions o;
    o.driveId = "QK_0000000042";
    o.nonce = nonce;
    o.keepData = keep;
    return CapacityProbe(*job, o, buffer.data());
  }
};

constexpr std::uint32_t kMiB = 2048;  // sectors
// The most a drive can report through IDENTIFY's 32-bit count (all ones reads as none).
constexpr std::uint32_t kTwoTiB = 0xFFFFFFFE;

}  // namespace

TEST(CapacityProbe, FullRwTestPassesADriveThatWrapsAtHalfItsCapacityButTheProbeDoesNot) {
  ProbeRig rig(64 * kMiB, std::to_string(32 * kMiB).insert(0, "wrap:"));
  EXPECT_TRUE(RWTestPercentageWithProgress(*rig.job, rig.buffer.data(), 100));
  const CapacityProbeResult r = rig.probe();
  EXPECT_FALSE(r.passed);
  EXPECT_TRUE(r.record.kind == CapacityProbeRecord::StampWrong || r.record.kind == CapacityProbeRecord::StampAstray);
  EXPECT_EQ(r.record.estimate, 32u * kMiB);
}

TEST(CapacityProbe, HealthyDrivesOfEverySizePassWithinTheByteLimit) {
  for (std::uint64_t sectors : {std::uint64_t{6 * kMiB}, std::uint64_t{8191}, std::uint64_t{64 * kMiB},
                                std::uint64_t{1000 * kMiB + 7}, std::uint64_t{4096} * kMiB, std::uint64_t{31260096},
                                std::uint64_t{250069680}, std::uint64_t{1000215216}, std::uint64_t{0x80000000},
                                std::uint64_t{kTwoTiB}}) {
    ProbeRig rig(sectors);
    const CapacityProbeResult r = rig.probe(sectors);
    EXPECT_TRUE(r.passed) << sectors << ": " << (r.record.describe().empty() ? "" : r.record.describe()[0]);
    EXPECT_LE(r.bytesMoved, kProbeByteLimit) << sectors;
  }
}

TEST(CapacityProbe, PositionsCoverEveryAddressBitTheEndAndTheHead) {
  const auto p = CapacityProbePositions(kTwoTiB, 7, 1024);
  for (int bit = 0; bit < 32; ++bit) EXPECT_TRUE(std::binary_search(p.begin(), p.end(), 1u << bit)) << bit;
  EXPECT_EQ(p.front(), 0u);
  EXPECT_EQ(p.back(), kTwoTiB - 1);
  // Grid and head together reach every wrap up to their product.
  const std::uint32_t head = CapacityProbeScanSectors(kTwoTiB);
  std::uint32_t widest = 0;
  for (std::size_t i = 1; i < p.size(); ++i) widest = std::max(widest, p[i] - p[i - 1]);
  EXPECT_LE(widest, kTwoTiB / 4096 + 1);
  EXPECT_GE(std::uint64_t{head} * 4096, 32768ull * kMiB);  // every wrap up to 32 GiB
  EXPECT_EQ(CapacityProbeScanSectors(3), 3u);
  EXPECT_NE(CapacityProbePositions(kTwoTiB, 8, 1024), p);  // the spread follows the nonce
  const auto tiny = CapacityProbePositions(3, 7, 1024);
  EXPECT_EQ(tiny, (std::vector<std::uint32_t>{0, 1, 2}));
}

struct AliasCase {
  std::uint64_t claimed;
  std::string fault;
  std::uint64_t estimate;
};

class ProbeAlias : public ::testing::TestWithParam<AliasCase> {};

TEST_P(ProbeAlias, FailsWithTheRealCapacityAsEstimate) {
  const AliasCase& c = GetParam();
  for (std::uint64_t nonce : {1u, 99u}) {
    ProbeRig rig(c.claimed, c.fault);
    const CapacityProbeResult r = rig.probe(nonce);
    EXPECT_FALSE(r.passed);
    EXPECT_TRUE(r.record.kind == CapacityProbeRecord::StampWrong || r.record.kind == CapacityProbeRecord::StampAstray);
    EXPECT_EQ(r.record.estimate, c.estimate) << c.fault;
    EXPECT_LE(r.bytesMoved, kProbeByteLimit);
    const auto again = CapacityProbeRecord::load(rig.buffer.data());
    EXPECT_EQ(again.estimate, c.estimate);
    EXPECT_EQ(again.lba, r.record.lba);
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryKindAtSeveralPlaces, ProbeAlias,
    ::testing::Values(AliasCase{64 * kMiB, "wrap:" + std::to_string(32 * kMiB), 32 * kMiB},
                      AliasCase{64 * kMiB, "wrap:100000", 100000},
                      AliasCase{16 * kMiB, "wrap:3000", 3000},
                      AliasCase{kTwoTiB, "wrap:" + std::to_string(32768 * kMiB), 32768 * kMiB},
                      AliasCase{kTwoTiB, "wrap:" + std::to_string(3 * 4096 * kMiB), 3 * 4096 * kMiB},
                      AliasCase{64 * kMiB, "bit:5", 32}, AliasCase{64 * kMiB, "wrap:100", 100}, AliasCase{64 * kMiB, "bit:16", 65536},
                      AliasCase{kTwoTiB, "bit:31", 0x80000000},
                      AliasCase{64 * kMiB, "lost:" + std::to_string(48 * kMiB), 48 * kMiB},
                      AliasCase{64 * kMiB, "lost:123457", 123457},
                      AliasCase{kTwoTiB, "lost:" + std::to_string(1000 * kMiB + 5), 1000 * kMiB + 5}),
    [](const ::testing::TestParamInfo<AliasCase>& i) { return "Case" + std::to_string(i.index); });

TEST(CapacityProbe, EveryWrapBitAndLossOfAMidSizeDriveIsCaughtWithItsSize) {
  constexpr std::uint32_t kClaimed = 256 * kMiB;  // 128 MiB: head x grid covers every wrap
  std::vector<std::string> faults;
  for (std::uint64_t w = 3; w < kClaimed; w = w * 7 / 4 + 1) {
    faults.push_back("wrap:" + std::to_string(w));
    faults.push_back("lost:" + std::to_string(w));
  }
  for (int bit = 0; bit < 19; ++bit) faults.push_back("bit:" + std::to_string(bit));
  for (const std::string& fault : faults) {
    ProbeRig rig(kClaimed, fault);
    const CapacityProbeResult r = rig.probe(7);
    const std::uint64_t n = std::stoull(fault.substr(fault.find(':') + 1));
    EXPECT_FALSE(r.passed) << fault;
    EXPECT_EQ(r.record.estimate, fault[0] == 'b' ? 1ull << n : n) << fault;
  }
}

TEST(CapacityProbe, PutsBackWhatItOverwroteAndLeavesStampsWhenAskedNotTo) {
  ProbeRig rig(64 * kMiB);
  std::vector<std::uint8_t> before(128 * 512), after(128 * 512);
  for (std::size_t i = 0; i < before.size(); ++i) before[i] = static_cast<std::uint8_t>(i * 7 + 3);
  ASSERT_TRUE(rig.device->writeSectors(0, 128, before.data()));
  ASSERT_TRUE(rig.device->writeSectors(64 * kMiB - 128, 128, before.data()));
  ASSERT_TRUE(rig.probe().passed);
  ASSERT_TRUE(rig.device->readSectors(0, 128, after.data()));
  EXPECT_EQ(after, before);
  ASSERT_TRUE(rig.device->readSectors(64 * kMiB - 128, 128, after.data()));
  EXPECT_EQ(after, before);

  ASSERT_TRUE(rig.probe(5, false).passed);
  ASSERT_TRUE(rig.device->readSectors(0, 1, after.data()));
  EXPECT_EQ(std::string(after.begin(), after.begin() + 7), "QKPROBE");
}

TEST(CapacityProbe, StampsOfAnEarlierRunDoNotCount) {
  ProbeRig rig(64 * kMiB, "lost:" + std::to_string(40 * kMiB));
  ASSERT_FALSE(rig.probe(1, false).passed);
  // The next run finds the first run's stamps where its own were dropped: still a failure.
  const CapacityProbeResult r = rig.probe(2, false);
  EXPECT_FALSE(r.passed);
  EXPECT_EQ(r.record.estimate, 40u * kMiB);
}

TEST(CapacityProbe, AStampLandingInTheUnstampedHeadNamesBothAddresses) {
  // The stamped addresses past 20000 land in the head on sectors that carry no stamp of their own.
  ProbeRig rig(16 * kMiB, "wrap:20000");
  const CapacityProbeResult r = rig.probe(1);
  ASSERT_FALSE(r.passed);
  EXPECT_EQ(r.record.kind, CapacityProbeRecord::StampAstray);
  EXPECT_EQ(r.record.found, CapacityProbeRecord::OtherStamp);
  EXPECT_EQ((r.record.foundLba - r.record.lba) % 20000, 0u);
  EXPECT_LT(r.record.lba, 20000u);
  EXPECT_EQ(r.record.estimate, 20000u);
  const auto lines = r.record.describe();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], "expected(no stamp)");
  EXPECT_EQ(lines[2], "received(stamp of LBA " + std::to_string(r.record.foundLba) + ")");
}

TEST(CapacityProbeRecord, ReportLinesNameAddressExpectedReceivedAndEstimate) {
  CapacityProbeRecord r{CapacityProbeRecord::StampWrong, 65536, CapacityProbeRecord::OtherStamp, 0, 65536};
  EXPECT_EQ(r.describe(), (std::vector<std::string>{"Stamp lost on LBA(65536)", "expected(stamp of LBA 65536)",
                                                    "received(stamp of LBA 0)",
                                                    "real capacity about 65536 sectors (32 MB)"}));
  r.found = CapacityProbeRecord::Zeros;
  EXPECT_EQ(r.describe()[2], "received(zeros)");
  CapacityProbeRecord a{CapacityProbeRecord::StampAstray, 3192, CapacityProbeRecord::OtherStamp, 8192, 5000};
  EXPECT_EQ(a.describe(), (std::vector<std::string>{"Stamp found on LBA(3192)", "expected(no stamp)",
                                                    "received(stamp of LBA 8192)",
                                                    "real capacity about 5000 sectors (2 MB)"}));
  EXPECT_EQ((CapacityProbeRecord{CapacityProbeRecord::WriteFailed, 4000000000u}.describe()),
            std::vector<std::string>{"Write fail on LBA(4000000000)"});
}
