#include "config/FlashInfo.h"

#include <cstdio>

#include "config/FlashSelection.h"

namespace qk {

FlashInfo FlashInfoChange(ProfileSettings& s, const FlashCatalogue& catalogue, const FirmwareTexts& firmware,
                          GlobalParameter& gp) {
  FlashInfo info;
  int index = catalogue.findUnique(s.FlashUniName);
  if (index < 0) index = 0;
  std::string name;
  if (static_cast<std::size_t>(index) < catalogue.types.size()) name = catalogue.types[static_cast<std::size_t>(index)].uniqueName;
  info.details = GetGlobalParameter(s, catalogue, firmware, gp);
  char id[16];
  std::snprintf(id, sizeof id, "0x%04X", gp.FlashIdWord);
  info.statusText = "Flash: " + name + "(" + id + ")" + ", Channel: " + std::to_string(s.Channel) +
                    ", Bank: " + std::to_string(s.Bank);
  info.usableLbas = UsableLbaCount(gp, s.ResPercentage);
  info.capacity1000 = CapacityText1000(info.usableLbas);
  info.capacity1024 = CapacityText1024(info.usableLbas);
  return info;
}

void RestoreReservedRatio(ProfileSettings& s) { s.ResPercentage = kDefaultResPercentage; }

std::string FlashTypeListText(const FlashTypeRecord& t) {
  return t.uniqueName + "  /  " + t.partNumber + " (" + std::to_string(t.ceCount) + "CE)";
}

}  // namespace qk
