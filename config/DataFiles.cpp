#include "config/DataFiles.h"

#include "platform/BoundedRead.h"

#include <fstream>
#include <sstream>

namespace qk {

std::string ExtractText(const std::string& data, size_t offset, size_t length) {
  if (offset >= data.size()) return {};
  std::string text = data.substr(offset, length);
  if (auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  return text;
}

bool ReadWholeFile(const std::string& path, std::string& data) {
  // Images are small; a device or FIFO named in their place is not read.
  return ReadBoundedFile(path, data, nullptr, 64u << 20) == ReadOutcome::Ok;
}

bool FirmwareImageIntact(const std::string& data) {
  size_t n = data.size();
  if (n < 2) return false;
  if (static_cast<unsigned char>(data[n - 2]) != 0xA5) return false;
  unsigned sum = 0;
  for (size_t i = 0; i < n; ++i) {
    if (i != n - 2) sum += static_cast<unsigned char>(data[i]);
  }
  return (sum & 0xFF) == 0;
}

std::string UsbImageName(const std::string& sataName) {
  std::string name = sataName;
  if (name.size() >= 5) name[4] = 'U';
  return name;
}

namespace {

void checkProgramImage(const ProgramFolder& folder, const char* name, Operator& op, DataFileState& state,
                       std::string& path, std::string& version, bool& ok) {
  path = folder.path() + name;
  std::string data;
  if (fileExists(path) && ReadWholeFile(path, data)) {
    version = ExtractText(data, kProgramVersionOffset, kVersionTextLength);
    if (version.empty()) {
      op.showMessage(std::string("The ") + name + " is a corrupt file, please check it.");
      ok = false;
    }
    return;
  }
  version.clear();
  op.showMessage("<WARNING> Can't find file : " + path);
  state.ProgramImagesPresent = false;
  ok = false;
}

void checkFirmware(const ProgramFolder& folder, const std::string& name, bool specialMode, Operator& op,
                   FirmwareImageCheck& check, std::string& version, std::string& family) {
  check.name = name;
  check.path = folder.path() + name;
  check.selected = true;
  std::string data;
  check.present = fileExists(check.path) && ReadWholeFile(check.path, data);
  if (!check.present) return;
  version = ExtractText(data, kFirmwareVersionOffset, kVersionTextLength);
  check.version = version;
  if (!specialMode && !FirmwareImageIntact(data)) {
    check.corrupt = true;
    op.showMessage("The " + check.path + " is a corrupt file, please check it.");
  }
  family = ExtractText(data, kFirmwareFamilyOffset, kFamilyTextLength);
}

void listInStatus(const FirmwareImageCheck& check, std::string& status) {
  std::string entry;
  if (!check.present) entry = check.name;
  else if (!check.version.empty()) entry = check.name + " (" + check.version + ")";
  if (entry.empty()) return;
  if (!status.empty()) status += " / ";
  status += entry;
}

}  // namespace

bool CheckProgramImages(const ProgramFolder& folder, Operator& op, DataFileState& state) {
  bool ok = true;
  checkProgramImage(folder, kGdpImageName, op, state, state.gdpPath, state.gdpVersion, ok);
  checkProgramImage(folder, kTestImageName, op, state, state.satatestPath, state.satatestVersion, ok);
  return ok;
}

FirmwareSelection SelectFirmware(const ProgramFolder& folder, const FirmwareChoice& choice, Operator& op,
                                 DataFileState& state) {
  FirmwareSelection out;
  const std::string sataName = kSataImageName;
  // The parameter block is rebuilt here (GetGlobalParameter) once it exists.
  state.sataVersion.clear();
  state.usbVersion.clear();
  out.sata.name = sataName;
  out.sata.path = folder.path() + sataName;
  out.usb.name = UsbImageName(sataName);
  out.usb.path = folder.path() + out.usb.name;

  if (choice.sataChecked) {
    checkFirmware(folder, sataName, choice.specialMode, op, out.sata, state.sataVersion, state.familyText);
    listInStatus(out.sata, out.statusText);
  }
  if (choice.usbChecked) {
    checkFirmware(folder, out.usb.name, choice.specialMode, op, out.usb, state.usbVersion, state.familyText);
    listInStatus(out.usb, out.statusText);
  }

  if (choice.usbChecked) {
    out.snMinimum = 12;
    out.serialLabel = "Serial Number (12-20) ";
  } else {
    out.snMinimum = 1;
    out.serialLabel = "Serial Number (20) ";
  }
  out.snMinLength = choice.snMinLength < out.snMinimum ? out.snMinimum : choice.snMinLength;

  out.caption = ShowCaptionString(choice.busWord);
  out.sataGroupVisible = choice.sataChecked;
  out.usbGroupVisible = choice.usbChecked;
  out.commonGroupVisible = !out.statusText.empty();
  return out;
}

std::string ShowCaptionString(const std::string& busWord) {
  return "Talvery 205 " + busWord + " M.P. Tool A.1.0.8 S/U ";
}

FirmwareChoice FirmwareChoiceFor(const ProfileSettings& settings, const std::string& busWord) {
  FirmwareChoice choice;
  choice.sataChecked = (settings.DownloadType & 1) != 0;
  choice.usbChecked = (settings.DownloadType & 2) != 0;
  choice.specialMode = settings.SpecialMode != 0;
  choice.snMinLength = settings.SNMinLength;
  choice.busWord = busWord;
  return choice;
}

}  // namespace qk
