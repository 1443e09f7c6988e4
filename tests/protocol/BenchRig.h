#pragma once
// The station's controller operations against one simulated drive: a program
// folder with the sample data, a profile matching the drive, and a port context.
#include <gtest/gtest.h>

#include <memory>
#include <stop_token>
#include <string>

#include "config/GlobalParameter.h"
#include "config/Profile.h"
#include "platform/Clock.h"
#include "protocol/ControllerOps.h"
#include "protocol/ProductionSteps.h"
#include "sim/Bench.h"
#include "sim/SampleData.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"
#include "transport/DeviceTransport.h"

namespace qk::test {

// A virtual clock that stops the port once the given time has passed, as the
// port's run time-out would.
class StoppingClock : public VirtualClock {
 public:
  bool sleepFor(std::int64_t ms, std::stop_token stop = {}) override {
    bool r = VirtualClock::sleepFor(ms, stop);
    if (stopAtMs > 0 && nowMs() >= stopAtMs) source.request_stop();
    return r && !source.stop_requested();
  }
  std::int64_t stopAtMs = 0;
  std::stop_source source;
};

inline constexpr const char* kUsbToken = "R20X";
inline constexpr const char* kBridgeToken = "k404";

class BenchRig {
 public:
  // extraKeys: further lines of the drive's section (faults, temperature).
  explicit BenchRig(const std::string& token, const std::string& extraKeys = "", int channel = 4, int bank = 2) {
    std::string error;
    if (!WriteSampleData(dir.path(), &error)) ADD_FAILURE() << error;
    std::string text = "[Bench]\nTrace=trace.txt\n[Hub1]\nParent=root\nKind=usb2\nPorts=4\n[Drive1]\nAt=Hub1:1\nToken=" + token +
                       "\nFlash=WBG\nChannel=" + std::to_string(channel) + "\nBank=" + std::to_string(bank) + "\n" +
                       extraKeys;
    sim::BenchConfig cfg;
    cfg.file = "rig.bench";
    if (!sim::ParseBenchText(text, dir.path(), {}, cfg, error)) {
      ADD_FAILURE() << error;
      return;
    }
    sim::BenchOptions options;
    options.clock = &clock;
    bench = sim::Bench::fromConfig(std::move(cfg), options, error);
    if (!bench) {
      ADD_FAILURE() << error;
      return;
    }
    transport = std::make_unique<DeviceTransport>(bench->passThrough(), clock, state);
    ctx.devicePath = sim::Bench::devicePathFor("Drive1");
    transport->SelectTransportPath(ctx.devicePath);

    Profile profile;
    RecordingOperator op;
    if (LoadProfile(dir.file("QKMassProd.ini"), profile, ProgramFolder(dir.path()), op) != LoadResult::Ok)
      ADD_FAILURE() << "sample profile did not load";
    settings = profile.settings;
    settings.FlashUniName = "WBG";
    settings.Channel = channel;
    settings.Bank = bank;
    ApplyLoadTimeMirrors(profile.mirrors, ctx.params);
    ctx.params.CheckFlashMask = 0x1F;
    GetGlobalParameter(settings, profile.catalogue, {kSampleFirmwareFamily, kSampleFirmwareVersion}, ctx.params);
    ctx.programs = {dir.file("GDP.bin"), dir.file("satatest.bin")};
    ctx.dumpFolder = dir.path();
    ops = std::make_unique<ControllerOps>(*transport, ctx, clock.source.get_token());
    steps = std::make_unique<ProductionSteps>(*ops);
  }

  std::uint8_t* work() { return ctx.buffers.first(); }

  TempDir dir;
  StoppingClock clock;
  TransportState state;
  std::unique_ptr<sim::Bench> bench;
  std::unique_ptr<DeviceTransport> transport;
  ProfileSettings settings;
  ControllerContext ctx;
  std::unique_ptr<ControllerOps> ops;
  std::unique_ptr<ProductionSteps> steps;
};

}  // namespace qk::test
