// Formats file-backed simulated drives and lets the system's own partition
// and FAT tools judge the result.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <vector>

#include "diskops/Fat32Formatter.h"
#include "diskops/Partitioner.h"
#include "diskops/TransportSectorDevice.h"
#include "platform/bench/BenchVolumes.h"
#include "support/TempDir.h"
#include "transport/TransportTestSupport.h"

using namespace qk;

namespace {

struct ToolRun {
  int status = -1;
  std::string out;
};

ToolRun run(const std::string& command) {
  ToolRun r;
  FILE* p = ::popen(("PATH=$PATH:/usr/sbin:/sbin MTOOLS_SKIP_CHECK=1 " + command + " 2>&1").c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  const int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

bool haveTool(const char* name) { return run(std::string("command -v ") + name).status == 0; }

// Copies [offset, offset + length) of `from` into a new sparse file, moving only the data extents.
bool cutSparse(const std::string& from, std::uint64_t offset, std::uint64_t length, const std::string& to) {
  int in = ::open(from.c_str(), O_RDONLY), out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool ok = in >= 0 && out >= 0 && ::ftruncate(out, static_cast<off_t>(length)) == 0;
  std::vector<char> buf(1 << 20);
  off_t at = static_cast<off_t>(offset);
  const off_t end = static_cast<off_t>(offset + length);
  while (ok && at < end) {
    off_t data = ::lseek(in, at, SEEK_DATA);
    if (data < 0 || data >= end) break;
    off_t hole = std::min(::lseek(in, data, SEEK_HOLE), end);
    for (off_t p = data; ok && p < hole;) {
      const auto n = static_cast<std::size_t>(std::min<off_t>(hole - p, static_cast<off_t>(buf.size())));
      ok = ::pread(in, buf.data(), n, p) == static_cast<ssize_t>(n) &&
           ::pwrite(out, buf.data(), n, p - static_cast<off_t>(offset)) == static_cast<ssize_t>(n);
      p += static_cast<off_t>(n);
    }
    at = hole;
  }
  if (in >= 0) ::close(in);
  if (out >= 0) ::close(out);
  return ok;
}

std::vector<std::uint8_t> sectorOf(const std::string& file, std::uint64_t lba) {
  std::vector<std::uint8_t> s(512);
  int fd = ::open(file.c_str(), O_RDONLY);
  if (fd < 0 || ::pread(fd, s.data(), 512, static_cast<off_t>(lba * 512)) != 512) s.clear();
  if (fd >= 0) ::close(fd);
  return s;
}

std::uint64_t number(const std::string& text, const std::string& pattern) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(pattern))) return 0;
  std::string digits;
  for (char c : m[1].str()) {
    if (c != ' ') digits += c;
  }
  return std::stoull(digits);
}

struct Case {
  const char* name;
  std::uint64_t mib;
  std::uint32_t clusterSectors;
  std::uint64_t sectors = 0;  // instead of mib, for exact lengths
  const char* label = "QK STATION1";
  const char* shown = "QK STATION1";
};

class FormatToolCheck : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(FormatToolCheck, PartitionAndVolumePassTheSystemTools) {
  for (const char* tool : {"sfdisk", "fsck.fat", "minfo", "mdir"}) {
    if (!haveTool(tool)) GTEST_SKIP() << tool << " is missing: install fdisk, dosfstools and mtools";
  }
  const Case c = GetParam();
  test::TempDir dir;
  const std::string image = dir.file("drive.img"), part = dir.file("part.img");
  const std::uint64_t sectors = c.sectors ? c.sectors : c.mib * 2048;
  VirtualClock clock;
  auto bench = test::benchFromText("[Hub1]\nParent=root\nKind=usb3\nPorts=1\n[Drive1]\nAt=Hub1:1\nToken=k402\n"
                                   "Flash=WBG\nSectors=" + std::to_string(sectors) + "\nStore=" + image + "\n",
                                   clock);
  ASSERT_TRUE(bench);
  TransportState state;
  DeviceTransport transport(bench->passThrough(), clock, state);
  TransportSectorDevice device(transport, sim::Bench::devicePathFor("Drive1"));
  BenchVolumes volumes(bench->passThrough());
  DiskJob job{device, volumes, clock};

  ASSERT_TRUE(PartitionDisk(job));
  ASSERT_TRUE(FindDriveLetter(job));
  Fat32Layout layout;
  ASSERT_TRUE(FormatFat32(job, c.label, &layout));
  EXPECT_EQ(layout.sectorsPerCluster, c.clusterSectors);

  // One partition at 63, type b, whole cylinders.
  const ToolRun dump = run("sfdisk --dump " + image);
  ASSERT_EQ(dump.status, 0) << dump.out;
  const std::uint64_t partSectors = number(dump.out, "start= *63, size= *([0-9]+), type=b");
  ASSERT_NE(partSectors, 0u) << dump.out;
  EXPECT_EQ(std::regex_search(dump.out, std::regex("img2 :")), false) << dump.out;
  EXPECT_EQ((partSectors + 63) % (255 * 63), 0u);
  EXPECT_EQ(layout.totalSectors, partSectors);

  // The volume as a file of its own: no complaint, nothing to change.
  ASSERT_TRUE(cutSparse(image, 63 * 512, partSectors * 512, part));
  const ToolRun fsck = run("fsck.fat -n " + part);
  EXPECT_EQ(fsck.status, 0) << fsck.out;
  EXPECT_EQ(fsck.out.find("\n  "), std::string::npos) << "fsck.fat proposed changes:\n" << fsck.out;

  // The backups are the sectors themselves.
  EXPECT_EQ(sectorOf(part, 0), sectorOf(part, 6));
  EXPECT_EQ(sectorOf(part, 1), sectorOf(part, 7));

  const std::string at = image + "@@32256";
  const ToolRun info = run("minfo -i " + at + " ::");
  ASSERT_EQ(info.status, 0) << info.out;
  EXPECT_EQ(number(info.out, "cluster size: ([0-9]+) sectors"), c.clusterSectors) << info.out;
  EXPECT_EQ(number(info.out, "big size: ([0-9]+) sectors"), partSectors) << info.out;
  EXPECT_EQ(number(info.out, "free clusters=([0-9]+)"), layout.clusterCount - 1) << info.out;
  const ToolRun dirList = run("mdir -i " + at + " ::");
  ASSERT_EQ(dirList.status, 0) << dirList.out;
  EXPECT_NE(dirList.out.find(std::string("Volume in drive : is ") + c.shown), std::string::npos) << dirList.out;
  EXPECT_EQ(number(dirList.out, "([0-9 ]+) bytes free"), (layout.clusterCount - 1) * c.clusterSectors * 512)
      << dirList.out;
}

INSTANTIATE_TEST_SUITE_P(Sizes, FormatToolCheck,
                         ::testing::Values(Case{"256MiB", 256, 1}, Case{"4GiB", 4096, 8}, Case{"12GiB", 12288, 16},
                                           Case{"24GiB", 24576, 32}, Case{"64GiB", 65536, 64},
                                           // Lengths whose FAT the size formula alone made one sector short.
                                           Case{"Short16", 0, 16, 17494785}, Case{"Short32", 0, 32, 36033795},
                                           Case{"Short64", 0, 64, 67649715},
                                           Case{"ForbiddenLabel", 256, 1, 0, "a*b?c/d\"e", "a_b_c_d_e"}),
                         [](const auto& info) { return std::string(info.param.name); });
