#pragma once
// A drive for the run engine's tests: every operation passes unless named in
// `failing`; records what was asked. Thread-safe enough for one worker each.
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "run/PortOperations.h"
#include "support/Wait.h"

namespace qk::test {

// A drive whose every operation passes unless told otherwise; records what was asked.
class ScriptedOps : public PortOperations {
 public:
  // Operations named here never return until the port is stopped (a drive that hangs).
  std::set<std::string> hanging;
  std::stop_token stop;
  Clock* clock = nullptr;  // a hanging drive's time passes on it...
  std::function<bool()> timeMayPass;  // ...once this says so (unset: at once)
  // Set: the hanging operation is a command blocked in the kernel. The port's
  // stop does not reach it; only a reset of this level (or a deeper one) does.
  std::optional<PassThrough::ResetLevel> releasedBy;
  struct Resets {
    std::atomic<int> device{0}, usb{0};
  };
  std::shared_ptr<Resets> resets = std::make_shared<Resets>();  // outlives the run's drives

  std::set<std::string> failing;
  std::vector<std::string> calls;
  std::uint64_t capacity = 0;
  std::array<std::uint32_t, 5> badTotals{};
  std::optional<UsbIdentity> usb;
  std::string identifyModel = "Talvery QKR2XX SSD", identifySerial = "SN0001", identifyFirmware = "12345678";

  bool step(const std::string& name) {
    calls.push_back(name);
    if (hanging.count(name)) {
      // Bounded: an engine that never stops the port fails the test instead of hanging it.
      const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
      while (releasedBy ? !released() : !stop.stop_requested()) {
        if (std::chrono::steady_clock::now() >= deadline) {
          ADD_FAILURE() << "the hanging drive's '" << name << "' was never stopped";
          return false;
        }
        if (clock && (!timeMayPass || timeMayPass())) {
          clock->sleepFor(1000, stop);
        } else {
          std::this_thread::yield();
        }
      }
      return false;
    }
    return !failing.count(name);
  }
  bool released() const {
    if (*releasedBy == PassThrough::ResetLevel::Device && resets->device > 0) return true;
    return resets->usb > 0;
  }
  bool resetDrive(PassThrough::ResetLevel level) override {
    ++(level == PassThrough::ResetLevel::Device ? resets->device : resets->usb);
    return true;
  }
  static void putAta(WorkBuffer b, std::size_t at, std::size_t len, const std::string& text) {
    for (std::size_t i = 0; i < len; ++i) {
      char c = i < text.size() ? text[i] : ' ';
      b[at + (i % 2 == 0 ? i + 1 : i - 1)] = static_cast<std::uint8_t>(c);
    }
  }

  bool isLoaderMode() override { return !step("isLoaderMode"); }
  bool identifyDevice(WorkBuffer b) override {
    putAta(b, 20, 20, identifySerial);
    putAta(b, 46, 8, identifyFirmware);
    putAta(b, 54, 40, identifyModel);
    return step("identify");
  }
  bool inquiry(WorkBuffer) override { return step("inquiry"); }
  bool sendBridgeSetup(int) override { return step("bridgeSetup"); }
  bool flashModuleTest(WorkBuffer) override { return step("flashModule"); }
  bool finishTables(WorkBuffer) override { return step("finishTables"); }
  bool busInterfaceTest(WorkBuffer b) override {
    b[0] = 0x42;  // the reply the failure keeps
    return step("bus");
  }
  bool flashInterfaceTest(WorkBuffer, std::int32_t&, std::uint8_t&) override { return step("interface"); }
  bool dramTest(WorkBuffer) override { return step("dram"); }
  bool eraseSearch(WorkBuffer) override { return step("eraseSearch"); }
  bool findSystemBlocks(WorkBuffer) override { return step("systemBlocks"); }
  bool preformat(WorkBuffer, bool, bool, bool) override { return step("preformat"); }
  bool downloadFirmware(WorkBuffer, const GlobalParameter& parameters, const std::string&, const std::string& eb,
                        int) override {
    ebPath = eb;
    downloadedModel = parameters.ModelNumber;
    return step("download");
  }
  bool checkTables(WorkBuffer) override { return step("checkTables"); }
  bool leaveLoaderMode(WorkBuffer) override { return step("leaveLoader"); }
  bool countBadBlocks(WorkBuffer, std::span<std::uint8_t>, std::array<std::uint32_t, 5>& totals) override {
    totals = badTotals;
    return step("countBad");
  }
  bool checkTemperature(WorkBuffer, std::uint8_t, std::uint8_t& t) override {
    t = 75;
    return step("temperature");
  }
  std::optional<UsbIdentity> readUsbIdentity(WorkBuffer) override {
    step("usbIdentity");
    return usb;
  }
  std::uint64_t readCapacitySectors() override {
    step("capacity");
    return capacity;
  }
  bool readSmartData(WorkBuffer) override { return step("smart"); }
  bool diskFormat(const std::string&, std::string& volume) override {
    volume = "/dev/bench/Drive1p1";
    return step("format");
  }
  bool copyImage(const std::string&) override { return step("copyImage"); }
  bool readSectors(std::uint32_t, std::uint32_t, WorkBuffer) override { return step("readSectors"); }
  bool flushCache() override { return step("flush"); }
  bool checkImage(const std::string&) override { return step("checkImage"); }
  bool quickRwTest(WorkBuffer) override { return step("quickRw"); }
  bool rwTestPercentage(WorkBuffer, int percent) override { return step("rw" + std::to_string(percent)); }
  bool eraseAllData(WorkBuffer) override { return step("erase"); }
  bool capacityProbe(WorkBuffer b, const std::string& driveId, bool keepData) override {
    b[0] = 0x42;
    probeId = driveId;
    probeKeptData = keepData;
    return step("probe");
  }
  std::string probeId;
  bool probeKeptData = false;

  std::string ebPath;
  std::string downloadedModel;  // the model number of the block the download was given
};

}  // namespace qk::test
