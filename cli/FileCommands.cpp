// files, keyfile, decode-name: the data files of the program folder.
#include <iostream>
#include <optional>

#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "config/DataFiles.h"
#include "config/FirmwareNameDecoder.h"
#include "config/IniFile.h"
#include "config/KeyFile.h"
#include "config/Profile.h"

namespace qk::cli {

namespace {

const char* firmwareState(const FirmwareImageCheck& c) {
  if (!c.selected) return "not selected";
  if (!c.present) return "missing";
  if (c.corrupt) return "corrupt";
  return "ok";
}

void printImage(const std::string& name, const std::string& version, const std::string& state,
                const std::string& path) {
  std::cout << name << std::string(name.size() < 14 ? 14 - name.size() : 1, ' ')
            << (version.empty() ? std::string("-") : version) << "  " << state << "  " << path << "\n";
}

int runFiles(CliState& state) {
  if (!state.enterStation()) return 1;
  ProgramFolder folder = state.folder();
  DataFileState files;
  bool ok = CheckProgramImages(folder, state.op, files);

  // The profile, loaded as at start-up, decides which firmware images are in use.
  Profile profile;
  switch (LoadProfile(state.profilePath(), profile, folder, state.op)) {
    case LoadResult::Ok:
      break;
    case LoadResult::LogFolderFailed:
      state.op.showMessage(kCannotCreateLogDirectory, "Error", MessageIcon::Error);
      return 1;
    case LoadResult::Failed:
      return 1;
  }
  FirmwareSelection sel = SelectFirmware(folder, FirmwareChoiceFor(profile.settings), state.op, files);
  for (const auto* fw : {&sel.sata, &sel.usb}) {
    if (fw->selected && (!fw->present || fw->corrupt)) ok = false;
  }

  if (state.json) {
    nlohmann::json j;
    j["GdpPath"] = files.gdpPath;
    j["GdpVersion"] = files.gdpVersion;
    j["SatatestPath"] = files.satatestPath;
    j["SatatestVersion"] = files.satatestVersion;
    j["ProgramImagesPresent"] = files.ProgramImagesPresent;
    j["SataVersion"] = files.sataVersion;
    j["UsbVersion"] = files.usbVersion;
    j["Family"] = files.familyText;
    j["SataImage"] = firmwareState(sel.sata);
    j["UsbImage"] = firmwareState(sel.usb);
    j["StatusText"] = sel.statusText;
    j["Caption"] = sel.caption;
    std::cout << j.dump(2, ' ', false, kJsonReplace) << std::endl;
  } else {
    auto programState = [](const std::string& path, const std::string& version) {
      if (!fileExists(path)) return "missing";
      return version.empty() ? "corrupt" : "ok";
    };
    printImage(kGdpImageName, files.gdpVersion, programState(files.gdpPath, files.gdpVersion), files.gdpPath);
    printImage(kTestImageName, files.satatestVersion, programState(files.satatestPath, files.satatestVersion),
               files.satatestPath);
    printImage(sel.sata.name, files.sataVersion, firmwareState(sel.sata), sel.sata.path);
    printImage(sel.usb.name, files.usbVersion, firmwareState(sel.usb), sel.usb.path);
    std::cout << "Family:  " << files.familyText << "\n"
              << "Status:  " << sel.statusText << "\n"
              << "Caption: " << sel.caption << "\n"
              << "START possible: " << (files.ProgramImagesPresent ? "yes" : "no") << std::endl;
  }
  return ok ? 0 : 1;
}

int runKeyFile(CliState& state, const std::optional<std::string>& text) {
  if (!state.enterStation()) return 1;
  std::string encryption =
      text ? *text : readIniString(state.profilePath(), "DeviceSetting", "EncryptionString", "Pelvane");
  ProgramFolder folder = state.folder();
  bool written = GenerateKeyFile(folder, encryption, RandomByteSource(), state.op);
  if (state.json) {
    nlohmann::json j;
    j["KeyFile"] = folder.path() + kKeyFileName;
    j["Written"] = written;
    std::cout << j.dump(2, ' ', false, kJsonReplace) << std::endl;
  }
  return written ? 0 : 1;
}

int runDecodeName(const CliState& state, const std::string& name) {
  std::string text = DecodeFirmwareName(name);
  if (state.json) {
    nlohmann::json j;
    j["Name"] = name;
    j["Text"] = text;
    std::cout << j.dump(2, ' ', false, kJsonReplace) << std::endl;
  } else {
    std::cout << text << std::flush;
  }
  return 0;
}

const CommandRegistration filesCommands([](CLI::App& app, CliState& state) {
  auto* files = app.add_subcommand("files", "Check the RAM program and firmware images of the program folder");
  files->callback([&state] { state.exitCode = runFiles(state); });

  auto* keyfile = app.add_subcommand("keyfile", "Write KeyFile.dat for the encryption option");
  auto text = std::make_shared<std::optional<std::string>>();
  keyfile->add_option_function<std::string>(
      "--string", [text](const std::string& s) { *text = s; },
      "Encryption string (default: the profile's EncryptionString)");
  keyfile->callback([&state, text] { state.exitCode = runKeyFile(state, *text); });

  auto* decode = app.add_subcommand("decode-name", "Decode the geometry codes of a firmware file name");
  auto name = std::make_shared<std::string>(kDefaultDecodeName);
  decode->add_option("NAME", *name, "Firmware file name")->capture_default_str();
  decode->callback([&state, name] { state.exitCode = runDecodeName(state, *name); });
});

}  // namespace

}  // namespace qk::cli
