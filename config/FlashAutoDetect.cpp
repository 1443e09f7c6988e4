#include "config/FlashAutoDetect.h"

#include <cstdio>
#include <cstring>

#include "config/FlashInfo.h"
#include "config/IniFile.h"

namespace qk {

FlashIdReading ParseDetectionRecord(const std::uint8_t* record) {
  FlashIdReading r;
  std::memcpy(r.id.data(), record, 5);
  r.ceCount = record[5];
  r.channels = record[7];
  r.banks = record[8];
  return r;
}

std::vector<FlashMatch> MatchFlashTypes(const FlashCatalogue& catalogue, const FlashIdReading& reading) {
  std::vector<FlashMatch> out;
  for (std::size_t i = 0; i < catalogue.types.size(); ++i) {
    const FlashTypeRecord& t = catalogue.types[i];
    if (std::memcmp(t.idBytes, reading.id.data(), 5) != 0 || t.ceCount != reading.ceCount) continue;
    FlashMatch m;
    m.type = static_cast<int>(i);
    m.vendor = catalogue.vendorOf(m.type);
    m.indexInVendor = m.type - catalogue.firstType(m.vendor);
    out.push_back(m);
  }
  return out;
}

std::int32_t DetectedDriveCurrent(std::uint8_t banks, std::uint8_t ceCount) {
  if (banks == 1) return 1;
  if (banks == 2 || (banks == 4 && ceCount == 2)) return 2;
  return 3;
}

void ApplyFlashMatch(ProfileSettings& s, const FlashCatalogue& catalogue, const FlashMatch& match,
                     const FlashIdReading& reading) {
  s.FlashUniName = catalogue.types.at(static_cast<std::size_t>(match.type)).uniqueName;
  s.Channel = reading.channels;
  s.Bank = reading.banks;
  s.DrvCurrent = DetectedDriveCurrent(reading.banks, reading.ceCount);
}

bool WriteDetectedFlashKeys(const std::string& iniPath, const ProfileSettings& s) {
  IniFile ini = IniFile::load(iniPath);
  ini.setString("FlashSetting", "FlashUniName", s.FlashUniName);
  ini.setInt("FlashSetting", "Channel", s.Channel);
  ini.setInt("FlashSetting", "Bank", s.Bank);
  ini.setInt("FlashSetting", "DrvCurrent", s.DrvCurrent);
  return ini.save(iniPath);
}

std::string NotFoundDetails(const FlashIdReading& r) {
  char text[512];
  std::snprintf(text, sizeof text,
                "Flash's CE:%d\nFlash's Maker Code:%X\nFlash's Device Code:%X\nFlash's 3rd Code:%X\n"
                "Flash's 4th Code:%X\nFlash's 5th Code:%X\nSSD's total channel:%d\nSSD's total bank:%d\n",
                r.ceCount, r.id[0], r.id[1], r.id[2], r.id[3], r.id[4], r.channels, r.banks);
  return text;
}

FlashDetectView MakeFlashDetectView(const FlashCatalogue& catalogue, const ProfileSettings& s,
                                    const std::vector<FlashMatch>& matches) {
  FlashDetectView v;
  int index = catalogue.findUnique(s.FlashUniName);
  if (index >= 0) {
    const FlashTypeRecord& t = catalogue.types[static_cast<std::size_t>(index)];
    int vendor = catalogue.vendorOf(index);
    if (vendor >= 0 && static_cast<std::size_t>(vendor) < catalogue.vendors.size())
      v.vendor = catalogue.vendors[static_cast<std::size_t>(vendor)];
    v.type = t.uniqueName + "  /  " + t.partNumber + " (x" + std::to_string(t.ceCount) + ")";
  }
  v.channelBank = std::to_string(s.Channel) + " / " + std::to_string(s.Bank);
  v.driveCurrent = std::to_string((s.DrvCurrent + 1) * 2) + "mA";
  for (const FlashMatch& m : matches) v.matches.push_back(FlashTypeListText(catalogue.types[static_cast<std::size_t>(m.type)]));
  return v;
}

std::optional<std::size_t> ChooseFlashMatch(Operator& op, const FlashDetectView& view) {
  std::string text = "Vendor: " + view.vendor + "\nType: " + view.type + "\nChannel / Bank: " + view.channelBank +
                     "\nDrive current: " + view.driveCurrent + "\n";
  for (std::size_t i = 0; i < view.matches.size(); ++i) text += std::to_string(i + 1) + ": " + view.matches[i] + "\n";
  if (view.matches.size() == 1) {
    op.showMessage(text, kFlashDetectCaption, MessageIcon::Information);
    return 0;
  }
  for (;;) {
    auto answer = op.askText(kFlashDetectCaption, text, "", false);
    if (!answer) return std::nullopt;
    char* end = nullptr;
    unsigned long n = std::strtoul(answer->c_str(), &end, 10);
    if (end != answer->c_str() && *end == '\0' && n >= 1 && n <= view.matches.size()) return n - 1;
    op.showMessage(kChooseOneFlashType, kFlashDetectCaption, MessageIcon::Warning);
  }
}

FlashDialogClose CloseFlashDialog(std::size_t matchCount, int selected) {
  FlashDialogClose out;
  if (selected >= 0 && static_cast<std::size_t>(selected) < matchCount) {
    out.chosen = static_cast<std::size_t>(selected);
  } else if (matchCount > 1) {
    out.refused = true;
  }
  return out;
}

}  // namespace qk
