#pragma once
// The typing rules of the settings pages' edits: which keys each edit takes,
// how long its text may grow, and the FAT32 volume label limit.
#include <cstddef>
#include <optional>
#include <string>

namespace qk {

enum class KeyFilter {
  Hex,       // VID/PID (and the serial in hexadecimal): 0-9, A-F; a-f become upper case
  Digits,    // temperature, IDEMA entry (and the serial in decimal)
  NoBackslash,  // model number, vendor and product names
};

// The character that reaches the edit, or nullopt when the key is swallowed.
// Control characters (Enter, Backspace, ...) always pass.
std::optional<char> FilterKey(KeyFilter filter, char key);
// The serial edit follows the profile's SNDecimal as last copied.
KeyFilter SerialKeyFilter(int snDecimal);

constexpr std::size_t kUsbIdLength = 4;  // VID and PID
// Maximum lengths of the identity edits by their tag: 0 model number (40),
// 1 firmware version (8), 2 serial number (20), 3 manufacturer / vendor name
// (16), 4 product string (24). An unknown tag has no limit.
std::size_t StringEditLimit(int tag);
// The text cut to `limit` characters; true when it was cut.
bool CutText(std::string& text, std::size_t limit);

constexpr std::size_t kFat32LabelLength = 11;
inline constexpr const char* kFat32LabelMessage = "FAT32 only support Volume label 11 characters!";
inline constexpr const char* kFat32LabelCaption = "Message";
// With the FAT32 format chosen (index 0), a label longer than 11 characters is
// cut to its first 11; true when it was cut and the message is due.
bool CutFat32Label(std::string& label, int formatIndex);

}  // namespace qk
