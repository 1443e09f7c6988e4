// The chunked user-data store: what it remembers, what it costs, what it keeps.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "sim/UserData.h"
#include "support/TempDir.h"

using namespace qk::sim;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes pattern(std::uint32_t lba, std::uint32_t sectors) {
  Bytes b(sectors * 512ull);
  FillTestPattern(lba, sectors, b.data());
  return b;
}

Bytes readBack(UserData& d, std::uint32_t lba, std::uint32_t sectors) {
  Bytes b(sectors * 512ull, 0xCC);
  EXPECT_TRUE(d.read(lba, sectors, b.data()));
  return b;
}

}  // namespace

TEST(ChunkStore, PatternWordsHoldTheirOwnAddress) {
  Bytes b = pattern(4096, 2);
  EXPECT_EQ(b[600] | b[601] << 8, 0x012C);          // word 300: 4096 x 256 + 300, low 16 bits
  EXPECT_EQ(b[1022] | b[1023] << 8, (4096 * 256 + 511) & 0xFFFF);
  Bytes c = pattern(255, 1);
  EXPECT_EQ(c[0] | c[1] << 8, (255 * 256) & 0xFFFF);
}

TEST(ChunkStore, EveryKindReadsBackAsWritten) {
  auto d = UserData::inMemory(1 << 20);
  EXPECT_EQ(readBack(*d, 5000, 3), Bytes(1536, 0));

  Bytes ones(128 * 512, 0xFF), raw(128 * 512);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i * 13 + 7);
  ASSERT_TRUE(d->write(0, 128, ones.data()));
  ASSERT_TRUE(d->write(128, 128, raw.data()));
  ASSERT_TRUE(d->write(256, 256, pattern(256, 256).data()));
  EXPECT_EQ(readBack(*d, 0, 128), ones);
  EXPECT_EQ(readBack(*d, 128, 128), raw);
  EXPECT_EQ(readBack(*d, 256, 256), pattern(256, 256));
  // A read across kinds, not on chunk bounds.
  Bytes mixed = readBack(*d, 100, 200);
  EXPECT_EQ(Bytes(mixed.begin(), mixed.begin() + 28 * 512), Bytes(28 * 512, 0xFF));
  EXPECT_EQ(Bytes(mixed.begin() + 28 * 512, mixed.begin() + 156 * 512), raw);
  EXPECT_EQ(Bytes(mixed.begin() + 156 * 512, mixed.end()), pattern(256, 44));
}

TEST(ChunkStore, PartialWritesAndOverwrites) {
  auto d = UserData::inMemory(1 << 20);
  // Pattern written in odd pieces, as the quick R/W test does, still reads whole.
  ASSERT_TRUE(d->write(150, 1, pattern(150, 1).data()));
  ASSERT_TRUE(d->write(100033, 5, pattern(100033, 5).data()));
  ASSERT_TRUE(d->write(126, 33, pattern(126, 33).data()));
  EXPECT_EQ(readBack(*d, 150, 1), pattern(150, 1));
  EXPECT_EQ(readBack(*d, 100033, 5), pattern(100033, 5));
  EXPECT_EQ(readBack(*d, 126, 33), pattern(126, 33));
  EXPECT_EQ(readBack(*d, 159, 1), Bytes(512, 0));
  // Overwriting a pattern run in its middle splits it and keeps both sides.
  ASSERT_TRUE(d->write(0, 1024, pattern(0, 1024).data()));
  Bytes zero(512, 0);
  ASSERT_TRUE(d->write(300, 1, zero.data()));
  Bytes back = readBack(*d, 0, 1024);
  Bytes want = pattern(0, 1024);
  std::fill(want.begin() + 300 * 512, want.begin() + 301 * 512, 0);
  EXPECT_EQ(back, want);
  ASSERT_TRUE(d->write(300, 1, pattern(300, 1).data()));
  EXPECT_EQ(readBack(*d, 0, 1024), pattern(0, 1024));
}

TEST(ChunkStore, APatternPassCostsAFewEntries) {
  const std::uint32_t sectors = 4u << 20;  // 2 GiB
  auto d = UserData::inMemory(sectors);
  for (std::uint32_t s = 0; s < sectors; s += 128) ASSERT_TRUE(d->write(s, 128, pattern(s, 128).data()));
  EXPECT_LT(d->footprintBytes(), 1024u);
  Bytes raw(512, 0x42);
  ASSERT_TRUE(d->write(sectors / 2, 1, raw.data()));
  EXPECT_LT(d->footprintBytes(), 70u * 1024);
  ASSERT_TRUE(d->write(sectors / 2, 1, pattern(sectors / 2, 1).data()));
  EXPECT_LT(d->footprintBytes(), 1024u);
  // Erasing with 0xFF is one run as well; zeroing gives the memory back.
  Bytes ones(65536, 0xFF), zeros(65536, 0);
  for (std::uint32_t s = 0; s < sectors; s += 128) ASSERT_TRUE(d->write(s, 128, ones.data()));
  EXPECT_LT(d->footprintBytes(), 1024u);
  for (std::uint32_t s = 0; s < sectors; s += 128) ASSERT_TRUE(d->write(s, 128, zeros.data()));
  EXPECT_EQ(d->footprintBytes(), 0u);
}

TEST(ChunkStore, SavedStateLoadsBack) {
  auto d = UserData::inMemory(1 << 20);
  Bytes raw(512);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i);
  ASSERT_TRUE(d->write(0, 4096, Bytes(4096 * 512, 0xFF).data()));
  ASSERT_TRUE(d->write(9000, 256, pattern(9000, 256).data()));
  ASSERT_TRUE(d->write(77777, 1, raw.data()));
  std::stringstream state;
  d->save(state);
  auto e = UserData::inMemory(1 << 20);
  ASSERT_TRUE(e->load(state));
  EXPECT_EQ(readBack(*e, 0, 4096), Bytes(4096 * 512, 0xFF));
  EXPECT_EQ(readBack(*e, 9000, 256), pattern(9000, 256));
  EXPECT_EQ(readBack(*e, 77777, 1), raw);
  EXPECT_EQ(readBack(*e, 77778, 1), Bytes(512, 0));

  std::stringstream cut(state.str().substr(0, state.str().size() - 100));
  auto f = UserData::inMemory(1 << 20);
  EXPECT_FALSE(f->load(cut));
}

TEST(FileStore, GrowsWithTheReportedCapacity) {
  qk::test::TempDir dir;
  std::string error;
  auto d = UserData::inFile(dir.file("store.img"), 1000, error);
  ASSERT_TRUE(d) << error;
  ASSERT_TRUE(d->setSectors(5000));
  Bytes raw(512, 0x5A);
  ASSERT_TRUE(d->write(4999, 1, raw.data()));
  EXPECT_EQ(std::filesystem::file_size(dir.file("store.img")), 5000u * 512);
  // Shrinking the capacity keeps the data beyond it.
  ASSERT_TRUE(d->setSectors(1000));
  EXPECT_EQ(std::filesystem::file_size(dir.file("store.img")), 5000u * 512);
}

TEST(ChunkStore, ScatteredSectorsCostASectorEachAndSpillIntoAWholeChunk) {
  const std::uint32_t sectors = 4u << 20;  // 2 GiB
  auto d = UserData::inMemory(sectors);
  ASSERT_TRUE(d->write(0, 128, pattern(0, 128).data()));
  Bytes stamp(512);
  for (std::uint32_t s = 1000; s < sectors; s += 1000) {
    stamp[0] = static_cast<std::uint8_t>(s);
    stamp[1] = static_cast<std::uint8_t>(s >> 8);
    ASSERT_TRUE(d->write(s, 1, stamp.data()));
  }
  EXPECT_LT(d->footprintBytes(), 4200u * 1024 * 2);  // not 4194 chunks of 64 KiB
  stamp[0] = static_cast<std::uint8_t>(2000);
  stamp[1] = static_cast<std::uint8_t>(2000 >> 8);
  EXPECT_EQ(readBack(*d, 2000, 1), stamp);
  EXPECT_EQ(readBack(*d, 2001, 1), Bytes(512, 0));

  // More sectors in one chunk than it keeps aside: the chunk is stored whole, nothing lost.
  Bytes want = pattern(0, 128);
  for (std::uint32_t s = 3; s < 128; s += 7) {
    Bytes one(512, static_cast<std::uint8_t>(s));
    ASSERT_TRUE(d->write(s, 1, one.data()));
    std::copy(one.begin(), one.end(), want.begin() + s * 512);
    ASSERT_EQ(readBack(*d, 0, 128), want) << s;
  }
  // Put back a sector at a time, the whole chunk's bytes go once it is pattern again.
  const std::uint64_t spilled = d->footprintBytes();
  for (std::uint32_t s = 3; s < 128; s += 7) {
    ASSERT_TRUE(d->write(s, 1, pattern(s, 1).data()));
    ASSERT_EQ(readBack(*d, s - 1, 3), pattern(s - 1, 3)) << s;
  }
  EXPECT_EQ(readBack(*d, 0, 128), pattern(0, 128));
  EXPECT_LE(d->footprintBytes() + 64 * 1024, spilled);
  // Put back to what the chunk held, the memory goes with it.
  const std::uint64_t before = d->footprintBytes();
  ASSERT_TRUE(d->write(0, 128, pattern(0, 128).data()));
  for (std::uint32_t s = 1000; s < sectors; s += 1000) ASSERT_TRUE(d->write(s, 1, Bytes(512, 0).data()));
  EXPECT_LT(d->footprintBytes(), before);
  EXPECT_LT(d->footprintBytes(), 1024u);
}

TEST(ChunkStore, OddSizedPatternBlocksCostNoChunkAndAFilledChunkBecomesARun) {
  const std::uint32_t sectors = 4u << 20;
  auto d = UserData::inMemory(sectors);
  // The quick R/W test's blocks: pattern pieces into zero chunks, then one stamp beside them.
  const std::pair<std::uint32_t, std::uint32_t> blocks[] = {{5000, 26}, {15000, 126}, {154900, 33}, {80058, 4}};
  for (auto [at, n] : blocks) ASSERT_TRUE(d->write(at, n, pattern(at, n).data()));
  Bytes stamp(512, 0x5A);
  ASSERT_TRUE(d->write(5030, 1, stamp.data()));
  EXPECT_LT(d->footprintBytes(), 8u * 1024);
  for (auto [at, n] : blocks) EXPECT_EQ(readBack(*d, at, n), pattern(at, n)) << at;
  EXPECT_EQ(readBack(*d, 5030, 1), stamp);
  EXPECT_EQ(readBack(*d, 5026, 1), Bytes(512, 0));
  EXPECT_EQ(readBack(*d, 15126, 2), Bytes(1024, 0));

  // 0xFF over part of a pattern chunk, then the chunk filled with pattern in pieces.
  ASSERT_TRUE(d->write(1 << 20, 128, pattern(1 << 20, 128).data()));
  ASSERT_TRUE(d->write((1 << 20) + 7, 3, Bytes(3 * 512, 0xFF).data()));
  Bytes want = pattern(1 << 20, 128);
  std::fill(want.begin() + 7 * 512, want.begin() + 10 * 512, 0xFF);
  EXPECT_EQ(readBack(*d, 1 << 20, 128), want);
  const std::uint64_t before = d->footprintBytes();
  const std::uint32_t base = 2u << 20;
  for (std::uint32_t s = 0; s < 128; s += 32) ASSERT_TRUE(d->write(base + s, 32, pattern(base + s, 32).data()));
  EXPECT_EQ(readBack(*d, base, 128), pattern(base, 128));
  EXPECT_LE(d->footprintBytes(), before + 64);  // one run more, nothing beside it

  // Saved and loaded, the marks read the same.
  std::stringstream state;
  d->save(state);
  auto e = UserData::inMemory(sectors);
  ASSERT_TRUE(e->load(state));
  EXPECT_EQ(readBack(*e, 1 << 20, 128), want);
  EXPECT_EQ(readBack(*e, 5000, 31), readBack(*d, 5000, 31));
}
