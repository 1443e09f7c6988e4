// The formatter and the partitioner on a drive in memory and on the bench's volumes.
#include <gtest/gtest.h>

#include "diskops/DiskFormatStep.h"
#include "diskops/Fat32Formatter.h"
#include "diskops/Partitioner.h"
#include "diskops/TransportSectorDevice.h"
#include "diskops/DiskTestSupport.h"
#include "platform/bench/BenchVolumes.h"
#include "transport/TransportTestSupport.h"

using namespace qk;

namespace {

std::string labelField(const Sector& boot) { return std::string(reinterpret_cast<const char*>(boot.data() + 71), 11); }

struct OnBench : ::testing::Test {
  VirtualClock clock;
  std::unique_ptr<sim::Bench> bench = test::benchFromText(
      "[Hub1]\nParent=root\nKind=usb3\nPorts=2\n[Drive1]\nAt=Hub1:1\nToken=k402\nFlash=WBG\nSectors=2097152\n"
      "[Drive2]\nAt=Hub1:2\nToken=k402\nFlash=WBG\nSectors=8000\n",
      clock);
  TransportState state;
  DeviceTransport transport{bench->passThrough(), clock, state};
  TransportSectorDevice device{transport, sim::Bench::devicePathFor("Drive1")};
  BenchVolumes volumes{bench->passThrough()};
  DiskJob job{device, volumes, clock};

  Sector sector(std::uint32_t lba) {
    Sector s{};
    EXPECT_TRUE(device.readSectors(lba, 1, s.data()));
    return s;
  }
};

}  // namespace

TEST(Fat32Layout, ClusterSizeFollowsTheDiskSize) {
  const std::uint64_t mib = 1048576;
  EXPECT_EQ(SectorsPerCluster(512 * mib, 512), 1u);
  EXPECT_EQ(SectorsPerCluster(513 * mib, 512), 8u);
  EXPECT_EQ(SectorsPerCluster(8192 * mib, 512), 8u);
  EXPECT_EQ(SectorsPerCluster(8193 * mib, 512), 16u);
  EXPECT_EQ(SectorsPerCluster(16385 * mib, 512), 32u);
  EXPECT_EQ(SectorsPerCluster(32769 * mib, 512), 64u);
  EXPECT_EQ(SectorsPerCluster(32769 * mib, 4096), 8u);
  EXPECT_EQ(SectorsPerCluster(32769 * mib, 0), 0u);
}

TEST(Fat32Layout, VolumeIdComesFromTheLocalTime) {
  LocalTime t{2026, 12, 8, 14, 30, 45, 678, 2};
  // hi = 14*256 + 30 + 2026, lo = 12*256 + 8 + 45*256 + 67
  EXPECT_EQ(VolumeIdFromTime(t), (std::uint32_t{(14 * 256 + 30 + 2026) & 0xFFFF} << 16) | ((12 * 256 + 8 + 45 * 256 + 67) & 0xFFFF));
  t.hour = 255;  // sums wrap at 16 bits
  EXPECT_EQ(VolumeIdFromTime(t) >> 16, static_cast<std::uint32_t>((255 * 256 + 30 + 2026) & 0xFFFF));
}

TEST(Fat32Layout, LabelsInBootSectorAndRootEntry) {
  auto boot = [](const std::string& label) {
    return EncodeBootSector(ComputeFat32Layout(1ull << 30, 2000000, 512, 63, 255, 1, label));
  };
  EXPECT_EQ(labelField(boot("ABCDEFGHIJK")), "ABCDEFGHIJK");
  EXPECT_EQ(labelField(boot("ABCDEFGHIJKLMNOP")), "ABCDEFGHIJK");
  EXPECT_EQ(labelField(boot("SSD")), "SSD        ");
  EXPECT_EQ(labelField(boot("")), "NO NAME    ");
  EXPECT_EQ(labelField(boot("   ")), "NO NAME    ");
  auto entry = EncodeLabelEntry("SSD Disk");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry.data()), 11), "SSD Disk   ");
  EXPECT_EQ(entry[11], 0x08);
  EXPECT_EQ(std::count(entry.begin() + 12, entry.end(), 0), 20);
}

TEST(Fat32Layout, VolumeIsThePartitionAndAgreesWithItsFsInfo) {
  const std::uint64_t part = 2088387;  // 130 cylinders less 63
  const Fat32Layout l = ComputeFat32Layout(1ull << 30, part, 512, 63, 255, 7, "X");
  const Sector boot = EncodeBootSector(l), info = EncodeFsInfo(l);
  auto le32 = [](const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24; };
  EXPECT_EQ(le32(boot.data() + 32), part);
  EXPECT_EQ(le32(boot.data() + 28), 63u);
  EXPECT_EQ(le32(boot.data() + 36), l.fatSectors);
  EXPECT_EQ(l.clusterCount, (part - 32 - 2 * l.fatSectors) / l.sectorsPerCluster);
  EXPECT_GE(std::uint64_t{l.fatSectors} * 512 / 4, l.clusterCount + 2);  // every cluster has its entry
  EXPECT_EQ(le32(info.data() + 488), l.clusterCount - 1);
  EXPECT_EQ(le32(info.data() + 492), 3u);
}

TEST(Fat32Layout, FatHoldsEveryClusterForEveryPartitionLength) {
  // The size formula alone falls one sector short for some lengths above
  // 8 GiB, e.g. the whole-cylinder partition of a 17,494,785-sector drive.
  const Fat32Layout known = ComputeFat32Layout(17494785ull * 512, 17494785 - 63, 512, 63, 255, 1, "");
  EXPECT_EQ(known.fatSectors, 8535u);
  EXPECT_EQ(known.clusterCount, (17494722u - 32 - 2 * 8535) / 16);
  EXPECT_TRUE(Fat32LayoutConsistent(known));

  int grown = 0;
  for (std::uint64_t total = 1000000; total < 140000000; total += 9973) {
    const Fat32Layout l = ComputeFat32Layout(total * 512, total, 512, 63, 255, 1, "");
    ASSERT_TRUE(Fat32LayoutConsistent(l)) << total;
    ASSERT_GE(std::uint64_t{l.fatSectors} * 512 / 4, l.clusterCount + 2) << total;
    ASSERT_LE(l.fatSectors, FatSizeSectors(total, l.sectorsPerCluster, 512) + 1) << total;
    ASSERT_EQ(l.clusterCount, (total - 32 - 2ull * l.fatSectors) / l.sectorsPerCluster) << total;
    if (l.fatSectors != FatSizeSectors(total, l.sectorsPerCluster, 512)) ++grown;
  }
  EXPECT_GT(grown, 0);  // the sweep does reach the lengths the formula gets wrong
}

TEST(Fat32Layout, InconsistentLayoutsAreRecognised) {
  Fat32Layout l = ComputeFat32Layout(1ull << 30, 2088387, 512, 63, 255, 1, "");
  ASSERT_TRUE(Fat32LayoutConsistent(l));
  --l.fatSectors;
  l.clusterCount = std::uint64_t{l.fatSectors} * 128 - 1;  // one entry too many
  EXPECT_FALSE(Fat32LayoutConsistent(l));
  l = ComputeFat32Layout(1ull << 30, 20, 512, 63, 255, 1, "");  // no room for a cluster
  EXPECT_FALSE(Fat32LayoutConsistent(l));
}

TEST(Fat32Layout, LabelCharactersFatForbidsBecomeUnderscores) {
  EXPECT_EQ(SanitizeVolumeLabel("a*b?c/d\"e"), "a_b_c_d_e");
  EXPECT_EQ(SanitizeVolumeLabel("A.B,C;D=E+F"), "A_B_C_D_E_F");
  EXPECT_EQ(SanitizeVolumeLabel("[A]<B>|:\\"), "_A__B____");
  EXPECT_EQ(SanitizeVolumeLabel("QK STATION1~!"), "QK STATION1");
  EXPECT_EQ(SanitizeVolumeLabel("  SSD"), "SSD");
  EXPECT_EQ(SanitizeVolumeLabel(std::string("A\tB\xC3\xA9", 5)), "A_B__");
  const Sector boot = EncodeBootSector(ComputeFat32Layout(1ull << 30, 2000000, 512, 63, 255, 1, "a*b?c"));
  EXPECT_EQ(labelField(boot), "a_b_c      ");
}

TEST(Mbr, OnePartitionAt63OfWholeCylinders) {
  DiskGeometry g;
  g.cylinders = 130;
  EXPECT_EQ(PartitionSectors(MbrVariant::Modern, 2097152, g), 130u * 16065 - 63);
  EXPECT_EQ(PartitionSectors(MbrVariant::Modern, 16064, g), 0u);  // less than a cylinder
  EXPECT_EQ(PartitionSectors(MbrVariant::Modern, 0, g), 0u);
  g.cylinders = 2;
  EXPECT_EQ(PartitionSectors(MbrVariant::Legacy, 2097152, g), 2u * 16065 - 63);

  const Sector modern = EncodeMbr(MbrVariant::Modern, 1000, g);
  const std::uint8_t entry[16] = {0x00, 1, 1, 0, 0x0B, 16, 55, 0, 63, 0, 0, 0, 0xE8, 0x03, 0, 0};
  EXPECT_EQ(0, std::memcmp(modern.data() + 0x1BE, entry, 16));
  EXPECT_EQ(std::count(modern.begin(), modern.begin() + 0x1BE, 0), 0x1BE);
  EXPECT_EQ(modern[510], 0x55);
  EXPECT_EQ(modern[511], 0xAA);

  const Sector legacy = EncodeMbr(MbrVariant::Legacy, 1000, g);
  EXPECT_EQ(0, std::memcmp(legacy.data() + 0x1B8, "\x49\x2E\x73\xB1", 4));
  const std::string code(legacy.begin(), legacy.begin() + 0x1B8);
  for (const char* m : {"Invalid partition table", "Error loading operating system", "Missing operating system"}) {
    EXPECT_NE(code.find(m), std::string::npos) << m;
  }
}

TEST_F(OnBench, FormatsTheSameLayoutTwiceWithANewVolumeId) {
  ASSERT_TRUE(RunDiskFormat(job, "SSD Disk"));
  const Sector first = sector(63);
  clock.advance(1000);  // a second later
  ASSERT_TRUE(FormatFat32(job, "SSD Disk"));
  Sector second = sector(63);
  EXPECT_NE(0, std::memcmp(first.data() + 67, second.data() + 67, 4));
  std::memcpy(second.data() + 67, first.data() + 67, 4);
  EXPECT_EQ(first, second);
}

TEST_F(OnBench, AReadBackThatIsNotZeroFailsTheFormat) {
  test::FakeDrive drive(2097152, device.path());
  drive.corrupt.push_back({63 + 40, 3});
  DiskJob fake{drive, volumes, clock};
  EXPECT_FALSE(FormatFat32(fake, "X"));
  EXPECT_FALSE(ZeroSectors(fake, 63, 512, 0));
  drive.corrupt.clear();
  drive.readErrors.insert(63 + 200);
  EXPECT_FALSE(ZeroSectors(fake, 63, 512, 300));
}

TEST_F(OnBench, NoCapacityNoPartitionNoFormat) {
  test::FakeDrive drive(2097152, device.path());
  drive.capacityAnswer = [] { return 0u; };
  DiskJob fake{drive, volumes, clock};
  EXPECT_FALSE(PartitionDisk(fake));
  EXPECT_FALSE(FormatFat32(fake, "X"));
  EXPECT_TRUE(drive.data.empty());
  // Less than one cylinder: nothing to partition either.
  TransportSectorDevice small(transport, sim::Bench::devicePathFor("Drive2"));
  DiskJob tiny{small, volumes, clock};
  EXPECT_FALSE(PartitionDisk(tiny));
}

TEST_F(OnBench, MountedVolumeIsUnmountedFirstAndTheCacheDroppedBeforeTheReread) {
  const std::string disk = device.path(), node = BenchVolumes::partitionNode(disk);
  ASSERT_TRUE(RunDiskFormat(job, "A"));
  volumes.mount(node, "/media/a");
  ASSERT_TRUE(PartitionDisk(job));
  const auto calls = volumes.calls();
  const auto at = std::find(calls.begin(), calls.end(), "unmount /media/a");
  ASSERT_NE(at, calls.end());
  ASSERT_GE(calls.end() - at, 3);
  EXPECT_EQ(*(at + 1), "flush " + disk);
  EXPECT_EQ(*(at + 2), "reread " + disk);
  EXPECT_FALSE(volumes.isMounted(node));

  // A mount that will not go stops both steps before anything is written.
  volumes.mount(node, "/media/b", true);
  test::FakeDrive drive(2097152, disk);
  DiskJob fake{drive, volumes, clock};
  EXPECT_FALSE(PartitionDisk(fake));
  EXPECT_FALSE(FormatFat32(fake, "A"));
  EXPECT_TRUE(drive.data.empty());
}

TEST_F(OnBench, ExclusiveUseIsRetriedFivePerActiveDriveOneSecondApart) {
  ASSERT_TRUE(PartitionDisk(job));
  auto holder = volumes.openExclusive(device.path());
  ASSERT_TRUE(holder);
  job.activeDrives = 3;
  const std::int64_t before = clock.totalSlept();
  EXPECT_FALSE(FormatFat32(job, "A"));
  EXPECT_EQ(clock.totalSlept() - before, 14 * 1000);  // 15 attempts
  holder.reset();
  EXPECT_TRUE(FormatFat32(job, "A"));
}

TEST_F(OnBench, FormatStepLooksForTheVolumeUpTo101Times) {
  // Sector 0 goes to memory; the system looks at another drive's and finds nothing.
  test::FakeDrive drive(2097152, sim::Bench::devicePathFor("Drive2"));
  drive.writeErrors.insert(0);
  DiskJob fake{drive, volumes, clock};
  std::string volume;
  EXPECT_FALSE(RunDiskFormat(fake, "A", &volume));  // partitioning fails: no lookups
  EXPECT_EQ(clock.totalSlept(), 0);

  // The table is written but the system never shows a volume.
  drive.writeErrors.clear();
  EXPECT_FALSE(RunDiskFormat(fake, "A", &volume));
  EXPECT_EQ(clock.totalSlept(), 101 * 1000);
  EXPECT_EQ(volume, "");

  EXPECT_TRUE(RunDiskFormat(job, "A", &volume));
  EXPECT_EQ(volume, "/dev/bench/Drive1p1");
}
