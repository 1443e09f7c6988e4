// profile show / profile save
#include <iostream>

#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "config/Profile.h"

namespace qk::cli {

namespace {

nlohmann::ordered_json toJson(const Profile& p) {
  const ProfileSettings& s = p.settings;
  nlohmann::ordered_json j;
#define QK_FIELD(name) j[#name] = s.name
  QK_FIELD(TotalTestCount); QK_FIELD(NumberOfPass);
  QK_FIELD(ProductModel); QK_FIELD(MPVersion); QK_FIELD(ShowTitle); QK_FIELD(TimeOut);
  QK_FIELD(ConnectDevNum); QK_FIELD(EnBarCode); QK_FIELD(EnDumpFreeBlockInfo); QK_FIELD(EnUpdateFirmwareMode);
  j["TestItemEnabled"] = std::vector<std::int32_t>(s.TestItemEnabled.begin(), s.TestItemEnabled.end());
  QK_FIELD(CheckFlashMask); QK_FIELD(DownloadType); QK_FIELD(SataLBA48); QK_FIELD(LEDLightMode);
  QK_FIELD(DiskFormat); QK_FIELD(DiskLabel); QK_FIELD(CopyImagePath); QK_FIELD(EnGenImage);
  QK_FIELD(CheckMaxTemperatureValue);
  QK_FIELD(SerialNum); QK_FIELD(FirmwareVer); QK_FIELD(ModelNum); QK_FIELD(SNAutoInc); QK_FIELD(SNDecimal);
  QK_FIELD(SNErrReuse); QK_FIELD(SNMinLength);
  QK_FIELD(VendorID); QK_FIELD(ProductID); QK_FIELD(VendorName); QK_FIELD(ProductName); QK_FIELD(ManufStr);
  QK_FIELD(ProdStr);
  QK_FIELD(EncryptionEnable); QK_FIELD(EncryptionString); QK_FIELD(IDE_UDMA5);
  QK_FIELD(ExtFlashFile); QK_FIELD(Capacity); QK_FIELD(FlashUniName); QK_FIELD(Channel); QK_FIELD(Bank);
  QK_FIELD(DrvCurrent);
  QK_FIELD(DefPercentage); QK_FIELD(ResPercentage); QK_FIELD(Bch16ReadErrorThreshold);
  QK_FIELD(Bch24ReadErrorThreshold); QK_FIELD(Bch16EccErrorCopyThreshold); QK_FIELD(Bch24EccErrorCopyThreshold);
  QK_FIELD(WearLevelFrequency);
  QK_FIELD(SMARTEnable); QK_FIELD(SecurityEnable); QK_FIELD(SlumberEnable); QK_FIELD(InterleaveEnable);
  QK_FIELD(ScrambleEnable); QK_FIELD(RemapEnable); QK_FIELD(ParallelMemory); QK_FIELD(SecurityErase);
  QK_FIELD(UsbRemovable); QK_FIELD(UsbLedP14); QK_FIELD(SecurityCounter); QK_FIELD(DirtyDepth);
  QK_FIELD(InterleaveWay); QK_FIELD(LEDControl); QK_FIELD(EnSkipEraseGood); QK_FIELD(EnEarlyBad);
  QK_FIELD(EnLaterBad); QK_FIELD(EnEraseReBuildBad); QK_FIELD(EnTrimCmd); QK_FIELD(EnThermalSensor);
  QK_FIELD(EnSizeAlignment); QK_FIELD(KeepPreviouseEraseCount); QK_FIELD(EnModifyTMCvalue); QK_FIELD(TMC0);
  QK_FIELD(TMC1);
  QK_FIELD(EnableGetPutTable); QK_FIELD(TableIn); QK_FIELD(TableOut); QK_FIELD(LaterTableIn);
  QK_FIELD(LaterTableOut);
  QK_FIELD(IDEMACapacity); QK_FIELD(RWTestPercentage); QK_FIELD(LBACapacity); QK_FIELD(SpecialMode);
#undef QK_FIELD
  j["IniFilePath"] = p.iniFilePath;
  j["LogPath"] = p.logPath;
  return j;
}

// Loads the profile as the station does at start-up; false ends the command with 1.
bool loadForCommand(CliState& state, Profile& profile) {
  if (!state.enterStation()) return false;
  ProgramFolder folder = state.folder();
  switch (LoadProfile(state.profilePath(), profile, folder, state.op)) {
    case LoadResult::Ok:
      return true;
    case LoadResult::LogFolderFailed:
      state.op.showMessage(kCannotCreateLogDirectory, "Error", MessageIcon::Error);
      return false;
    case LoadResult::Failed:
      return false;
  }
  return false;
}

void printText(const nlohmann::ordered_json& j) {
  for (const auto& [key, value] : j.items()) {
    std::cout << key << " = " << (value.is_string() ? value.get<std::string>() : value.dump(-1, ' ', false, kJsonReplace)) << "\n";
  }
}

const CommandRegistration reg([](CLI::App& app, CliState& state) {
  auto* profile = app.add_subcommand("profile", "Show or save the production profile");
  profile->require_subcommand(1);

  auto* show = profile->add_subcommand("show", "Load the profile as at start-up and print it");
  show->callback([&state] {
    Profile p;
    if (!loadForCommand(state, p)) {
      state.exitCode = 1;
      return;
    }
    auto j = toJson(p);
    if (state.json) {
      std::cout << j.dump(2, ' ', false, kJsonReplace) << std::endl;
    } else {
      printText(j);
    }
  });

  auto* save = profile->add_subcommand("save", "Load the profile, then save it (to FILE or in place)");
  static std::string target;
  save->add_option("FILE", target, "Where to save (default: the profile path)");
  save->callback([&state] {
    Profile p;
    if (!loadForCommand(state, p)) {
      state.exitCode = 1;
      return;
    }
    std::string path = target.empty() ? p.iniFilePath : target;
    // A running station's profile is its own: an old copy saved over it would bring back its serials.
    const auto held = PathLock::fileInUse(state.folder().resolve(path));
    if (!held->acquired()) {
      state.op.showMessage("The profile " + state.folder().resolve(path) + " is in use by another station.", "Error",
                           MessageIcon::Error);
      state.exitCode = 1;
      return;
    }
    if (!SaveProfile(path, p.settings, state.folder())) {
      std::cerr << "profile save: cannot write " << state.folder().resolve(path) << std::endl;
      state.exitCode = 1;
      return;
    }
    if (state.json) {
      std::cout << nlohmann::json{{"saved", state.folder().resolve(path)}}.dump(-1, ' ', false, kJsonReplace) << std::endl;
    } else {
      std::cout << "Saved " << state.folder().resolve(path) << std::endl;
    }
  });
});

}  // namespace

}  // namespace qk::cli
