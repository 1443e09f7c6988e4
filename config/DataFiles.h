#pragma once
// The station's binary data files in the program folder: the two RAM program
// images, the SATA and USB firmware images, their version texts and the
// integrity rule of the firmware images. Headless: what the window shows comes
// back as plain values, messages go through the Operator.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/ProfileSettings.h"
#include "platform/Operator.h"
#include "platform/ProgramFolder.h"

namespace qk {

inline constexpr const char* kSataImageName = "SYS_S.bin";
inline constexpr const char* kGdpImageName = "GDP.bin";
inline constexpr const char* kTestImageName = "satatest.bin";

inline constexpr size_t kVersionTextLength = 6;
inline constexpr size_t kFirmwareVersionOffset = 774;
inline constexpr size_t kFirmwareFamilyOffset = 809;
inline constexpr size_t kFamilyTextLength = 2;
inline constexpr size_t kProgramVersionOffset = 772;

// What the station remembers about its data files between checks.
struct DataFileState {
  std::string gdpPath, satatestPath;        // full paths of the RAM program images
  std::string gdpVersion, satatestVersion;  // their version texts
  std::string sataVersion, usbVersion;      // firmware version texts
  std::string familyText;                   // from whichever firmware image was read last
  bool ProgramImagesPresent = true;         // cleared for good when a program image is missing
};

// `length` bytes at `offset`, ending at the first zero byte; bytes past the end
// of the data are simply not there (a short file gives a short or empty text).
std::string ExtractText(const std::string& data, size_t offset, size_t length);
// The whole file; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& data);

// Byte n-2 is 0xA5 and all other bytes add up to 0 modulo 256. Files of fewer
// than two bytes fail.
bool FirmwareImageIntact(const std::string& data);

// The USB image's name: the SATA name with its fifth character made "U".
std::string UsbImageName(const std::string& sataName);

// Checks GDP.bin, then satatest.bin: remembers their paths and version texts,
// reports corrupt and missing files. True when both are present with a version text.
bool CheckProgramImages(const ProgramFolder& folder, Operator& op, DataFileState& state);

// The page settings the firmware choice depends on.
struct FirmwareChoice {
  bool sataChecked = true;
  bool usbChecked = false;
  bool specialMode = false;   // skips the integrity rule
  int snMinLength = 12;       // current value of the serial length spin box
  std::string busWord = "SATA";
};

// The choice as the profile's settings make it.
FirmwareChoice FirmwareChoiceFor(const ProfileSettings& settings, const std::string& busWord = "SATA");

struct FirmwareImageCheck {
  std::string name;      // bare file name
  std::string path;      // full path
  bool selected = false;
  bool present = false;
  bool corrupt = false;  // integrity rule checked and failed
  std::string version;
};

struct FirmwareSelection {
  FirmwareImageCheck sata, usb;
  std::string statusText;  // status bar panel 1
  int snMinimum = 1;       // lower bound of the serial length spin box
  int snMinLength = 1;     // its value, raised to the bound when below it
  std::string serialLabel;
  bool sataGroupVisible = false, usbGroupVisible = false, commonGroupVisible = false;
  std::string caption;
};

// Evaluates the firmware image choice: version and family texts into `state`,
// corrupt images reported to the operator, and what the pages should show.
FirmwareSelection SelectFirmware(const ProgramFolder& folder, const FirmwareChoice& choice, Operator& op,
                                 DataFileState& state);

// The window caption for the bus the last identified device sits on.
std::string ShowCaptionString(const std::string& busWord);

}  // namespace qk
