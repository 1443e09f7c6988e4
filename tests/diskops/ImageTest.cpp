// Image capture and copy: plain and block images, the volume lock, the check, the capture command.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "diskops/DiskFormatStep.h"
#include "diskops/DiskTestSupport.h"
#include "diskops/ImageCapture.h"
#include "diskops/ImageCopy.h"
#include "diskops/TransportSectorDevice.h"
#include "platform/bench/BenchVolumes.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"
#include "transport/TransportTestSupport.h"

using namespace qk;

namespace {

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> blockImage(const std::vector<std::uint32_t>& targets, std::size_t stray) {
  std::vector<std::uint8_t> out;
  for (std::size_t r = 0; r < targets.size(); ++r) {
    std::vector<std::uint8_t> rec(kBlockRecordBytes, static_cast<std::uint8_t>(0x10 + r));
    for (int i = 0; i < 4; ++i) rec[16384 + i] = static_cast<std::uint8_t>(targets[r] >> (8 * i));
    rec[16390] = 'N';
    rec[16391] = 'T';
    out.insert(out.end(), rec.begin(), rec.end());
  }
  out.insert(out.end(), stray, 0x77);
  return out;
}

struct Images : ::testing::Test {
  VirtualClock clock;
  test::TempDir dir;
  std::unique_ptr<sim::Bench> bench = test::benchFromText(
      "[Hub1]\nParent=root\nKind=usb3\nPorts=4\n[Drive1]\nAt=Hub1:1\nToken=k402\nFlash=WBG\nSectors=2097152\n"
      "[Drive2]\nAt=Hub1:2\nToken=k402\nFlash=WBG\nSectors=2097152\n[Drive3]\nAt=Hub1:3\nToken=k402\nFlash=WBG\n"
      "Sectors=2097152\n",
      clock);
  TransportState state;
  DeviceTransport transport{bench->passThrough(), clock, state};
  BenchVolumes volumes{bench->passThrough()};
  test::FakeDrive drive{100000, "/dev/bench/Drive3"};
  DiskJob job{drive, volumes, clock};
};

}  // namespace

TEST_F(Images, PlainImageGoesInPaddedChunksFromSectorZero) {
  std::vector<std::uint8_t> bytes(100000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
  writeFile(dir.file("plain.img"), bytes);
  ASSERT_TRUE(FlushGhostImg(job, dir.file("plain.img")));
  EXPECT_EQ(drive.log, (std::vector<test::FakeDrive::Op>{{'W', 0, 128}, {'W', 128, 128}}));
  EXPECT_EQ(drive.data[195][100000 - 195 * 512 - 1], bytes.back());
  EXPECT_EQ(drive.data[195][100000 - 195 * 512], 0);  // the padding
  EXPECT_EQ(drive.data[255], std::vector<std::uint8_t>(512, 0));

  writeFile(dir.file("empty.img"), {});
  EXPECT_FALSE(FlushGhostImg(job, dir.file("empty.img")));
  EXPECT_FALSE(FlushGhostImg(job, dir.file("missing.img")));
  drive.writeErrors.insert(130);
  EXPECT_FALSE(FlushGhostImg(job, dir.file("plain.img")));
}

TEST_F(Images, BlockImageWritesWholeRecordsOnlyAndNeedsNoLockWithoutAVolume) {
  writeFile(dir.file("block.img"), blockImage({5000, 64, 99000}, 100));
  ASSERT_TRUE(FlushGhostImg(job, dir.file("block.img")));
  EXPECT_EQ(drive.log, (std::vector<test::FakeDrive::Op>{{'W', 5000, 32}, {'W', 64, 32}, {'W', 99000, 32}}));
  EXPECT_EQ(drive.data[64 + 31], std::vector<std::uint8_t>(512, 0x11));
  EXPECT_EQ(clock.totalSlept(), 0);
  EXPECT_TRUE(volumes.calls().empty());
}

TEST_F(Images, BlockImageLocksTheVolumeAndFailsWhenItCannot) {
  TransportSectorDevice device(transport, sim::Bench::devicePathFor("Drive1"));
  DiskJob real{device, volumes, clock};
  ASSERT_TRUE(RunDiskFormat(real, "A"));
  const std::string node = BenchVolumes::partitionNode(device.path());
  writeFile(dir.file("block.img"), blockImage({63 + 100}, 0));

  volumes.mount(node, "/media/a");  // a mounted volume is taken down for the copy
  ASSERT_TRUE(FlushGhostNTFSImg(real, dir.file("block.img")));
  EXPECT_FALSE(volumes.isMounted(node));

  auto holder = volumes.openExclusive(node);  // someone else holds it: 20 tries, nothing written
  const std::int64_t slept = clock.totalSlept();
  writeFile(dir.file("other.img"), blockImage({63 + 200}, 0));
  EXPECT_FALSE(FlushGhostNTFSImg(real, dir.file("other.img")));
  EXPECT_EQ(clock.totalSlept() - slept, 20 * 500);
  std::vector<std::uint8_t> s(512);
  ASSERT_TRUE(device.readSectors(63 + 200, 1, s.data()));
  EXPECT_NE(s[0], 0x10);
}

TEST_F(Images, CheckReadsTheBootSectorAtZeroOrAt63) {
  EXPECT_TRUE(CheckImgPattern(job));
  EXPECT_EQ(drive.log, (std::vector<test::FakeDrive::Op>{{'R', 0, 128}, {'R', 63, 128}}));
  drive.log.clear();
  std::vector<std::uint8_t> boot(512, 0);
  boot[0] = 0xEB;
  drive.writeSectors(0, 1, boot.data());
  drive.log.clear();
  EXPECT_TRUE(CheckImgPattern(job));
  EXPECT_EQ(drive.log.size(), 1u);
  // A failed read is never a pass, whatever the buffer held.
  drive.readErrors.insert(100);
  boot[0] = 0;
  drive.writeSectors(0, 1, boot.data());
  EXPECT_FALSE(CheckImgPattern(job));
}

TEST_F(Images, SeveralPortsCopyOneImageAtOnce) {
  std::vector<std::uint8_t> bytes(3 * 65536 + 10, 0x42);
  writeFile(dir.file("shared.img"), bytes);
  std::vector<std::unique_ptr<TransportSectorDevice>> devices;
  std::vector<std::thread> workers;
  std::atomic<int> passed{0};
  for (int k = 1; k <= 3; ++k) {
    devices.push_back(std::make_unique<TransportSectorDevice>(transport, sim::Bench::devicePathFor("Drive" + std::to_string(k))));
  }
  for (auto& d : devices) {
    workers.emplace_back([&, dev = d.get()] {
      DiskJob j{*dev, volumes, clock};
      if (FlushGhostImg(j, dir.file("shared.img")) && CheckImgPattern(j)) ++passed;
    });
  }
  for (auto& w : workers) w.join();
  EXPECT_EQ(passed, 3);
  std::vector<std::uint8_t> s(512);
  ASSERT_TRUE(devices[2]->readSectors(384, 1, s.data()));
  EXPECT_EQ(s[9], 0x42);
  EXPECT_EQ(s[10], 0);
}

TEST_F(Images, CaptureTakesTheFatAreaAndUsedSpaceOfTheFirstConfiguredDrive) {
  TransportSectorDevice device(transport, sim::Bench::devicePathFor("Drive2"));
  DiskJob real{device, volumes, clock};
  ASSERT_TRUE(RunDiskFormat(real, "A"));  // 1 GiB: FAT of 2044 sectors, nothing used

  test::RecordingOperator op;
  std::string volume;
  CaptureSetup setup{op, volumes, clock,
                     [this](const std::string& p) { return std::make_unique<TransportSectorDevice>(transport, p); },
                     dir.file("QKSSD.img"), nullptr};
  op.answers.push_back(dir.file("cap.img"));
  ASSERT_TRUE(GenImageBnClick(setup, device.path(), volume));
  EXPECT_EQ(op.questions, std::vector<std::string>{"Image Path|Please Input Path of Dump Image"});
  ASSERT_EQ(op.texts(), std::vector<std::string>{"Dump 1MB image to " + dir.file("cap.img") + " successfully"});
  EXPECT_EQ(volume, "/dev/bench/Drive2p1");
  // (2 × 2044 + 95) / 2048 = 2 MiB, plus 1 MiB used.
  EXPECT_EQ(std::filesystem::file_size(dir.file("cap.img")), 3u * 1048576);

  op.messages.clear();
  op.answers.push_back(std::nullopt);  // cancelled
  EXPECT_FALSE(GenImageBnClick(setup, device.path(), volume));
  EXPECT_EQ(op.texts(), std::vector<std::string>{"Dump Image Fail"});

  op.messages.clear();
  op.answers.push_back(dir.file("none.img"));
  EXPECT_FALSE(GenImageBnClick(setup, "", volume));
  EXPECT_TRUE(op.messages.empty());
  EXPECT_FALSE(std::filesystem::exists(dir.file("none.img")));
}

TEST(CaptureSize, FatSizeFromSectorZeroOrExfat) {
  std::vector<std::uint8_t> boot(512, 0);
  boot[36] = 0xFC;  // 2044 sectors
  boot[37] = 0x07;
  EXPECT_EQ(CaptureSizeMiB(boot.data(), 1), 3u);
  boot[38] = 0x01;  // 67580 sectors: the whole field counts, not its low half
  EXPECT_EQ(CaptureSizeMiB(boot.data(), 1), (2u * 67580 + 95) / 2048 + 1);
  std::memcpy(boot.data() + 3, "EXFAT   ", 8);
  boot[88] = 0x00;
  boot[89] = 0x10;  // 4096
  EXPECT_EQ(CaptureSizeMiB(boot.data(), 5), (2u * 4096 + 95) / 2048 + 5);
}
