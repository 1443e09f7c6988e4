// A drive carried by hand-built commands through preformat and a written
// loader area to its booted firmware; seeded and persisted drives.
#include <gtest/gtest.h>

#include <thread>

#include "SimRig.h"
#include "sim/Firmware.h"
#include "support/TempDir.h"

using namespace qk;
using namespace qk::sim;
using namespace qk::sim::test;

namespace {

const std::string kWbg = "Flash=WBG\nChannel=4\nBank=2\nSectors=100000\n";
constexpr std::uint32_t kPage = 4096;
constexpr int kChannels = 4;
const Bytes kFactorySig{0xE9, 0x86, 0xAA, 0x55, 'Q', 'K', 'R', '2', '0', 'X', '-', 'V', '0', '0', '1', 0};

Bytes gdpImage(std::uint8_t featureCode = 0) {
  Bytes img(64512, 0x66);
  std::memcpy(img.data() + 64, "GDP_", 4);
  std::fill(img.begin() + 0x500, img.begin() + 0x578, 0);
  img[0x500] = 0x81;  // ID word 0x0281
  img[0x501] = 0x02;
  img[0x503] = 4;
  img[0x504] = 2;
  img[0x509] = featureCode;
  return img;
}

bool loadGdp(Rig& r, Bytes img) {
  return r.cmd(vendorBlock(0x81)) && r.cmd(vendorBlock(0x83, {0})) &&
         r.cmd(vendorBlock(0x87, {3, 0x40, 0, 0, 0}), DataDirection::Out, img.data(), 126) &&
         r.cmd(vendorBlock(0x82));
}

// Starts a task and polls its status until it is no longer busy.
int runTask(Rig& r, std::uint8_t task, std::uint8_t flags) {
  if (!r.cmd(vendorBlock(task, {flags}))) return -1;
  for (int i = 0; i < 10; ++i) {
    int s = r.status(vendorBlock(0x00));
    if (s != 0xAA) return s;
  }
  return 0xAA;
}

Block pageBlock(std::uint8_t sub, std::uint8_t channel, std::uint8_t ce, std::uint16_t block, std::uint16_t page) {
  return vendorBlock(sub, {channel, ce, static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(block),
                           static_cast<std::uint8_t>(page >> 8), static_cast<std::uint8_t>(page), 0, 0});
}

Bytes readPage(Rig& r, int channel, int ce, std::uint16_t block, std::uint16_t page) {
  return r.in(pageBlock(0x89, static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(ce), block, page), 8);
}

Bytes head(const Bytes& b, size_t n, size_t from = 0) { return Bytes(b.begin() + from, b.begin() + from + n); }

void putLe16(Bytes& b, size_t at, unsigned v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// ATA text at `at`, `width` bytes: space padded, the bytes of each word swapped.
void putSwapped(Bytes& b, size_t at, size_t width, const std::string& text) {
  std::string t = text;
  t.resize(width, ' ');
  for (size_t i = 0; i < width; i += 2) {
    b[at + i] = static_cast<std::uint8_t>(t[i + 1]);
    b[at + i + 1] = static_cast<std::uint8_t>(t[i]);
  }
}

// A firmware file of `pages` pages. First page: identity data from 0x4C
// ('S': IDENTIFY, 'U': INQUIRY at 0x6E), "QKSSD" at 0x300, the form at 0x30D,
// the flash parameter record at 0x500 (ID word, channels, banks, reserved
// ratio 500 per mille). The last page ends with 55 AA EC 31.
std::vector<Bytes> firmwareFile(char form, int pages) {
  std::vector<Bytes> f(static_cast<size_t>(pages), Bytes(kPage, 0x3C));
  Bytes& p = f[0];
  std::fill(p.begin() + 0x4C, p.begin() + 0x24C, 0);
  if (form == 'S') {
    putSwapped(p, 0x60, 20, "SN-HAND-01");
    putSwapped(p, 0x7A, 8, "FW0815");
    putSwapped(p, 0x82, 40, "Hand Built SSD");
  } else {
    const char inquiry[] = "\x00\x80\x02\x02\x1F\x00\x00\x00QKTECH  Station Disk    2.00";
    std::memcpy(p.data() + 0x6E, inquiry, 36);
  }
  std::memcpy(p.data() + 0x300, "QKSSD", 5);
  p[0x30D] = static_cast<std::uint8_t>(form);
  std::fill(p.begin() + 0x500, p.begin() + 0x530, 0);
  putLe16(p, 0x500, 0x0281);
  p[0x503] = 4;
  p[0x504] = 2;
  p[0x508] = 500 & 0xFF;
  p[0x51A] = 500 >> 8;
  Bytes& last = f.back();
  last[kPage - 4] = 0x55;
  last[kPage - 3] = 0xAA;
  last[kPage - 2] = 0xEC;
  last[kPage - 1] = 0x31;
  return f;
}
constexpr std::uint32_t kHandCapacity = 8 * 1953504 + 21168;  // ratio 500 on WBG, 4 x 2

// Header page: "LDBK BLOCKS V30" at 0, PageSectors 0x19, pages per block 0x1A,
// system blocks at 0x20 + 4i (flags 7), "LDBK CONFIG V30" at 0x200, sequence
// 0x210, table offset 0x230 at 0x218, file count 0x230, first and last page
// 0x234/0x236, file first page and count 0x238/0x23A.
Bytes headerPage(std::uint16_t sequence, int filePages) {
  Bytes h(kPage, 0);
  std::memcpy(h.data(), "LDBK BLOCKS V30", 16);
  std::memcpy(h.data() + 0x10, "21X V2 ", 8);
  h[0x19] = 8;
  putLe16(h, 0x1A, 64);
  for (int i = 0; i < 4; ++i) {
    putLe16(h, 0x20 + 4 * i, static_cast<unsigned>(i));
    putLe16(h, 0x22 + 4 * i, 7);
  }
  std::memcpy(h.data() + 0x200, "LDBK CONFIG V30", 16);
  putLe16(h, 0x210, sequence);
  putLe16(h, 0x218, 0x230);
  h[0x230] = 1;
  putLe16(h, 0x234, 8);
  putLe16(h, 0x236, 8 + filePages - 1);
  putLe16(h, 0x238, 8);
  putLe16(h, 0x23A, static_cast<unsigned>(filePages));
  return h;
}

Bytes allChannels(const Bytes& page, bool channelByte = false) {
  Bytes d;
  for (int c = 0; c < kChannels; ++c) {
    Bytes copy = page;
    if (channelByte) copy[0x18] = static_cast<std::uint8_t>(c);
    d.insert(d.end(), copy.begin(), copy.end());
  }
  return d;
}

// Writes header and firmware to blocks 0..3 (erased first).
void writeLoaderArea(Rig& r, const Bytes& header, const std::vector<Bytes>& file) {
  for (std::uint16_t block = 0; block < 4; ++block) {
    ASSERT_TRUE(r.cmd(vendorBlock(0x8B, {8, 0, 0, static_cast<std::uint8_t>(block)})));
    Bytes h = allChannels(header, true);
    ASSERT_TRUE(r.cmd(pageBlock(0x8A, 8, 0, block, 0), DataDirection::Out, h.data(), 32));
    for (size_t k = 0; k < file.size(); ++k) {
      Bytes p = allChannels(file[k]);
      ASSERT_TRUE(r.cmd(pageBlock(0x8A, 8, 0, block, static_cast<std::uint16_t>(8 + k)), DataDirection::Out, p.data(), 32));
    }
  }
}

bool boot(Rig& r) { return r.cmd(vendorBlock(0x81, {1})) && r.cmd(vendorBlock(0x83, {1})); }
int state(Rig& r) { return r.in(vendorBlock(0x80))[8]; }

}  // namespace

TEST(SimPreformat, WritesTheTablesThatAreReadBack) {
  auto r = usbRig(kWbg + "FactoryBad=1:0:0x120,1:1:0x33,2:1:5\n");
  ASSERT_TRUE(loadGdp(*r, gdpImage()));
  ASSERT_EQ(runTask(*r, 0x03, 0x08), 10);
  for (std::uint16_t block = 0; block < 4; ++block) {
    Bytes ch1 = readPage(*r, 1, 0, block, 1);
    EXPECT_EQ(head(ch1, 16), kFactorySig);
    // Bank 0 marker, block 0x120, bank 1 marker, block 0x33, end marker.
    EXPECT_EQ(head(ch1, 20, 16), (Bytes{0xFB, 0xA0, 0, 0, 0x20, 0x01, 0, 0, 0xFB, 0xA0, 1, 0, 0x33, 0, 0, 0,
                                        0xFE, 0xD1, 0, 0}));
    EXPECT_EQ(head(readPage(*r, 0, 0, block, 1), 12, 16), (Bytes{0xFB, 0xA0, 0, 0, 0xFB, 0xA0, 1, 0, 0xFE, 0xD1, 0, 0}));
    Bytes later = readPage(*r, 3, 0, block, 2);
    EXPECT_EQ(head(later, 4), (Bytes{0x45, 0x79, 0xAA, 0x55}));
    EXPECT_EQ(head(later, 2, 16), (Bytes{0x00, 0xFE}));
    // Remap off: SYSP is page 3; A = 2, B = 3.
    Bytes sysp = readPage(*r, 2, 0, block, 3);
    EXPECT_EQ(std::string(sysp.begin(), sysp.begin() + 15), std::string("SYSPQKR20X-V001"));
    EXPECT_EQ(le16(&sysp[16]), 2);
    EXPECT_EQ(le16(&sysp[20]), 3);
    EXPECT_EQ(readPage(*r, 0, 0, block, 4), Bytes(kPage, 0xFF));
  }
  // Later-table pages: loader block 2A on slot 0, 2B on slot 1 (bank 1) and slot 0 (die 1).
  for (auto [block, ce] : {std::pair<std::uint16_t, int>{4, 0}, {6, 1}, {6, 0}}) {
    Bytes p = readPage(*r, 3, ce, block, 1);
    EXPECT_EQ(head(p, 4), (Bytes{0xE8, 0xDC, 0x55, 0xAA}));
    EXPECT_EQ(le16(&p[16]), 0);
  }
  // The table check of task 1 now finds it.
  EXPECT_EQ(runTask(*r, 0x01, 0x00), 14);
  EXPECT_EQ(runTask(*r, 0x04, 0x00), 18);
}

TEST(SimPreformat, WithRemapTheRemapTablePrecedesSysp) {
  auto r = bridgedRig(kWbg);
  ASSERT_TRUE(loadGdp(*r, gdpImage(0x20)));
  ASSERT_EQ(runTask(*r, 0x03, 0x08 | 0x04), 10);
  EXPECT_EQ(head(readPage(*r, 0, 0, 2, 3), 4), (Bytes{0x9E, 0x68, 0x55, 0xAA}));
  EXPECT_EQ(head(readPage(*r, 0, 0, 2, 4), 4), (Bytes{'S', 'Y', 'S', 'P'}));
}

TEST(SimPreformat, SystemBlocksSkipBadOnes) {
  auto r = usbRig(kWbg + "FactoryBad=3:0:1\n");
  ASSERT_TRUE(loadGdp(*r, gdpImage()));
  ASSERT_EQ(runTask(*r, 0x03, 0x08), 10);
  EXPECT_EQ(readPage(*r, 0, 0, 1, 1), Bytes(kPage, 0xFF));
  EXPECT_EQ(head(readPage(*r, 0, 0, 4, 1), 16), kFactorySig);
  // A = 3 (loader block 6 follows system block 4).
  EXPECT_EQ(le16(&readPage(*r, 0, 0, 4, 3)[16]), 3);
}

class SimDownload : public ::testing::TestWithParam<bool> {};

TEST_P(SimDownload, FromBlankToBootedFirmwareWithItsIdentityAndCapacity) {
  const bool bridged = GetParam();
  auto r = bridged ? bridgedRig(kWbg) : usbRig(kWbg);
  ASSERT_TRUE(loadGdp(*r, gdpImage()));
  ASSERT_EQ(runTask(*r, 0x03, 0x08), 10);
  Bytes list = r->in(vendorBlock(0x07));
  ASSERT_EQ(head(list, 8), (Bytes{0, 0, 1, 0, 2, 0, 3, 0}));

  // As a download does: keep the system area, prepare, rewrite it behind a new header.
  std::vector<Bytes> area;
  for (std::uint16_t page = 1; page <= 3; ++page) {
    Bytes all;
    for (int c = 0; c < kChannels; ++c) {
      Bytes p = readPage(*r, c, 0, 2, page);
      all.insert(all.end(), p.begin(), p.end());
    }
    area.push_back(all);
  }
  ASSERT_EQ(runTask(*r, 0x01, 0x10), 14);
  const auto file = firmwareFile(bridged ? 'S' : 'U', 3);
  Bytes header = allChannels(headerPage(5, 3), true);
  for (std::uint16_t block = 0; block < 4; ++block) {
    ASSERT_TRUE(r->cmd(pageBlock(0x8A, 8, 0, block, 0), DataDirection::Out, header.data(), 32));
    for (std::uint16_t page = 1; page <= 3; ++page) {
      ASSERT_TRUE(r->cmd(pageBlock(0x8A, 8, 0, block, page), DataDirection::Out, area[page - 1u].data(), 32));
    }
    for (size_t k = 0; k < file.size(); ++k) {
      Bytes p = allChannels(file[k]);
      ASSERT_TRUE(r->cmd(pageBlock(0x8A, 8, 0, block, static_cast<std::uint16_t>(8 + k)), DataDirection::Out,
                         p.data(), 32));
    }
  }
  ASSERT_TRUE(boot(*r));
  Bytes info = r->in(vendorBlock(0x80));
  EXPECT_EQ(info[8], 2);
  EXPECT_EQ(le16(&info[44]), 5);
  EXPECT_EQ(head(info, 8, 46), (Bytes{4, 0, 0, 0, 1, 0, 2, 0}));

  if (bridged) {
    Bytes id = r->identify();
    ASSERT_TRUE(r->lastOk);
    EXPECT_EQ(Rig::ataText(id, 10, 10), "SN-HAND-01");
    EXPECT_EQ(Rig::ataText(id, 23, 4), "FW0815");
    EXPECT_EQ(Rig::ataText(id, 27, 20), "Hand Built SSD");
    EXPECT_EQ(le16(&id[120]) | le16(&id[122]) << 16, kHandCapacity);
    EXPECT_EQ(le16(&id[200]) | le16(&id[202]) << 16, kHandCapacity);
    std::uint8_t sum = 0;
    for (auto b : id) sum = static_cast<std::uint8_t>(sum + b);
    EXPECT_EQ(sum, 0);
    // The bridge keeps its own INQUIRY.
    Bytes inq = r->inquiry();
    EXPECT_EQ(std::string(inq.begin() + 16, inq.begin() + 31), "USB-SATA Bridge");
  } else {
    Bytes inq = r->inquiry();
    EXPECT_EQ(std::string(inq.begin() + 8, inq.begin() + 36), "QKTECH  Station Disk    2.00");
    EXPECT_EQ(r->lastLba(), kHandCapacity - 1);
    // The identity record is the booted first page.
    Bytes rec = r->in(vendorBlock(0x86, {1, 0, 0, 0, 0}), 8);
    EXPECT_EQ(std::string(rec.begin() + 0x76, rec.begin() + 0x7E), "QKTECH  ");
  }
  // The firmware numbers blocks in pairs: its block 0 is loader blocks 0 and 1.
  Bytes tables = r->in(vendorBlock(0x04, {0x0F, 0, 0, 0, 0, 1, 0, 0}), 8);
  EXPECT_EQ(head(tables, 16), kFactorySig);
  // The drive is a disk of that size now.
  Bytes sector(512, 0x77);
  std::uint32_t last = kHandCapacity - 1;
  Bytes w = {0x2A, 0, static_cast<std::uint8_t>(last >> 24), static_cast<std::uint8_t>(last >> 16),
             static_cast<std::uint8_t>(last >> 8), static_cast<std::uint8_t>(last), 0, 0, 1, 0};
  EXPECT_TRUE(Rig::good(r->send(w, DataDirection::Out, sector.data(), 512)));
  w[5] = static_cast<std::uint8_t>(last + 1);
  EXPECT_FALSE(Rig::good(r->send(w, DataDirection::Out, sector.data(), 512)));
  // A restart into the ROM leaves the firmware until the next boot.
  ASSERT_TRUE(r->cmd(vendorBlock(0x81)) && r->cmd(vendorBlock(0x83, {0})));
  EXPECT_EQ(state(*r), 0);
  ASSERT_TRUE(r->cmd(vendorBlock(0x83, {2})));
  EXPECT_EQ(state(*r), 2);
}

INSTANTIATE_TEST_SUITE_P(BothPaths, SimDownload, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Bridge" : "Usb"; });

TEST(SimBoot, ABrokenLoaderAreaLeavesTheDriveInTheRom) {
  struct Case {
    const char* what;
    std::function<void(Bytes&, std::vector<Bytes>&)> spoil;
  };
  const std::vector<Case> cases = {
      {"intact", [](Bytes&, std::vector<Bytes>&) {}},
      {"config magic", [](Bytes& h, std::vector<Bytes>&) { h[0x205] = 'X'; }},
      {"page size", [](Bytes& h, std::vector<Bytes>&) { h[0x19] = 16; }},
      {"file count", [](Bytes& h, std::vector<Bytes>&) { h[0x230] = 3; }},
      {"table outside the block", [](Bytes& h, std::vector<Bytes>&) { putLe16(h, 0x238, 62); }},
      {"table before page 8", [](Bytes& h, std::vector<Bytes>&) { putLe16(h, 0x238, 7); }},
      {"no QKSS", [](Bytes&, std::vector<Bytes>& f) { f[0][0x301] = 'X'; }},
      {"no end mark", [](Bytes&, std::vector<Bytes>& f) { f.back()[kPage - 1] = 0x32; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = bridgedRig(kWbg);
    Bytes header = headerPage(1, 3);
    auto file = firmwareFile('S', 3);
    c.spoil(header, file);
    ASSERT_NO_FATAL_FAILURE(writeLoaderArea(*r, header, file));
    ASSERT_TRUE(boot(*r));
    const bool intact = std::string(c.what) == "intact";
    EXPECT_EQ(state(*r), intact ? 2 : 0);
    EXPECT_EQ(Rig::ataText(r->identify(), 27, 20), intact ? "Hand Built SSD" : "Generic FCR SATA Loader Loader Device");
  }
}

TEST(SimBoot, ReadySeedsADownloadedDriveWithTheDefaultProfile) {
  auto sata = bridgedRig(kWbg + "State=ready\n");
  Bytes id = sata->identify();
  EXPECT_EQ(Rig::ataText(id, 10, 10), "000000Drive1");
  EXPECT_EQ(Rig::ataText(id, 23, 4), "12345678");
  EXPECT_EQ(Rig::ataText(id, 27, 20), "Talvery QKR2XX SSD");
  EXPECT_EQ(le16(&id[120]) | le16(&id[122]) << 16, 29323728u);
  EXPECT_EQ(le16(&sata->in(vendorBlock(0x80))[44]), 1);

  auto usb = usbRig(kWbg + "State=ready\n");
  EXPECT_EQ(usb->lastLba(), 29323728u - 1);
  Bytes rec = usb->in(vendorBlock(0x86, {1, 0, 0, 0, 0}), 8);
  EXPECT_EQ(rec[0xF2], 26);  // serial string descriptor, 12 characters
  EXPECT_EQ(rec[0xF4], '0');
  EXPECT_EQ(rec[0xF4 + 2 * 11], '1');
}

TEST(SimBoot, FormattedSeedsTheSystemAreaOnly) {
  auto r = usbRig(kWbg + "State=formatted\n");
  EXPECT_EQ(state(*r), 0);
  EXPECT_EQ(head(readPage(*r, 2, 0, 3, 1), 16), kFactorySig);
  EXPECT_EQ(readPage(*r, 2, 0, 3, 0), Bytes(kPage, 0xFF));
}

TEST(SimPower, APowerCycleBootsFromFlashAgain) {
  auto r = usbRig(kWbg + "State=ready\n");
  ASSERT_TRUE(loadGdp(*r, gdpImage()));
  EXPECT_EQ(state(*r), 1);
  r->bench->unplug("Drive1");
  r->bench->plug("Drive1");
  EXPECT_EQ(state(*r), 2);
  EXPECT_EQ(r->lastLba(), 29323728u - 1);
}

TEST(SimPersist, FlashAndUserDataSurviveTheBench) {
  qk::test::TempDir dir;
  const std::string keys = kWbg + "Persist=drive.state\n";
  Bytes raw(512);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i * 3 + 1);
  {
    Rig r(keys + "State=ready\n", "R20X", dir.path());
    ASSERT_TRUE(Rig::good(r.send({0x2A, 0, 0, 0, 0x03, 0xE8, 0, 0, 1, 0}, DataDirection::Out, raw.data(), 512)));
  }
  {
    // State only seeds a drive without persisted state: this one boots its firmware.
    Rig r(keys + "State=blank\n", "R20X", dir.path());
    EXPECT_EQ(r.lastLba(), 29323728u - 1);
    Bytes back(512);
    ASSERT_TRUE(Rig::good(r.send({0x28, 0, 0, 0, 0x03, 0xE8, 0, 0, 1, 0}, DataDirection::In, back.data(), 512)));
    EXPECT_EQ(back, raw);
    // Erasing the loader area and unplugging writes the state at once.
    for (std::uint8_t block = 0; block < 4; ++block) ASSERT_TRUE(r.cmd(vendorBlock(0x8B, {8, 0, 0, block})));
    r.bench->unplug("Drive1");
    Rig again(keys, "R20X", dir.path());
    EXPECT_EQ(state(again), 0);
  }
}

TEST(SimPersist, ADamagedStateFileIsALoadError) {
  qk::test::TempDir dir;
  dir.write("drive.state", "not a drive");
  BenchConfig cfg;
  std::string error;
  ASSERT_TRUE(ParseBenchText("[Hub1]\nParent=root\nKind=usb2\nPorts=2\n[Drive1]\nAt=Hub1:1\n" + kWbg +
                                 "Persist=drive.state\n",
                             dir.path(), {}, cfg, error));
  EXPECT_EQ(Bench::fromConfig(cfg, {}, error), nullptr);
  EXPECT_NE(error.find("[Drive1] Persist"), std::string::npos) << error;
}

TEST(SimConcurrency, FiftyDrivesPreformatAtOnce) {
  std::string text = "[Hub1]\nParent=root\nKind=usb3\nPorts=60\n";
  for (int i = 1; i <= 50; ++i) {
    text += "[Drive" + std::to_string(i) + "]\nAt=Hub1:" + std::to_string(i) + "\nToken=" +
            (i % 2 ? "R20X" : "k402") + "\n" + kWbg + (i % 5 == 0 ? "State=ready\n" : "");
  }
  BenchConfig cfg;
  std::string error;
  ASSERT_TRUE(ParseBenchText(text, "/tmp", {}, cfg, error)) << error;
  VirtualClock clock;
  BenchOptions options;
  options.clock = &clock;
  auto bench = Bench::fromConfig(std::move(cfg), options, error);
  ASSERT_TRUE(bench) << error;

  std::vector<int> results(50, -1);
  std::vector<std::thread> workers;
  for (int i = 0; i < 50; ++i) {
    workers.emplace_back([&, i] {
      const std::string path = Bench::devicePathFor("Drive" + std::to_string(i + 1));
      const bool bridged = i % 2 == 1;
      auto send = [&](Block b, DataDirection dir, std::uint8_t* data, std::uint32_t sectors) {
        auto one = [&](const Bytes& cdb, DataDirection d, std::uint8_t* buf, std::uint32_t len) {
          PassThroughRequest r;
          r.cdb = cdb.data();
          r.cdbLength = cdb.size();
          r.direction = d;
          r.buffer = buf;
          r.length = len;
          r.timeoutMs = 1000;
          return Rig::good(bench->passThrough().execute(path, r));
        };
        if (!bridged) return one(Bytes(b.begin(), b.end()), dir, data, sectors * 512);
        b[1] = 0xE5;
        std::uint8_t sector[512] = {};
        std::memcpy(sector, b.data(), 12);
        if (!one(Rig::wrapCdb(true, 1, 0xFF, 2), DataDirection::Out, sector, 512)) return false;
        return sectors == 0 ||
               one(Rig::wrapCdb(dir == DataDirection::Out, static_cast<std::uint8_t>(sectors), b[2], 2), dir, data,
                   sectors * 512);
      };
      Bytes img = gdpImage();
      Bytes status(512);
      bool ok = send(vendorBlock(0x81), DataDirection::None, nullptr, 0) &&
                send(vendorBlock(0x87, {3, 0x40, 0, 0, 0}), DataDirection::Out, img.data(), 126) &&
                send(vendorBlock(0x82), DataDirection::None, nullptr, 0) &&
                send(vendorBlock(0x03, {0x08}), DataDirection::None, nullptr, 0);
      for (int poll = 0; ok && poll < 5; ++poll) {
        ok = send(vendorBlock(0x00), DataDirection::In, status.data(), 1);
        if (status[bridged ? 1 : 0] != 0xAA) break;
      }
      if (ok) results[static_cast<size_t>(i)] = status[bridged ? 1 : 0];
    });
  }
  for (auto& t : workers) t.join();
  for (int i = 0; i < 50; ++i) EXPECT_EQ(results[static_cast<size_t>(i)], 10) << "Drive" << i + 1;
}

TEST(SimBoot, ABootedNativeDriveShowsItsDownloadedUsbIdentity) {
  auto r = usbRig(kWbg + "UsbSerial=LOADER01\nVendorId=0x1234\nProductId=0x5678\n");
  auto seen = [&] { return r->bench->attachments().front(); };
  EXPECT_EQ(seen().usbSerial, "LOADER01");
  auto file = firmwareFile('U', 2);
  file[0][0x64] = 0x34;  // vendor 0x0B34, product 0x2001
  file[0][0x65] = 0x0B;
  file[0][0x66] = 0x01;
  file[0][0x67] = 0x20;
  const std::string serial = "QK2026";
  file[0][0xF2] = static_cast<std::uint8_t>(2 * serial.size() + 2);
  for (size_t i = 0; i < serial.size(); ++i) {
    file[0][0xF4 + 2 * i] = static_cast<std::uint8_t>(serial[i]);
    file[0][0xF5 + 2 * i] = 0;
  }
  ASSERT_NO_FATAL_FAILURE(writeLoaderArea(*r, headerPage(1, 2), file));
  ASSERT_TRUE(boot(*r));
  EXPECT_EQ(seen().vendorId, 0x0B34);
  EXPECT_EQ(seen().productId, 0x2001);
  EXPECT_EQ(seen().usbSerial, "QK2026");
  ASSERT_TRUE(r->cmd(vendorBlock(0x81)));
  EXPECT_EQ(seen().usbSerial, "LOADER01");
}

TEST(SimCapacity, UsableLbaCountOfAFlashParameterRecord) {
  std::uint8_t record[0x30] = {};
  auto set = [&](std::uint16_t idWord, std::uint8_t flags, std::uint8_t channels, std::uint8_t banks, unsigned ratio) {
    record[0] = static_cast<std::uint8_t>(idWord);
    record[1] = static_cast<std::uint8_t>(idWord >> 8);
    record[2] = flags;
    record[3] = channels;
    record[4] = banks;
    record[8] = static_cast<std::uint8_t>(ratio);
    record[0x1A] = static_cast<std::uint8_t>(ratio >> 8);
    return UsableLbaCount(record);
  };
  EXPECT_EQ(set(0x0281, 0, 4, 2, 68), 29323728u);
  EXPECT_EQ(set(0x0281, 0, 4, 2, 500), 15649200u);
  // Two-plane halves the pages per block; 256 pages count as 255.
  EXPECT_EQ(set(0x0289, 0x02, 4, 2, 68), 29323728u);
  EXPECT_EQ(set(0x0291, 0, 1, 1, 0), 15649200u);  // 256 pages per block
  // Nothing left to give: no capacity rather than a wrapped-around one.
  EXPECT_EQ(set(0x0281, 0, 4, 2, 1000), 0u);
  EXPECT_EQ(set(0x0281, 0, 0, 2, 68), 0u);
}
