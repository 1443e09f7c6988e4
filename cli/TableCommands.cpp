// table, detail and download: the controller's tables, the drive's detail and
// a firmware download rehearsed on one drive.
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "cli/StationStart.h"
#include "dialogs/DetailFields.h"
#include "protocol/DeviceDetail.h"
#include "protocol/FirmwareDownload.h"
#include "protocol/ProductionSteps.h"
#include "run/PortWorker.h"
#include "run/RunEngine.h"
#include "run/TableTransfer.h"

namespace qk::cli {

namespace {

const std::map<std::string, TableTransferKind> kKinds = {{"get-def", TableTransferKind::GetDefect},
                                                         {"put-def", TableTransferKind::PutDefect},
                                                         {"get-later", TableTransferKind::GetLater},
                                                         {"put-later", TableTransferKind::PutLater}};

void runTable(CliState& state, const std::string& kindName, const std::string& file) {
  auto station = startStation(state);
  if (!station) return;
  // Through START, as the window's RD page does: its checks refuse with their messages.
  RunObserver quiet;
  RunEngine engine(*station, quiet);
  RunOptions options;
  options.mode = RunMode::TableTransfer;
  options.transfer = kKinds.at(kindName);
  options.transferFile = file;
  const RunOutcome run = engine.start(options);
  if (!run.transfer || !run.transfer->ran) {
    if (!run.refusal && !run.startDisabled)
      state.op.showMessage("Please Make sure the Connection devices Number!!", "", MessageIcon::Warning);
    state.exitCode = 2;
    return;
  }
  const TableTransferOutcome& out = *run.transfer;
  if (state.json) {
    std::cout << nlohmann::json{{"port", out.slot + 1}, {"ok", out.ok}, {"message", out.message}}.dump(2, ' ', false, kJsonReplace)
              << std::endl;
  } else {
    std::cout << "Port" << out.slot + 1 << ": " << out.message << std::endl;
  }
  state.exitCode = out.ok ? 0 : 1;
}

// The station and the port's controller, or nullptr (exit code set) when the slot has no drive.
std::unique_ptr<Station> stationForPort(CliState& state, int slot) {
  auto station = startStation(state);
  if (!station) return nullptr;
  const Scanner& sc = station->scanner();
  if (slot < 1 || slot > std::min(sc.slotCount(), SlotLimit) || !sc.ports()[static_cast<std::size_t>(slot - 1)].active) {
    state.op.showMessage("Port" + std::to_string(slot) + " has no drive", "Refused", MessageIcon::Error);
    state.exitCode = 2;
    return nullptr;
  }
  station->flashInfoChange();
  return station;
}

void runDetail(CliState& state, int slot) {
  auto station = stationForPort(state, slot);
  if (!station) return;
  DeviceDetail d = ReadSlotDetail(*station, slot - 1);
  const std::string fwInfo = d.loaderMode ? kLoaderModeText : d.fwInfo;
  if (state.json) {
    nlohmann::json j = {{"port", slot},
                        {"model", d.model},
                        {"serial", d.serial},
                        {"firmware", d.firmware},
                        {"capacityMB", d.answered ? nlohmann::json(d.capacityMB) : nlohmann::json("Fail")},
                        {"loaderMode", d.loaderMode},
                        {"fwInfo", fwInfo},
                        {"vendorName", d.vendorName},
                        {"productName", d.productName},
                        {"manufacturerString", d.manufacturerString},
                        {"productString", d.productString},
                        {"vid", d.vid},
                        {"pid", d.pid}};
    std::cout << j.dump(2, ' ', false, kJsonReplace) << std::endl;
  } else {
    for (const DetailField& f : DetailFields(d)) {
      const std::string label = f.label;
      std::cout << label << (label.back() == ' ' ? "" : " ") << (std::string(f.name) == "FWInfoEdit" ? fwInfo : f.text)
                << "\n";
    }
    std::cout << std::flush;
  }
  state.exitCode = d.answered ? 0 : 1;
}

void runDownload(CliState& state, int slot) {
  auto station = stationForPort(state, slot);
  if (!station) return;
  const ProfileSettings& s = station->profile().settings;
  ControllerContext& ctx = station->controller(slot - 1);
  GlobalParameter& gp = ctx.params;
  gp.TableFiles.clear();
  gp.TableFileSizesKiB.clear();
  if (s.DownloadType & 1) gp.TableFiles.push_back(station->firmware().sata.path);
  if (s.DownloadType & 2) gp.TableFiles.push_back(station->firmware().usb.path);
  if (gp.TableFiles.empty()) {
    state.op.showMessage("At lease one bin file needed!", "", MessageIcon::Warning);
    state.exitCode = 2;
    return;
  }
  ControllerOps ops(station->transport(), ctx);
  ProductionSteps steps(ops);
  std::uint8_t* work = ctx.buffers.first();
  const std::string serial = s.SerialNum;
  bool ok = steps.FindSystemBlocks(work);
  const char* step = ok ? "Download" : "Get Block";
  if (ok) {
    const std::string eb = station->profile().logPath + serial + "_EB.txt";
    ok = DownloadFirmware(ops, work, serial, eb, FirmwareFamilyCode(station->firmwareTexts().family));
  }
  const bool record = !ok && (work[0] == kDownloadPage1Bad || work[0] == kDownloadPage2Bad ||
                              work[0] == kDownloadPage3Bad);
  if (state.json) {
    nlohmann::json j = {{"port", slot}, {"step", step}, {"passed", ok}, {"serial", serial}};
    if (record) j["record"] = {{"code", work[0]}, {"channel", work[1]}};
    std::cout << j.dump(2, ' ', false, kJsonReplace) << std::endl;
  } else {
    std::cout << "Port" << slot << ": " << step << " " << (ok ? "Pass" : "Fail");
    if (record) std::cout << " (code " << int(work[0]) << ", channel " << int(work[1]) << ")";
    std::cout << std::endl;
  }
  state.exitCode = ok ? 0 : 1;
}

const CommandRegistration registration([](CLI::App& app, CliState& state) {
  auto kind = std::make_shared<std::string>();
  auto file = std::make_shared<std::string>();
  auto* table = app.add_subcommand("table", "Defect or later-bad-block table of the first drive to or from a file");
  table->add_option("KIND", *kind, "get-def, put-def, get-later or put-later")
      ->required()
      ->check(CLI::IsMember({"get-def", "put-def", "get-later", "put-later"}));
  table->add_option("FILE", *file, "Table text file (relative names: the program folder)")->required();
  table->callback([&state, kind, file] { runTable(state, *kind, *file); });

  auto slot = std::make_shared<int>(0);
  auto* detail = app.add_subcommand("detail", "What the drive on a port reports about itself");
  detail->add_option("PORT", *slot, "Slot number (1-based)")->required();
  detail->add_flag("--json", state.json, "Machine-readable fields on stdout");
  detail->callback([&state, slot] { runDetail(state, *slot); });

  auto* download = app.add_subcommand("download", "System-block search and firmware download on one drive");
  download->add_option("PORT", *slot, "Slot number (1-based)")->required();
  download->callback([&state, slot] { runDownload(state, *slot); });
});

}  // namespace

}  // namespace qk::cli
