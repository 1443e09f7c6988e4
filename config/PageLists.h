#pragma once
// The choice lists of the settings pages and how their positions map onto
// profile values, plus the small decisions the pages take on the way
// (sub-page per list entry, the run mode, the flash-list refusal of "Load INI").
#include <cstdint>
#include <string>
#include <vector>

namespace qk {

// LEDLightMode: bits 0-1 idle, 2-3 read, 4-5 write; each an index into kLedChoices.
inline const std::vector<std::string> kLedChoices = {"Turn off", "Turn on", "Blink"};
int LedFieldIndex(std::int32_t mode, int field);  // field 0 idle, 1 read, 2 write
std::int32_t PackLedLightMode(int idle, int read, int write);

// The ranges of the IDEMA capacity and R/W percentage spin boxes.
constexpr std::int32_t kIdemaCapacityMin = 1, kIdemaCapacityMax = 512;
constexpr std::int32_t kRwPercentageMin = 1, kRwPercentageMax = 100;

inline const std::vector<std::string> kConnectChoices = {"Don't Care", "1", "2", "3", "4", "5", "6"};
inline const std::vector<std::string> kFormatChoices = {"FAT32"};
inline const std::vector<std::string> kCapacityChoices = {"Don't Care", "2 G",   "4 G",   "8 G",   "16 G",  "32 G",
                                                          "64 G",       "128 G", "256 G", "512 G", "1024 G"};

// Channel 1..4, bank 1..8, drive current codes 0..7 (" 2 mA" .. " 16 mA").
std::vector<std::string> ChannelChoices();
std::vector<std::string> BankChoices();
std::vector<std::string> DriveCurrentChoices();
// List position of a stored value; a value not in its list selects the first entry.
int ChannelIndex(std::int32_t channel);
int BankIndex(std::int32_t bank);
int DriveCurrentIndex(std::int32_t code);
int ListIndex(std::int32_t value, int count);  // plain index lists (capacity, connect, ...)
// The value at a list position.
inline std::int32_t ChannelAt(int index) { return index + 1; }
inline std::int32_t BankAt(int index) { return index + 1; }
inline std::int32_t DriveCurrentAt(int index) { return index; }

// Option sub-pages of "Test Items", in tab order.
inline const std::vector<std::string> kOptionPages = {
    "OP_Download",          "OP_Format",           "OP_CopyImage",         "OP_PFormat",         "OP_FlashModule",
    "OP_CheckIDEMACapacity", "OP_RWTestPercentage", "OP_CheckTemperature", "OP_CheckLBACapacity"};
// The sub-page a list entry shows, or empty when it has none.
std::string OptionPageFor(const std::string& entryName);

// "Load INI" refuses the flash list file itself (compared without case).
inline constexpr const char* kFlashFileChosenMessage =
    "The file is a setting file for flash, please choose a correct setting file for MP tool";
bool IsFlashListChoice(const std::string& chosen, const std::string& folderPath, const std::string& extFlashFile);
inline constexpr const char* kIniFilter = "EEPROM INI file(*.ini)|*.ini";
inline constexpr const char* kIniExt = ".ini";

// The four table file buttons of the "RD" page.
struct TableFileButton {
  const char* button;  // object name
  const char* edit;    // the edit it fills
  const char* filter;
  bool save;
};
inline constexpr TableFileButton kTableFileButtons[] = {
    {"GetDefTabBtn", "TableInEdit", "Def. Table (*.txt)|*.txt", true},
    {"PutDefTabBtn", "TableOutEdit", "Def. Table (*.txt)|*.txt", false},
    {"GetLaterTabBtn", "LaterTableInEdit", "Later Table (*.txt)|*.txt", true},
    {"PutLaterTabBtn", "LaterTableOutEdit", "Later Table (*.txt)|*.txt", true},
};
inline constexpr const char* kTableFileExt = ".txt";

}  // namespace qk
