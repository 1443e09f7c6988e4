#include "platform/Jpeg.h"

#include <gtest/gtest.h>

namespace qk {
namespace {

TEST(Jpeg, EncodedImageDecodesToTheSameSizeAndRoughlyTheSamePixels) {
  RgbImage img;
  img.width = 40;
  img.height = 24;
  img.rgb.resize(40 * 24 * 3);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 40; ++x) {
      auto* p = &img.rgb[static_cast<std::size_t>((y * 40 + x) * 3)];
      p[0] = x < 20 ? 255 : 0;  // red left half, green right half
      p[1] = x < 20 ? 0 : 255;
      p[2] = 0;
    }
  auto jpeg = EncodeJpeg(img);
  ASSERT_TRUE(jpeg);
  ASSERT_GT(jpeg->size(), 4u);
  EXPECT_EQ((*jpeg)[0], 0xFF);
  EXPECT_EQ((*jpeg)[1], 0xD8);
  auto back = DecodeJpeg(*jpeg);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->width, 40);
  EXPECT_EQ(back->height, 24);
  const auto* left = &back->rgb[static_cast<std::size_t>((12 * 40 + 5) * 3)];
  const auto* right = &back->rgb[static_cast<std::size_t>((12 * 40 + 35) * 3)];
  EXPECT_GT(left[0], 200);
  EXPECT_LT(left[1], 60);
  EXPECT_GT(right[1], 200);
  EXPECT_LT(right[0], 60);
}

TEST(Jpeg, RefusesEmptyMismatchedAndGarbageInput) {
  EXPECT_FALSE(EncodeJpeg(RgbImage{}));
  RgbImage wrong{4, 4, std::vector<std::uint8_t>(10)};
  EXPECT_FALSE(EncodeJpeg(wrong));
  EXPECT_FALSE(DecodeJpeg({}));
  EXPECT_FALSE(DecodeJpeg({0xFF, 0xD8, 0x00, 0x01, 0x02}));
  EXPECT_FALSE(LoadJpegFile("/nonexistent/Layout_Front.jpg"));
}

}  // namespace
}  // namespace qk
