#include "config/PageLists.h"

#include <algorithm>
#include <cctype>

namespace qk {

int LedFieldIndex(std::int32_t mode, int field) {
  const int v = (mode >> (2 * field)) & 3;
  // 3 is no choice of the list: the box shows its first entry.
  return v < static_cast<int>(kLedChoices.size()) ? v : 0;
}

std::int32_t PackLedLightMode(int idle, int read, int write) {
  auto field = [](int v) { return v >= 0 && v < 3 ? v : 0; };
  return field(idle) | (field(read) << 2) | (field(write) << 4);
}

std::vector<std::string> ChannelChoices() { return {"1", "2", "3", "4"}; }
std::vector<std::string> BankChoices() { return {"1", "2", "3", "4", "5", "6", "7", "8"}; }
std::vector<std::string> DriveCurrentChoices() {
  std::vector<std::string> out;
  for (int c = 0; c < 8; ++c) out.push_back(" " + std::to_string((c + 1) * 2) + " mA");
  return out;
}

int ChannelIndex(std::int32_t channel) { return channel >= 1 && channel <= 4 ? channel - 1 : 0; }
int BankIndex(std::int32_t bank) { return bank >= 1 && bank <= 8 ? bank - 1 : 0; }
int DriveCurrentIndex(std::int32_t code) { return code >= 0 && code <= 7 ? code : 0; }
int ListIndex(std::int32_t value, int count) { return value >= 0 && value < count ? value : 0; }

std::string OptionPageFor(const std::string& name) {
  if (name == "Flash Module Test") return "OP_FlashModule";
  if (name == "Preformat") return "OP_PFormat";
  if (name == "Download") return "OP_Download";
  if (name == "Disk Format") return "OP_Format";
  if (name == "Copy Image") return "OP_CopyImage";
  if (name == "Check Temperature") return "OP_CheckTemperature";
  return {};
}

bool IsFlashListChoice(const std::string& chosen, const std::string& folderPath, const std::string& extFlashFile) {
  std::string folder = folderPath;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  const std::string flash = folder + extFlashFile;
  return std::equal(chosen.begin(), chosen.end(), flash.begin(), flash.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  });
}

}  // namespace qk
