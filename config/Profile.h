#pragma once
// Loading and saving the production profile, and the yield counters.
#include <memory>
#include <string>

#include "config/FlashList.h"
#include "config/ProfileSettings.h"
#include "config/SerialFloor.h"
#include "platform/Operator.h"
#include "platform/ProgramFolder.h"

namespace qk {

// Values a load copies into the firmware parameter block as soon as they are read.
struct LoadTimeMirrors {
  std::int32_t usbLedP14 = 0;
  std::int32_t usbRemovable = 0;
  std::int32_t dirtyDepth = 0;         // unclamped until the parameter block is rebuilt
  std::uint8_t ledInterleave = 0;      // LEDControl x 16 + InterleaveWay, low byte
  std::int32_t ideUdma5 = 0;
  std::int32_t dumpDebugFile = 0;
  std::int32_t enSaveDefectTable = 0;
  std::int32_t checkFlashMask = 0;
};

// What the main window keeps beside the settings record.
struct Profile {
  ProfileSettings settings;
  std::string iniFilePath;  // the profile file in use
  std::string logPath;      // the log folder; file names are appended directly
  std::string stationName;  // "StationName" of [Setting]; empty: the host name
  std::string recordsUrl;   // "Url" of [Records]; empty: records.db in the log folder
  bool settingsUnlocked = true;
  FlashCatalogue catalogue;
  LoadTimeMirrors mirrors;
  // Serials handed out by this station: every save keeps the stored serial
  // ahead of them, whatever the pages hold. Survives "Load INI".
  std::shared_ptr<SerialFloor> serialFloor = std::make_shared<SerialFloor>();
};

enum class LoadResult {
  Ok,
  Failed,           // flash list missing from the profile or unreadable (message shown)
  LogFolderFailed,  // "Cannot create log directory."
};

constexpr const char* kCannotCreateLogDirectory = "Cannot create log directory.";
constexpr const char* kDefaultProfileName = "QKMassProd.ini";
constexpr const char* kYieldFileName = "QKSSD.log";

// Reads `path` into profile.settings (defaults for what is missing), parses the
// flash list it names, makes sure the log folder exists and reads the yield
// counters. Sets profile.iniFilePath to `path`.
LoadResult LoadProfile(const std::string& path, Profile& profile, const ProgramFolder& folder, Operator& op);

// The log folder a profile file names ("LogPath"), as a load resolves it.
std::string ProfileLogFolder(const std::string& iniPath, const ProgramFolder& folder);

// Writes the keys the station owns into the INI file at `path` (relative names
// against the program folder), leaving every other line as it was. False when
// the file could not be written; `error` then names the file and the reason.
// With a floor, the serial stored is never one already handed out.
bool SaveProfile(const std::string& path, ProfileSettings settings, const ProgramFolder& folder,
                 const SerialFloor* floor = nullptr, std::string* error = nullptr);
// The station's own save of its profile: with its serial floor.
bool SaveProfile(const std::string& path, const Profile& profile, const ProgramFolder& folder,
                 std::string* error = nullptr);

// Yield counters in section TestRecord of QKSSD.log in the log folder.
// A counter that is not a whole number from 0 up (or passes above the total)
// is not taken: it reads as 0 and the reason comes back for the operator.
std::string ReadYieldCounters(const std::string& logPath, ProfileSettings& settings);
bool WriteYieldCounters(const std::string& logPath, const ProfileSettings& settings, std::string* error = nullptr);
// "%d / %d": passes first, then the total.
std::string YieldText(const ProfileSettings& settings);

}  // namespace qk

namespace qk {
// At close: the profile in use, and QKMassProd.ini in the program folder as
// well when another profile is in use, then the yield counters.
bool SaveAtExit(const Profile& profile, const ProgramFolder& folder);
}  // namespace qk
