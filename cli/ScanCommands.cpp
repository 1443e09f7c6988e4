// scan, watch and remove: the device scan, hot-plug following and safe removal.
#include <csignal>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "cli/StationStart.h"
#include "app/Station.h"
#include "discovery/SafeRemoval.h"

namespace qk::cli {

namespace {

nlohmann::json scanJson(Station& s) {
  Scanner& sc = s.scanner();
  nlohmann::json ports = nlohmann::json::array();
  for (int i = 0; i < std::min(sc.slotCount(), SlotLimit); ++i) {
    const PortContext& p = sc.ports()[i];
    ports.push_back({{"slot", i + 1},
                     {"configured", p.configured},
                     {"active", p.active},
                     {"bridgeCode", p.bridgeCode},
                     {"pathKind", p.pathKind},
                     {"locationKey", p.locationKey.str()},
                     {"devicePath", p.devicePath.str()},
                     {"capacityMB", p.capacityMB},
                     {"serialNumber", p.serialNumber.str()},
                     {"access", p.devicePath.empty() ? std::string() : s.accessProblems().find(p.devicePath.str())}});
  }
  return {{"slotCount", sc.slotCount()},
          {"deviceCount", sc.deviceCount()},
          {"configuredCount", sc.configuredCount()},
          {"startEnabled", sc.startEnabled()},
          {"transportPath", s.transportState().transportPath() == TransportPath::UsbPath ? "usb" : "sata"},
          {"caption", s.caption()},
          {"ports", ports}};
}

std::string describe(const PortContext& p, const AccessProblems& access) {
  if (!p.configured) return "empty";
  if (!p.active) {
    // A drive the station may not talk to is not an unknown bridge.
    const std::string denied = p.devicePath.empty() ? std::string() : access.slotText(p.devicePath.str());
    return "configured " + p.locationKey.str() + (p.devicePath.empty() ? "" : " " + p.devicePath.str()) +
           (!denied.empty() ? " (" + denied + ")"
                            : p.bridgeCode == 0 && !p.devicePath.empty() ? " (bridge not recognised)" : "");
  }
  std::string text = "active " + p.devicePath.str() + " bridge " + std::to_string(p.bridgeCode) + " " +
                     std::to_string(p.capacityMB) + " MB";
  if (!p.serialNumber.empty()) text += " SN " + p.serialNumber.str();
  return text;
}

void printTable(Station& s) {
  Scanner& sc = s.scanner();
  std::cout << s.caption() << "\n";
  std::cout << "slots " << sc.slotCount() << ", configured " << sc.configuredCount() << ", active "
            << sc.deviceCount() << ", START " << (sc.startEnabled() ? "enabled" : "disabled") << "\n";
  for (int i = 0; i < std::min(sc.slotCount(), SlotLimit); ++i) {
    const PortContext& p = sc.ports()[i];
    if (p.configured) std::cout << "Port" << (i + 1) << ": " << describe(p, s.accessProblems()) << "\n";
  }
  std::cout << std::flush;
}

void printResult(CliState& state, Station& s) {
  if (state.json) {
    std::cout << scanJson(s).dump(-1, ' ', false, kJsonReplace) << std::endl;
  } else {
    printTable(s);
  }
}

}  // namespace

std::unique_ptr<Station> startStation(CliState& state) {
  if (!state.enterStation(state.bench.empty())) {
    state.exitCode = 1;
    return nullptr;
  }
  auto s = std::make_unique<Station>(state.folder(), state.op);
  s->setRecordsUrl(state.records);
  switch (s->startUp(state.profilePath(), state.benchPath())) {
    case Station::StartResult::Ok:
      return s;
    case Station::StartResult::BenchFailed:
      state.exitCode = 2;
      return nullptr;
    default:
      state.exitCode = 1;
      return nullptr;
  }
}

namespace {

volatile std::sig_atomic_t interrupted = 0;

void runWatch(CliState& state, double seconds) {
  auto station = startStation(state);
  if (!station) return;
  Station& s = *station;
  printResult(state, s);
  Scanner& sc = s.scanner();
  if (!s.hotplug().start([&sc](DeviceChange c) { sc.onDeviceChange(c); })) {
    state.op.showMessage("Device-change notifications are not available", "Watch", MessageIcon::Error);
    state.exitCode = 1;
    return;
  }
  if (s.bench()) s.bench()->startEvents();
  interrupted = 0;
  std::signal(SIGINT, [](int) { interrupted = 1; });
  RealClock idle;  // the loop's own polling is real time; the rescan delay follows the station clock
  const std::int64_t end = seconds > 0 ? idle.nowMs() + static_cast<std::int64_t>(seconds * 1000) : -1;
  PortTable before = sc.ports();
  bool startBefore = sc.startEnabled();
  while (!interrupted && (end < 0 || idle.nowMs() < end)) {
    idle.sleepFor(10);
    if (!sc.pollRescan()) continue;
    if (state.json) {
      std::cout << scanJson(s).dump(-1, ' ', false, kJsonReplace) << std::endl;
    } else {
      for (int i = 0; i < std::min(sc.slotCount(), SlotLimit); ++i) {
        const std::string was = describe(before[i], s.accessProblems()), now = describe(sc.ports()[i], s.accessProblems());
        if (was != now) std::cout << "Port" << (i + 1) << ": " << now << "\n";
      }
      if (startBefore != sc.startEnabled()) std::cout << "START " << (sc.startEnabled() ? "enabled" : "disabled") << "\n";
      std::cout << std::flush;
    }
    before = sc.ports();
    startBefore = sc.startEnabled();
  }
  std::signal(SIGINT, SIG_DFL);
  if (s.bench()) s.bench()->stopEvents();
  s.hotplug().stop();
}

const CommandRegistration registration([](CLI::App& app, CliState& state) {
  auto* scan = app.add_subcommand("scan", "Scan for drives and show the port table");
  scan->callback([&state] {
    auto s = startStation(state);
    if (s) printResult(state, *s);
  });

  auto* watch = app.add_subcommand("watch", "Scan, then follow plug and unplug with delayed rescans");
  auto seconds = std::make_shared<double>(0);
  watch->add_option("--for", *seconds, "Stop after this many seconds (default: until interrupted)")
      ->check(CLI::NonNegativeNumber);
  watch->callback([&state, seconds] { runWatch(state, *seconds); });

  auto* remove = app.add_subcommand("remove", "Safely remove all active drives");
  remove->callback([&state] {
    auto s = startStation(state);
    if (!s) return;
    const bool all = SafeRemoval::removeAll(s->scanner(), s->removal(), state.op);
    printResult(state, *s);
    if (!all) state.exitCode = 1;
  });
});

}  // namespace

}  // namespace qk::cli
