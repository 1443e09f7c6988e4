#pragma once
// What the flash setting page shows for the selected flash type and array
// shape: the status-bar text, the details box, the usable capacity. Running it
// rebuilds the parameter block, as every change of type, channel or bank does.
#include <cstdint>
#include <string>
#include <vector>

#include "config/GlobalParameter.h"

namespace qk {

struct FlashInfo {
  std::string statusText;            // "Flash: WBG(0x0281), Channel: 4, Bank: 2"
  std::vector<std::string> details;  // the three lines of the details box
  std::uint64_t usableLbas = 0;
  std::string capacity1000;          // "(1K=1000)" gigabytes, "%4.2f"
  std::string capacity1024;          // "(1K=1024)"
};

FlashInfo FlashInfoChange(ProfileSettings& settings, const FlashCatalogue& catalogue, const FirmwareTexts& firmware,
                          GlobalParameter& gp);

// "Restore default value": the reserved ratio goes back to 68 per mille.
void RestoreReservedRatio(ProfileSettings& settings);

// A type as the type box lists it: "WBG  /  K9GBG08U0A (2CE)".
std::string FlashTypeListText(const FlashTypeRecord& type);

}  // namespace qk
