#pragma once
// JPEG in and out for the window's screenshot and the board photos.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qk {

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // 3 bytes a pixel, rows top to bottom, no padding
};

// nullopt when the image is empty or the encoder fails.
std::optional<std::vector<std::uint8_t>> EncodeJpeg(const RgbImage& image, int quality = 90);
std::optional<RgbImage> DecodeJpeg(const std::vector<std::uint8_t>& jpeg);
// The file read whole and decoded; nullopt when missing or not a JPEG.
std::optional<RgbImage> LoadJpegFile(const std::string& path);

}  // namespace qk
