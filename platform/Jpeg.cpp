#include "platform/Jpeg.h"

#include <turbojpeg.h>

#include <fstream>
#include <iterator>
#include <memory>

namespace qk {
namespace {

struct HandleCloser {
  void operator()(void* h) const { tjDestroy(static_cast<tjhandle>(h)); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

}  // namespace

std::optional<std::vector<std::uint8_t>> EncodeJpeg(const RgbImage& image, int quality) {
  if (image.width <= 0 || image.height <= 0 ||
      image.rgb.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 3)
    return std::nullopt;
  Handle h(tjInitCompress());
  if (!h) return std::nullopt;
  unsigned char* out = nullptr;
  unsigned long size = 0;
  int rc = tjCompress2(static_cast<tjhandle>(h.get()), image.rgb.data(), image.width, 0, image.height, TJPF_RGB,
                       &out, &size, TJSAMP_420, quality, TJFLAG_ACCURATEDCT);
  std::optional<std::vector<std::uint8_t>> result;
  if (rc == 0 && out) result.emplace(out, out + size);
  tjFree(out);
  return result;
}

std::optional<RgbImage> DecodeJpeg(const std::vector<std::uint8_t>& jpeg) {
  if (jpeg.empty()) return std::nullopt;
  Handle h(tjInitDecompress());
  if (!h) return std::nullopt;
  int w = 0, hgt = 0, sub = 0, cs = 0;
  auto* src = const_cast<unsigned char*>(jpeg.data());
  if (tjDecompressHeader3(static_cast<tjhandle>(h.get()), src, jpeg.size(), &w, &hgt, &sub, &cs) != 0) return std::nullopt;
  // Guard against absurd headers before allocating.
  if (w <= 0 || hgt <= 0 || static_cast<long long>(w) * hgt > 100'000'000LL) return std::nullopt;
  RgbImage img;
  img.width = w;
  img.height = hgt;
  img.rgb.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(hgt) * 3);
  if (tjDecompress2(static_cast<tjhandle>(h.get()), src, jpeg.size(), img.rgb.data(), w, 0, hgt, TJPF_RGB, 0) != 0)
    return std::nullopt;
  return img;
}

std::optional<RgbImage> LoadJpegFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return DecodeJpeg(bytes);
}

}  // namespace qk
