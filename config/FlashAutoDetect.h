#pragma once
// Flash auto-detect: which catalogue entries fit the flash IDs a drive
// reports, what the profile takes from a match, and the operator's choice
// when several entries fit.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/FlashList.h"
#include "config/ProfileSettings.h"
#include "platform/Operator.h"

namespace qk {

inline constexpr const char* kNoDeviceForDetecting = "No connected device for detecting!!";
inline constexpr const char* kFlashNotFound = "Not found, check your flash list!!";
inline constexpr const char* kChooseOneFlashType = "Please choose one flash type";
inline constexpr const char* kFlashDetectCaption = "Flash Auto Detect Result";

// What the drive's detection record says.
struct FlashIdReading {
  std::array<std::uint8_t, 5> id{};  // maker, device, 3rd, 4th, 5th ID byte
  std::uint8_t ceCount = 0;          // chip enables per package
  std::uint8_t channels = 0;
  std::uint8_t banks = 0;            // chip-enable slots per channel
};

// Detection record: bytes 0..4 the ID bytes, 5 chip enables per package,
// 7 channel count, 8 chip-enable slots per channel.
FlashIdReading ParseDetectionRecord(const std::uint8_t* record);

struct FlashMatch {
  int type = 0;    // catalogue index
  int vendor = 0;  // vendor index
  int indexInVendor = 0;
};

// Entries whose five ID bytes and chip-enable count equal the reading, in catalogue order.
std::vector<FlashMatch> MatchFlashTypes(const FlashCatalogue& catalogue, const FlashIdReading& reading);

// 1 for one bank, 2 for two banks or four banks of two-CE packages, else 3.
std::int32_t DetectedDriveCurrent(std::uint8_t banks, std::uint8_t ceCount);

// Takes a match into the profile: type, channels, banks, drive current.
void ApplyFlashMatch(ProfileSettings& settings, const FlashCatalogue& catalogue, const FlashMatch& match,
                     const FlashIdReading& reading);

// Writes only FlashUniName, Channel, Bank and DrvCurrent into the profile file.
bool WriteDetectedFlashKeys(const std::string& iniPath, const ProfileSettings& settings);

// The second "Not found" message, with the values read.
std::string NotFoundDetails(const FlashIdReading& reading);

// The result dialog's fields for the current selection.
struct FlashDetectView {
  std::string vendor;
  std::string type;         // "WBG  /  K9GBG08U0A (x2)"
  std::string channelBank;  // "4 / 2"
  std::string driveCurrent; // "6mA"
  std::vector<std::string> matches;  // as the type box lists them
};
FlashDetectView MakeFlashDetectView(const FlashCatalogue& catalogue, const ProfileSettings& settings,
                                    const std::vector<FlashMatch>& matches);

// Shows the result; with several matches the operator picks one by its number
// (1-based). An answer that picks none is refused with "Please choose one
// flash type" and asked again; a cancel gives nullopt.
std::optional<std::size_t> ChooseFlashMatch(Operator& op, const FlashDetectView& view);

// The result dialog's "Close": with several matches and no row selected
// (selected < 0) it refuses with kChooseOneFlashType and stays open.
struct FlashDialogClose {
  bool refused = false;
  std::optional<std::size_t> chosen;  // the selected match, when one is
};
FlashDialogClose CloseFlashDialog(std::size_t matchCount, int selected);

}  // namespace qk
