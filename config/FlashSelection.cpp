#include "config/FlashSelection.h"

#include <cstdio>
#include <cstdlib>

namespace qk {

std::uint64_t UsableLbaCount(const GlobalParameter& gp, std::int32_t resPercentage) {
  const FlashGeometry& g = gp.geometry;
  std::int64_t h = g.TotalBlock / 2;
  std::int64_t r = h * resPercentage / 1000;
  std::int64_t p = g.BlockPage == 256 ? 255 : g.BlockPage;
  std::int64_t t = (h - r) * (2 * gp.Channel) * gp.Bank * p * g.PageSectors;
  t -= static_cast<std::int64_t>(gp.Channel) * g.PageSectors * 10;
  // Unsigned division cut to 16 bits, as the firmware computes it.
  auto gb = static_cast<std::uint16_t>((static_cast<std::uint64_t>(t) - kIdemaOffset) / kIdemaStep);
  return gb * kIdemaStep + kIdemaOffset;
}

std::string CapacityText1000(std::uint64_t lbas) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%4.2f", static_cast<double>(lbas) * 512.0 / 1e9);
  return buf;
}

std::string CapacityText1024(std::uint64_t lbas) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%4.2f", static_cast<double>(lbas) * 512.0 / 1073741824.0);
  return buf;
}

IdemaRatioResult IdemaToReservedRatio(const std::string& entry, const GlobalParameter& gp) {
  IdemaRatioResult out;
  if (entry.empty()) {
    out.message = "Please input a IDEMA capacity";
    return out;
  }
  // The entry takes digits only; a value past 32 bits is as wrong as one past the maximum.
  std::uint64_t n = 0;
  for (char c : entry) {
    if (c < '0' || c > '9') continue;
    n = n * 10 + static_cast<unsigned>(c - '0');
    if (n > 0xFFFFFFFFULL) n = 0xFFFFFFFFULL;
  }
  if (n == 0) {
    out.message = "Please input a correct IDEMA capacity(not equal to 0)";
    return out;
  }
  const FlashGeometry& g = gp.geometry;
  std::uint64_t m = static_cast<std::uint64_t>(gp.Channel) * gp.Bank * (g.TotalBlock / 1024U) * g.BlockPage *
                    (g.PageSectors * 512U / 1024U) / 1024U;
  m &= 0xFFFF;
  if (n > m) {
    out.message = "Please input a correct IDEMA capacity(less than or equal to " + std::to_string(m) + ")";
    return out;
  }
  std::uint64_t l = n * kIdemaStep + kIdemaOffset;
  std::uint64_t p = g.BlockPage == 256 ? 255 : g.BlockPage;
  std::uint64_t s = static_cast<std::uint64_t>(gp.Channel) * gp.Bank * p * g.PageSectors * g.TotalBlock;
  if (s == 0) {
    out.message = "Please input a correct IDEMA capacity(less than or equal to 0)";
    return out;
  }
  out.ratio = static_cast<float>(100.0 - (100.0 * static_cast<double>(l)) / static_cast<double>(s));
  out.resPercentage = static_cast<std::int32_t>(out.ratio * 10.0f);
  return out;
}

}  // namespace qk
