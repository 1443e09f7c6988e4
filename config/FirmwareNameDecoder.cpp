#include "config/FirmwareNameDecoder.h"

namespace qk {

namespace {

struct GeometryCode {
  char code;
  int blockUnit, blockPage, pageSizeK, die, dieOffset;
};

struct ShapeCode {
  char code;
  int channel, bank;
};

constexpr GeometryCode kGeometry[] = {
    {'A', 1024, 128, 4, 1, 0}, {'B', 1024, 128, 8, 1, 0}, {'C', 1024, 256, 4, 1, 0}, {'D', 1024, 256, 8, 1, 0},
    {'E', 2048, 128, 4, 1, 0}, {'F', 2048, 128, 8, 1, 0}, {'G', 2048, 256, 4, 1, 0}, {'H', 2048, 256, 8, 1, 0},
    {'I', 4096, 128, 4, 1, 0}, {'J', 4096, 128, 8, 1, 0}, {'K', 4096, 256, 4, 1, 0}, {'L', 4096, 256, 8, 1, 0},
    {'M', 2048, 128, 4, 2, 0}, {'N', 2048, 128, 8, 2, 0}, {'O', 2048, 128, 4, 2, 1}, {'P', 2048, 128, 8, 2, 1},
    {'Q', 2048, 64, 4, 2, 0},  {'R', 2048, 256, 4, 2, 0}, {'S', 2048, 256, 8, 2, 0}, {'T', 1024, 128, 8, 2, 0},
    {'U', 1024, 128, 8, 2, 1}, {'V', 1024, 256, 8, 2, 0}, {'W', 4096, 128, 4, 2, 0}, {'X', 2048, 64, 4, 1, 0},
    {'Y', 2048, 64, 8, 1, 0},
};

constexpr ShapeCode kShape[] = {
    {'A', 8, 1}, {'B', 8, 2}, {'C', 8, 4}, {'D', 8, 8}, {'E', 4, 1}, {'F', 4, 2}, {'G', 4, 4}, {'H', 4, 8},
    {'I', 2, 1}, {'J', 2, 2}, {'K', 2, 4}, {'L', 2, 8}, {'M', 1, 1}, {'N', 1, 2}, {'O', 1, 4}, {'P', 1, 8},
};

}  // namespace

std::string DecodeFirmwareName(const std::string& name) {
  std::string text;
  if (name.size() >= 7) {
    for (const auto& g : kGeometry) {
      if (g.code != name[6]) continue;
      text += "Block Unit:" + std::to_string(g.blockUnit) + "\n";
      text += "Block Page:" + std::to_string(g.blockPage) + "\n";
      text += "Page Size: " + std::to_string(g.pageSizeK) + "K\n";
      text += "Die: " + std::to_string(g.die) + "\n";
      text += "Dieoffset?: " + std::to_string(g.dieOffset) + "\n";
    }
  }
  if (name.size() >= 8) {
    for (const auto& s : kShape) {
      if (s.code != name[7]) continue;
      text += "Channel:   " + std::to_string(s.channel) + "\n";
      text += "Bank:      " + std::to_string(s.bank) + "\n";
    }
  }
  return text;
}

}  // namespace qk
