// doctor: checks what the station needs of this machine to work with real
// drives without root, and prints what to fix.
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "platform/linux/MachineCheck.h"
#include "platform/linux/SysfsDeviceTree.h"

namespace qk::cli {

namespace {

void runDoctor(CliState& state) {
  MachinePaths paths;
  const ProgramFolder dir = ProgramFolder::ofExecutable();
  for (const char* name : {"qkstation-cli", "qkstation"}) paths.programs.push_back(dir.resolve(name));
  SysfsDeviceTree tree;
  const auto items = MachineCheck(paths).run(tree);
  bool ok = true;
  nlohmann::json list = nlohmann::json::array();
  for (const auto& i : items) {
    ok = ok && i.ok;
    list.push_back({{"check", i.name}, {"ok", i.ok}, {"detail", i.detail}, {"fix", i.fix}});
    if (state.json) continue;
    std::cout << (i.ok ? "ok    " : "FIX   ") << i.name << ": " << i.detail << "\n";
    if (!i.ok) std::cout << "      -> " << i.fix << "\n";
  }
  if (state.json) {
    std::cout << nlohmann::json{{"ok", ok}, {"checks", list}}.dump() << std::endl;
  } else {
    std::cout << (ok ? "Everything is in place for real drives.\n" : "Some checks failed; see the fixes above.\n")
              << std::flush;
  }
  if (!ok) state.exitCode = 1;
}

const CommandRegistration registration([](CLI::App& app, CliState& state) {
  auto* doctor = app.add_subcommand(
      "doctor", "Check this machine for real drives without root: capability, group, udev rule, drive nodes, udev");
  doctor->callback([&state] { runDoctor(state); });
});

}  // namespace

}  // namespace qk::cli
