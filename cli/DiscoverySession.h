#pragma once
// Everything the discovery commands need, on the bench (--bench) or on the
// real devices.
#include <memory>
#include <string>

#include "cli/Cli.h"
#include "discovery/Scanner.h"
#include "discovery/TransportProbe.h"
#include "platform/DeviceTree.h"
#include "platform/Hotplug.h"
#include "platform/PassThrough.h"
#include "platform/Removal.h"
#include "sim/Bench.h"
#include "transport/DeviceTransport.h"

namespace qk::cli {

class DiscoverySession {
 public:
  // False after telling why (a bench file that cannot be used).
  bool open(CliState& state);

  Clock& clock() { return bench_ ? bench_->clock() : realClock_; }
  sim::Bench* bench() { return bench_.get(); }
  Scanner& scanner() { return *scanner_; }
  TransportState& transportState() { return transportState_; }
  HotplugSource& hotplug() { return *hotplug_; }
  Removal& removal() { return *removal_; }
  // The window caption with the current bus word.
  std::string caption() const;

 private:
  RealClock realClock_;
  std::unique_ptr<sim::Bench> bench_;
  std::unique_ptr<PassThrough> passThrough_;
  TransportState transportState_;
  std::unique_ptr<DeviceTransport> transport_;
  std::unique_ptr<TransportProbe> probe_;
  std::unique_ptr<DeviceTree> tree_;
  std::unique_ptr<HotplugSource> hotplug_;
  std::unique_ptr<Removal> removal_;
  std::unique_ptr<Scanner> scanner_;
};

}  // namespace qk::cli
