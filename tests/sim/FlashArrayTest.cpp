// The simulated flash: equal pages share their bytes, yet every page behaves
// as its own (erased, reprogrammed, saved and loaded on its own).
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "sim/FlashArray.h"

using namespace qk::sim;

namespace {

using Bytes = std::vector<std::uint8_t>;

FlashShape shape() { return {4, 1, 8, 4, 64}; }

Bytes page(const FlashArray& f, int channel, std::uint32_t block, std::uint32_t p) {
  Bytes b(f.shape().pageBytes, 0xCC);
  EXPECT_EQ(f.read(channel, 0, block, p, b.data()), FlashResult::Ok);
  return b;
}

}  // namespace

TEST(FlashArray, EqualPagesStayIndependent) {
  FlashArray f(shape());
  const Bytes a(64, 0x5A), b(64, 0xA5);
  // One image to every channel of two blocks, as a firmware download writes it.
  for (std::uint32_t block : {1u, 2u}) {
    for (int c = 0; c < 4; ++c) ASSERT_EQ(f.program(c, 0, block, 0, a.data()), FlashResult::Ok);
  }
  EXPECT_EQ(f.program(0, 0, 1, 0, b.data()), FlashResult::NotErased);
  ASSERT_EQ(f.erase(0, 0, 1), FlashResult::Ok);
  EXPECT_EQ(page(f, 0, 1, 0), Bytes(64, 0xFF));
  ASSERT_EQ(f.program(0, 0, 1, 0, b.data()), FlashResult::Ok);
  EXPECT_EQ(page(f, 0, 1, 0), b);
  for (int c = 1; c < 4; ++c) EXPECT_EQ(page(f, c, 1, 0), a) << c;
  for (int c = 0; c < 4; ++c) EXPECT_EQ(page(f, c, 2, 0), a) << c;

  // The caller's buffer is not kept: changing it after programming changes nothing.
  Bytes scratch = a;
  ASSERT_EQ(f.program(3, 0, 5, 1, scratch.data()), FlashResult::Ok);
  scratch.assign(64, 0);
  EXPECT_EQ(page(f, 3, 5, 1), a);

  std::stringstream s;
  f.save(s);
  FlashArray g(shape());
  ASSERT_TRUE(g.load(s));
  EXPECT_EQ(page(g, 0, 1, 0), b);
  EXPECT_EQ(page(g, 2, 2, 0), a);
  EXPECT_EQ(page(g, 3, 5, 1), a);
  EXPECT_FALSE(g.programmed(0, 0, 3, 0));
}
