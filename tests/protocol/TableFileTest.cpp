// Table text files: the exact export format, the import that people's edits
// go through, and the loader header page byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "protocol/LoaderHeader.h"
#include "protocol/TableFile.h"
#include "support/TempDir.h"

using namespace qk;

namespace {

constexpr TableShape kShape{2048, 4, 2, 4};

struct Pages {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(64 * 1024, 0);
  std::uint8_t* page(unsigned c) { return bytes.data() + c * kShape.pageBytes; }
  // Factory table of channel c from its entries (value, byte 2, kind).
  void table(unsigned c, std::vector<std::array<unsigned, 3>> entries) {
    std::uint8_t* p = page(c);
    WriteTableSignature(p, kFactoryTag);
    std::size_t at = 16;
    entries.push_back({kTableEnd, 0, 0});
    for (auto& e : entries) {
      p[at] = static_cast<std::uint8_t>(e[0]);
      p[at + 1] = static_cast<std::uint8_t>(e[0] >> 8);
      p[at + 2] = static_cast<std::uint8_t>(e[1]);
      p[at + 3] = static_cast<std::uint8_t>(e[2]);
      at += 4;
    }
  }
};

}  // namespace

TEST(TableExport, FormatDetails) {
  Pages p;
  p.table(0, {{kBankMarker, 0, 0}, {0x12, 0xAB, 12}, {0x3F0, 0x01, 3}, {kBankMarker, 1, 0}, {0x7, 0, 0}});
  // Channel 1 carries no table: only the line break. Channel 2 is empty.
  p.table(2, {});
  const std::string text = FactoryTableText(p.bytes, kShape, 21);
  EXPECT_EQ(text, "V#21\r\nC#00\r\nB#00U#0012,:;,9U#03F0,01,3\r\nB#01U#0007,00,0\r\n\r\nC#02\r\n");
  // Firmware type 15 writes no version line.
  EXPECT_EQ(FactoryTableText(p.bytes, kShape, 15).substr(0, 6), "\r\nC#00");
}

TEST(TableExport, RoundTripThroughImport) {
  Pages p;
  p.table(0, {{kBankMarker, 0, 0}, {0x12, 0x21, 1}, {kBankMarker, 1, 0}, {0x300, 0x3A, 5}});
  p.table(1, {{kBankMarker, 0, 0}});
  p.table(2, {{kBankMarker, 0, 0}, {0xFFF, 0, 7}});
  p.table(3, {{kBankMarker, 1, 0}, {0x44, 0x10, 2}});
  for (int type : {21, 15}) {
    const std::string first = FactoryTableText(p.bytes, kShape, type);
    Pages back;
    ASSERT_TRUE(ImportTableText(first, back.bytes, kShape, type)) << type;
    EXPECT_EQ(FactoryTableText(back.bytes, kShape, type), first) << type;
    // The pages themselves come back up to each end marker.
    for (unsigned c = 0; c < 4; ++c) EXPECT_EQ(std::memcmp(back.page(c), p.page(c), 16), 0);
  }

  // And through files.
  test::TempDir dir;
  ASSERT_TRUE(ExportFactoryTable(p.bytes, kShape, dir.file("t.txt"), 21));
  Pages back;
  ASSERT_TRUE(ImportTableFile(back.bytes, kShape, dir.file("t.txt"), 21));
  EXPECT_EQ(FactoryTableText(back.bytes, kShape, 21), dir.read("t.txt"));
  EXPECT_FALSE(ImportTableFile(back.bytes, kShape, dir.file("missing.txt"), 21));
  EXPECT_FALSE(ExportFactoryTable(p.bytes, kShape, dir.file("no/such/folder/t.txt"), 21));
}

TEST(TableImport, BadInputFailsWithinThePageBuffer) {
  const std::vector<std::string> bad = {
      "",                                // empty
      "V#21\r\n",                        // no channel at all
      "V#21\r\nC#00B#00U#00",            // truncated entry
      "V#21\r\nC#00B#00U#00G1,00,0",     // bad hex
      "V#21\r\nC#00B#00U#0001,00,x",     // kind not a digit
      "V#21\r\nC#00B#00U#0001,Z0,0",     // nibble out of range
      "V#21\r\nC#04",                    // channel beyond the drive
      "V#21\r\nC#00B#02",                // bank beyond the drive
      "V#21\r\nC#00Q#00",                // unknown tag
      "V#21\r\nC#00S#0010",              // a later-table item
      "V#21\r\nC#01\r\nC#00",            // channels out of order
      "V#21\r\nC#00\r\nC#00",            // a channel twice
      "V#21\r\nB#00",                    // bank before any channel
      "garbage",
      "V#21\r\nC#00V#21",                // version in the middle
  };
  for (const auto& text : bad) {
    std::vector<std::uint8_t> buf(4 * 2048 + 64, 0xCC);
    EXPECT_FALSE(ImportTableText(text, {buf.data(), 4 * 2048}, kShape, 21)) << text;
    for (std::size_t i = 4 * 2048; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0xCC) << text;
  }
  // A buffer too small for the drive's shape is refused.
  std::vector<std::uint8_t> small(100);
  EXPECT_FALSE(ImportTableText("C#00", small, kShape, 21));
}

TEST(TableImport, AFileMustCoverEveryChannelOfTheDrive) {
  Pages p;
  p.table(0, {{kBankMarker, 0, 0}, {0x12, 0x21, 1}});
  p.table(1, {{kBankMarker, 0, 0}, {0x34, 0x21, 1}});
  p.table(2, {{kBankMarker, 1, 0}, {0x56, 0x21, 1}});
  p.table(3, {{kBankMarker, 0, 0}, {0x78, 0x21, 1}});
  const std::string full = FactoryTableText(p.bytes, kShape, 21);
  Pages back;
  ASSERT_TRUE(ImportTableText(full, back.bytes, kShape, 21));
  // Cut at each line boundary: every shorter file lacks a channel's bad blocks.
  for (std::size_t at = full.find("\r\n"); at != std::string::npos; at = full.find("\r\n", at + 2)) {
    if (full.find("C#03", at) == std::string::npos) break;
    EXPECT_FALSE(ImportTableText(full.substr(0, at), back.bytes, kShape, 21)) << full.substr(0, at);
  }
  // A channel left out in the middle, too.
  EXPECT_FALSE(ImportTableText("V#21\r\nC#00B#00\r\nC#01B#00\r\nC#03B#00", back.bytes, kShape, 21));
  // Old paired files cover the partner of each channel they name.
  const TableShape big{4096, 4, 2, 8};
  std::vector<std::uint8_t> buf(64 * 1024);
  EXPECT_FALSE(ImportTableText("V#12\r\nC#00B#00U#0009,00,0\r\nC#01B#01U#0005,00,0", buf, big, 21));
}

TEST(TableImport, MoreEntriesThanAPageHolds) {
  std::string text = "V#21\r\nC#00B#00";
  const std::size_t fits = (2048 - 16 - 4 - 4) / 4;  // signature, bank marker, end marker
  for (std::size_t i = 0; i < fits; ++i) text += "U#0001,00,0";
  const std::string rest = "\r\nC#01\r\nC#02\r\nC#03";
  Pages p;
  EXPECT_TRUE(ImportTableText(text + rest, p.bytes, kShape, 21));
  text += "U#0001,00,0";
  EXPECT_FALSE(ImportTableText(text + rest, p.bytes, kShape, 21));
}

TEST(TableImport, VersionAndTypeRules) {
  Pages p;
  // A type-21 file on type-12 firmware keeps only entries whose kind is the channel number.
  ASSERT_TRUE(ImportTableText(
      "V#21\r\nC#00B#00U#0001,00,0U#0002,00,1\r\nC#01B#00U#0003,00,1U#0004,00,2\r\nC#02\r\nC#03", p.bytes, kShape, 12));
  EXPECT_EQ(FactoryTableText(p.bytes, kShape, 12),
            "V#12\r\nC#00\r\nB#00U#0001,00,0\r\nC#01\r\nB#00U#0003,00,1\r\nC#02\r\nC#03");

  // An old type-12 file on type-21 firmware with 4 KiB pages: channel pairs share their lists.
  const TableShape big{4096, 4, 2, 8};
  std::vector<std::uint8_t> buf(64 * 1024);
  ASSERT_TRUE(ImportTableText("V#12\r\nC#00B#00U#0009,00,0U#0002,00,0\r\nC#01B#01U#0005,00,0\r\nC#03B#00U#0001,00,1",
                              buf, big, 21));
  EXPECT_EQ(FactoryTableText(buf, big, 21),
            "V#21\r\nC#00\r\nB#00U#0002,00,0U#0009,00,0\r\nB#01U#0005,00,0\r\n"
            "C#01\r\nB#00U#0002,00,0U#0009,00,0\r\nB#01U#0005,00,0\r\n"
            "C#02\r\nB#00U#0001,00,1\r\nC#03\r\nB#00U#0001,00,1");
}

TEST(LoaderHeaderPage, ByteForByte) {
  GlobalParameter gp;
  gp.FlashIdWord = 0x0289;  // pages per block code 1: 128
  gp.geometry.PageSectors = 8;
  gp.PartNumber = "PARTNO-1";
  SystemBlockList blocks;
  blocks.count = 4;
  blocks.blocks = {0, 1, 3, 0x204};
  FirmwareTable fw;
  fw.count = 2;
  fw.firstPage = {8, 24};
  fw.pageCount = {16, 10};
  std::vector<std::uint8_t> page(4096, 0x66);
  BuildLoaderHeaderPage(page, gp, blocks, 0x1235, fw);

  std::vector<std::uint8_t> want(4096, 0x66);
  auto put = [&](std::size_t at, std::vector<std::uint8_t> b) { std::copy(b.begin(), b.end(), want.begin() + at); };
  std::fill_n(want.begin(), 0x30, 0);
  put(0x000, {'L', 'D', 'B', 'K', ' ', 'B', 'L', 'O', 'C', 'K', 'S', ' ', 'V', '3', '0', 0});
  put(0x010, {'2', '1', 'X', ' ', 'V', '2', ' ', 0, 0, 8, 128, 0, 0, 0, 0, 0});
  put(0x020, {0, 0, 7, 0, 1, 0, 7, 0, 3, 0, 7, 0, 0x04, 0x02, 7, 0});
  std::fill_n(want.begin() + 0x200, 0x20, 0);
  put(0x200, {'L', 'D', 'B', 'K', ' ', 'C', 'O', 'N', 'F', 'I', 'G', ' ', 'V', '3', '0', 0, 0x35, 0x12});
  put(0x218, {0x30, 0x02, 0, 0, 0x80, 0x02, 0, 0});
  put(0x230, {2});
  put(0x234, {8, 0, 33, 0, 8, 0, 16, 0, 24, 0, 10, 0});
  std::fill_n(want.begin() + 0x260, 20, 0);
  put(0x260, {'P', 'A', 'R', 'T', 'N', 'O', '-', '1'});
  put(0x280, {12, 0});  // 0x282-0x283 are not listed: the image's bytes stay
  put(0x284, {0x20, 0x49, 0x00, 0xB0, 0x21, 0x49, 0x00, 0xB0, 0x22, 0x49, 0x00, 0xB0, 0x23, 0x49, 0x00, 0xB0,
              0x01, 0x02, 0x03, 0x04, 0x24, 0x49, 0x00, 0xB0, 0x25, 0x49, 0x00, 0xB0, 0x26, 0x49, 0x00, 0xB0,
              0x27, 0x49, 0x00, 0xB0, 0x05, 0x06, 0x07, 0x08, 0x28, 0x49, 0x00, 0xB0, 0x29, 0x49, 0x00, 0xB0,
              0x2A, 0x49, 0x00, 0xB0, 0x2B, 0x49, 0x00, 0xB0, 0x09, 0x0A, 0x0B, 0x0C});
  for (std::size_t i = 0; i < want.size(); ++i) ASSERT_EQ(page[i], want[i]) << "offset 0x" << std::hex << i;

  // Read back into a port: blocks, page size and firmware table.
  GlobalParameter gp2;
  PortLoaderState port;
  std::vector<std::uint8_t> full(0x600, 0);
  std::copy_n(page.begin(), full.size(), full.begin());
  ASSERT_TRUE(ApplyLoaderHeader(full, gp2, port));
  EXPECT_EQ(port.systemBlocks.count, 4);
  EXPECT_EQ(port.systemBlocks.blocks, blocks.blocks);
  EXPECT_EQ(port.firmware.firstPage, fw.firstPage);
  EXPECT_EQ(port.firmware.pageCount, fw.pageCount);
  EXPECT_EQ(gp2.geometry.PageSectors, 8);
  EXPECT_EQ(gp2.PartNumber, "PARTNO-1");
  full[0] = 'X';
  EXPECT_FALSE(ApplyLoaderHeader(full, gp2, port));
}
