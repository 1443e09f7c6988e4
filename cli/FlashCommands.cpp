// autodetect, params, idema: the flash type and the parameter block.
#include <iostream>
#include <memory>
#include <optional>

#include <nlohmann/json.hpp>

#include "app/Station.h"
#include "cli/Cli.h"
#include "config/FlashSelection.h"

namespace qk::cli {

namespace {

template <typename T, std::size_t N>
nlohmann::json array(const std::array<T, N>& a) {
  nlohmann::json j = nlohmann::json::array();
  for (const T& v : a) j.push_back(v);
  return j;
}

nlohmann::json parameterJson(const GlobalParameter& gp) {
  const FlashGeometry& g = gp.geometry;
  return {{"TotalBlock", g.TotalBlock},
          {"HalfDieBlocks", g.HalfDieBlocks},
          {"BlockPage", g.BlockPage},
          {"Die", g.Die},
          {"PageSectors", g.PageSectors},
          {"CEMap", array(g.CEMap)},
          {"ExtraWordA", gp.ExtraWordA},
          {"AltBlockCount", gp.AltBlockCount},
          {"TableSelect", gp.TableSelect},
          {"ControlBytesA", array(gp.ControlBytesA)},
          {"TmcBytes", array(gp.TmcBytes)},
          {"FeatureBytes", array(gp.FeatureBytes)},
          {"OptionBytes", array(gp.OptionBytes)},
          {"FlashIdWord", gp.FlashIdWord},
          {"Channel", gp.Channel},
          {"Bank", gp.Bank},
          {"CECount", gp.CECount},
          {"EccMode", gp.EccMode},
          {"TwoPlane", gp.TwoPlane},
          {"Column12Flag", gp.Column12Flag},
          {"CapacityGB", gp.CapacityGB},
          {"BlockCode", gp.BlockCode},
          {"PartNumber", gp.PartNumber},
          {"DriveCurrent", gp.DriveCurrent},
          {"Bch16ReadThreshold", gp.Bch16ReadThreshold},
          {"Bch24ReadThreshold", gp.Bch24ReadThreshold},
          {"Bch16EccCopyThreshold", gp.Bch16EccCopyThreshold},
          {"Bch24EccCopyThreshold", gp.Bch24EccCopyThreshold},
          {"DefectRatio", gp.DefectRatio},
          {"ReservedRatio", gp.ReservedRatio},
          {"WearLevelFrequency", gp.WearLevelFrequency},
          {"SecurityCounter", gp.SecurityCounter},
          {"DirtyDepth", gp.DirtyDepth},
          {"LedInterleave", gp.LedInterleave},
          {"FeatureFlags", gp.FeatureFlags},
          {"KeepEraseCount", gp.KeepEraseCount},
          {"FlashExtra", array(gp.FlashExtra)},
          {"UsbVendorId", gp.UsbVendorId},
          {"UsbProductId", gp.UsbProductId},
          {"InquiryVendor", gp.InquiryVendor},
          {"InquiryProduct", gp.InquiryProduct},
          {"UsbManufacturer", gp.UsbManufacturer},
          {"UsbProduct", gp.UsbProduct},
          {"FirmwareRevision", gp.FirmwareRevision},
          {"ModelNumber", gp.ModelNumber},
          {"EncryptionText", gp.EncryptionText},
          {"UsbRemovable", gp.UsbRemovable},
          {"IdeUdma5", gp.IdeUdma5},
          {"DumpDebugFile", gp.DumpDebugFile},
          {"EnSaveDefectTable", gp.EnSaveDefectTable},
          {"CheckFlashMask", gp.CheckFlashMask},
          {"LedLightMode", gp.LedLightMode},
          {"BridgeOneSeen", gp.BridgeOneSeen},
          {"TableFiles", gp.TableFiles}};
}

std::uint64_t idemaMaximum(const GlobalParameter& gp) {
  const FlashGeometry& g = gp.geometry;
  return (static_cast<std::uint64_t>(gp.Channel) * gp.Bank * (g.TotalBlock / 1024U) * g.BlockPage *
          (g.PageSectors * 512U / 1024U) / 1024U) & 0xFFFF;
}

// Data files and profile as at start-up; false (exit code set) when they cannot be loaded.
std::unique_ptr<Station> loadStation(CliState& state) {
  if (!state.enterStation()) {
    state.exitCode = 1;
    return nullptr;
  }
  auto s = std::make_unique<Station>(state.folder(), state.op);
  if (s->loadSettings(state.profilePath()) != Station::StartResult::Ok) {
    state.exitCode = 1;
    return nullptr;
  }
  return s;
}

std::string text(const nlohmann::json& v) {
  return v.is_string() ? v.get<std::string>() : v.dump(-1, ' ', false, kJsonReplace);
}

void runParams(CliState& state) {
  auto s = loadStation(state);
  if (!s) return;
  FlashInfo info = s->flashInfoChange();
  const GlobalParameter& gp = s->globalParameter();
  nlohmann::json fields = parameterJson(gp);
  if (state.json) {
    nlohmann::json j = fields;
    j["Details"] = info.details;
    j["StatusText"] = info.statusText;
    j["UsableLbas"] = info.usableLbas;
    j["Capacity1000"] = info.capacity1000;
    j["Capacity1024"] = info.capacity1024;
    j["IdemaMaximum"] = idemaMaximum(gp);
    std::cout << j.dump(2, ' ', false, kJsonReplace) << std::endl;
    return;
  }
  std::cout << info.statusText << "\n";
  for (const auto& line : info.details) std::cout << line << "\n";
  // Field by field in record order.
  for (const char* key : {"TotalBlock", "HalfDieBlocks", "BlockPage", "Die", "PageSectors", "CEMap", "ExtraWordA",
                          "AltBlockCount", "TableSelect", "ControlBytesA", "TmcBytes", "FeatureBytes", "OptionBytes",
                          "FlashIdWord", "Channel", "Bank", "CECount", "EccMode", "TwoPlane", "Column12Flag",
                          "CapacityGB", "BlockCode", "PartNumber", "DriveCurrent", "Bch16ReadThreshold",
                          "Bch24ReadThreshold", "Bch16EccCopyThreshold", "Bch24EccCopyThreshold", "DefectRatio",
                          "ReservedRatio", "WearLevelFrequency", "SecurityCounter", "DirtyDepth", "LedInterleave",
                          "FeatureFlags", "KeepEraseCount", "FlashExtra", "UsbVendorId", "UsbProductId",
                          "InquiryVendor", "InquiryProduct", "UsbManufacturer", "UsbProduct", "FirmwareRevision",
                          "ModelNumber", "EncryptionText", "UsbRemovable", "IdeUdma5", "DumpDebugFile",
                          "EnSaveDefectTable", "CheckFlashMask", "LedLightMode", "BridgeOneSeen"}) {
    std::cout << key << ": " << text(fields[key]) << "\n";
  }
  std::cout << "Usable LBAs: " << info.usableLbas << "\n"
            << "Capacity: " << info.capacity1000 << " GB (1K=1000), " << info.capacity1024 << " GB (1K=1024)\n"
            << "IDEMA maximum: " << idemaMaximum(gp) << std::endl;
}

void runIdema(CliState& state, const std::string& entry) {
  auto s = loadStation(state);
  if (!s) return;
  s->flashInfoChange();
  IdemaRatioResult r = IdemaToReservedRatio(entry, s->globalParameter());
  if (r.message) {
    state.op.showMessage(*r.message, "", MessageIcon::Warning);
    state.exitCode = 2;
    return;
  }
  if (state.json) {
    nlohmann::json j;
    j["ResPercentage"] = r.resPercentage;
    j["Ratio"] = r.ratio;
    std::cout << j.dump(2, ' ', false, kJsonReplace) << std::endl;
  } else {
    std::cout << "ResPercentage: " << r.resPercentage << std::endl;
  }
}

// Answers the choice among several flash types from --choose, else asks the terminal.
class ChoosingOperator : public Operator {
 public:
  ChoosingOperator(Operator& inner, std::optional<int> choice) : inner_(inner), choice_(choice) {}
  void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
    inner_.showMessage(text, caption, icon);
  }
  std::optional<std::string> askText(const std::string& caption, const std::string& prompt,
                                     const std::string& defaultText, bool hidden) override {
    if (caption == kFlashDetectCaption && choice_) {
      auto answer = std::to_string(*choice_);
      choice_.reset();  // a refused answer is not given twice
      return answer;
    }
    return inner_.askText(caption, prompt, defaultText, hidden);
  }
  std::optional<std::string> chooseFile(const std::string& filter, const std::string& ext, const std::string& folder,
                                        bool save) override {
    return inner_.chooseFile(filter, ext, folder, save);
  }

 private:
  Operator& inner_;
  std::optional<int> choice_;
};

void runAutoDetect(CliState& state, std::optional<int> choice) {
  if (!state.enterStation()) {
    state.exitCode = 1;
    return;
  }
  ChoosingOperator op(state.op, choice);
  Station s(state.folder(), op);
  switch (s.startUp(state.profilePath(), state.benchPath())) {
    case Station::StartResult::Ok:
      break;
    case Station::StartResult::BenchFailed:
      state.exitCode = 2;
      return;
    default:
      state.exitCode = 1;
      return;
  }
  Station::AutoDetectResult r = s.flashAutoDetect();
  const FlashCatalogue& cat = s.profile().catalogue;
  const ProfileSettings& settings = s.profile().settings;
  if (r.chosen) {
    // The choice stays in the profile file as a station close would store it.
    WriteDetectedFlashKeys(s.folder().resolve(kDefaultProfileName), settings);
  }
  nlohmann::json matches = nlohmann::json::array();
  for (std::size_t i = 0; i < r.matches.size(); ++i) {
    const FlashTypeRecord& t = cat.types[static_cast<std::size_t>(r.matches[i].type)];
    matches.push_back({{"vendor", cat.vendors[static_cast<std::size_t>(r.matches[i].vendor)]},
                       {"uniqueName", t.uniqueName},
                       {"partNumber", t.partNumber},
                       {"chipEnables", t.ceCount},
                       {"channel", r.reading.channels},
                       {"bank", r.reading.banks},
                       {"driveCurrent", DetectedDriveCurrent(r.reading.banks, r.reading.ceCount)},
                       {"chosen", r.chosen && *r.chosen == i}});
  }
  if (state.json) {
    nlohmann::json j;
    j["slot"] = r.slot + 1;
    j["readOk"] = r.readOk;
    j["matches"] = matches;
    j["FlashUniName"] = settings.FlashUniName;
    j["Channel"] = settings.Channel;
    j["Bank"] = settings.Bank;
    j["DrvCurrent"] = settings.DrvCurrent;
    std::cout << j.dump(2, ' ', false, kJsonReplace) << std::endl;
  } else if (!r.matches.empty()) {
    std::cout << "Port" << (r.slot + 1) << ":\n";
    for (const auto& m : matches) {
      std::cout << (m["chosen"].get<bool>() ? "* " : "  ") << text(m["vendor"]) << "  " << text(m["uniqueName"])
                << "  /  " << text(m["partNumber"]) << " (" << m["chipEnables"] << "CE)  channel " << m["channel"]
                << ", bank " << m["bank"] << ", drive current " << m["driveCurrent"] << "\n";
    }
    std::cout << std::flush;
  }
  if (r.outcome != Station::AutoDetectResult::Outcome::Found) state.exitCode = 1;
  else if (!r.chosen) state.exitCode = 2;
}

const CommandRegistration flashCommands([](CLI::App& app, CliState& state) {
  auto* detect = app.add_subcommand("autodetect", "Detect the flash type of the first connected drive");
  auto choice = std::make_shared<std::optional<int>>();
  detect->add_option_function<int>(
      "--choose", [choice](const int& n) { *choice = n; }, "Pick this match (1-based) when several fit");
  detect->callback([&state, choice] { runAutoDetect(state, *choice); });

  auto* params = app.add_subcommand("params", "Build the parameter block from the profile and the flash list");
  params->callback([&state] { runParams(state); });

  auto* idema = app.add_subcommand("idema", "Reserved ratio for an IDEMA capacity in GB");
  auto entry = std::make_shared<std::string>();
  idema->add_option("N", *entry, "IDEMA capacity in GB")->required();
  idema->callback([&state, entry] { runIdema(state, *entry); });
});

}  // namespace

}  // namespace qk::cli
