#include "cli/DiscoverySession.h"

#include <cstdio>

#include "config/IniFile.h"
#include "platform/bench/BenchDeviceTree.h"
#include "platform/linux/LinuxPassThrough.h"
#include "platform/linux/SysfsDeviceTree.h"
#include "platform/linux/SysfsRemoval.h"
#include "platform/linux/UdevHotplug.h"

namespace qk::cli {

bool DiscoverySession::open(CliState& state) {
  ProgramFolder folder = state.folder();
  if (!state.bench.empty()) {
    std::string error;
    bench_ = sim::Bench::load(folder.resolve(state.bench), {}, error);
    if (!bench_) {
      state.op.showMessage(error, "Bench", MessageIcon::Error);
      return false;
    }
    tree_ = std::make_unique<BenchDeviceTree>(*bench_);
    hotplug_ = std::make_unique<BenchHotplug>(*bench_);
    removal_ = std::make_unique<BenchRemoval>(*bench_);
    transport_ = std::make_unique<DeviceTransport>(bench_->passThrough(), bench_->clock(), transportState_);
  } else {
    passThrough_ = std::make_unique<LinuxPassThrough>();
    tree_ = std::make_unique<SysfsDeviceTree>();
    hotplug_ = std::make_unique<UdevHotplug>();
    removal_ = std::make_unique<SysfsRemoval>();
    transport_ = std::make_unique<DeviceTransport>(*passThrough_, realClock_, transportState_);
  }
  probe_ = std::make_unique<TransportProbe>(*transport_);
  scanner_ = std::make_unique<Scanner>(*tree_, *probe_, state.op, clock(), folder.path());

  const std::string profile = state.profilePath();
  ScanSettings settings;
  settings.connectDevNum = readIniInt(profile, "Setting", "ConnectDevNum", 0);
  settings.enBarCode = readIniInt(profile, "Setting", "EnBarCode", 0) != 0;
  // START needs the RAM program images beside the station.
  settings.filesReady = fileExists(folder.resolve("GDP.bin")) && fileExists(folder.resolve("satatest.bin"));
  scanner_->setSettings(settings);
  return true;
}

std::string DiscoverySession::caption() const {
  char text[128];
  std::snprintf(text, sizeof text, "Talvery %s %s M.P. Tool %s S/U ", "205", transportState_.busWord().c_str(),
                "A.1.0.8");
  return text;
}

}  // namespace qk::cli
