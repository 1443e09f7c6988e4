// format, rwtest, probe, erase, copy-image and capture: the disk operations on one port.
#include <unistd.h>

#include <iostream>
#include <nlohmann/json.hpp>
#include <vector>

#include "cli/Cli.h"
#include "cli/StationStart.h"
#include "diskops/CapacityProbe.h"
#include "diskops/DiskFormatStep.h"
#include "diskops/ImageCopy.h"
#include "diskops/RwTests.h"
#include "platform/DebugOutput.h"

namespace qk::cli {

namespace {

// The gauge as a line on a terminal; nothing when stderr is not one.
class TerminalGauge : public ProgressObserver {
 public:
  explicit TerminalGauge(std::string what) : what_(std::move(what)), tty_(isatty(STDERR_FILENO) != 0) {}
  void secondGauge(bool visible, int percent, GaugeColour colour) override {
    if (!tty_) return;
    if (!visible) {
      if (shown_) std::cerr << "\r\033[K" << std::flush;
      shown_ = false;
      return;
    }
    if (percent == last_ && colour == lastColour_ && shown_) return;
    last_ = percent;
    lastColour_ = colour;
    shown_ = true;
    const char* pass = colour == kGaugeVerifying ? "verify" : "write";
    std::cerr << "\r" << what_ << " " << pass << " " << percent << "%\033[K" << std::flush;
  }

 private:
  std::string what_;
  bool tty_;
  bool shown_ = false;
  int last_ = -1;
  GaugeColour lastColour_{};
};

struct PortPick {
  std::unique_ptr<Station> station;
  std::unique_ptr<SectorDevice> device;
  int slot = 0;  // 1-based
};

// Starts the station and picks an active port; refuses (exit 2) anything else.
bool pickPort(CliState& state, int slot, PortPick& out) {
  out.station = startStation(state);
  if (!out.station) return false;
  Scanner& sc = out.station->scanner();
  if (slot < 1 || slot > std::min(sc.slotCount(), SlotLimit) || !sc.ports()[slot - 1].active) {
    state.op.showMessage("Port" + std::to_string(slot) + " has no drive", "Refused", MessageIcon::Error);
    state.exitCode = 2;
    return false;
  }
  out.slot = slot;
  out.device = out.station->openSectorDevice(sc.ports()[slot - 1].devicePath.str());
  return true;
}

DiskJob jobFor(PortPick& p) {
  Station& s = *p.station;
  return DiskJob{*p.device, s.volumes(), s.clock(), &s.op(), {}, std::max(1, s.scanner().deviceCount())};
}

// The outcome, and on failure the error report's words: the step's failure text, then the record's lines.
void report(CliState& state, int slot, bool passed, const std::string& failText,
            const std::vector<std::string>& recordLines, const nlohmann::json& record, nlohmann::json extra) {
  std::vector<std::string> lines;
  if (!passed) {
    lines.push_back(failText);
    lines.insert(lines.end(), recordLines.begin(), recordLines.end());
  }
  if (state.json) {
    nlohmann::json j = {{"port", slot}, {"passed", passed}, {"report", lines}};
    if (!passed && !record.is_null()) j["record"] = record;
    j.update(extra);
    std::cout << j.dump(-1, ' ', false, kJsonReplace) << std::endl;
  } else {
    std::cout << "Port" << slot << ": " << (passed ? "Pass" : "Fail") << "\n";
    for (auto& l : lines) std::cout << "  " << l << "\n";
    std::cout << std::flush;
  }
  if (!passed) state.exitCode = 1;
}

void report(CliState& state, int slot, bool passed, const std::string& failText, const RwFailureRecord* record,
            nlohmann::json extra = nlohmann::json::object()) {
  report(state, slot, passed, failText, record ? record->describe() : std::vector<std::string>{},
         record ? nlohmann::json{record->kind, record->lba, record->expected, record->received, record->index}
                : nlohmann::json(),
         std::move(extra));
}

void runFormat(CliState& state, int slot) {
  PortPick p;
  if (!pickPort(state, slot, p)) return;
  DiskJob job = jobFor(p);
  PortContext& port = p.station->scanner().ports()[slot - 1];
  std::string volume;
  const bool ok = RunDiskFormat(job, p.station->profile().settings.DiskLabel, &volume);
  port.volume.assign(volume);
  port.formatted = ok ? 1 : 0;
  report(state, slot, ok, "Disk Format Fail", nullptr, {{"volume", port.volume.str()}});
}

enum class RwMode { Quick, Percent, Full };

void runRwTest(CliState& state, int slot, RwMode mode, int percent) {
  PortPick p;
  if (!pickPort(state, slot, p)) return;
  DiskJob job = jobFor(p);
  std::vector<std::uint8_t> buffer(kRwBufferBytes);
  TerminalGauge gauge("Port" + std::to_string(slot));
  bool ok = false;
  const char* failText = "R/W Test Fail";
  const std::int64_t startMs = job.clock.nowMs();
  switch (mode) {
    case RwMode::Quick:
      ok = QuickRwTest(job, buffer.data());
      break;
    case RwMode::Percent:
      ok = RWTestPercentageWithProgress(job, buffer.data(), static_cast<std::uint16_t>(percent), &gauge);
      failText = "Percentage R/W Test Fail";
      break;
    case RwMode::Full:
      ok = RWTestPercentageWithProgress(job, buffer.data(), 100, &gauge);
      failText = "Full R/W Test Fail";
      break;
  }
  // The test's own time, without the station's start: what a speed measurement compares.
  debugPrintf("Port%d: R/W test took %lld ms", slot, static_cast<long long>(job.clock.nowMs() - startMs));
  const RwFailureRecord record = RwFailureRecord::load(buffer.data());
  report(state, slot, ok, failText, &record);
}

void runErase(CliState& state, int slot) {
  PortPick p;
  if (!pickPort(state, slot, p)) return;
  DiskJob job = jobFor(p);
  RwFailureRecord record;
  TerminalGauge gauge("Port" + std::to_string(slot) + " erase");
  const bool ok = EraseAllData(job, &record, &gauge);
  report(state, slot, ok, "Erase All Data Fail", &record);
}

void runCopyImage(CliState& state, int slot, const std::string& file) {
  PortPick p;
  if (!pickPort(state, slot, p)) return;
  const std::string path = p.station->folder().resolve(file);
  if (!fileExists(path)) {
    state.op.showMessage("No image file " + path, "Refused", MessageIcon::Error);
    state.exitCode = 2;
    return;
  }
  DiskJob job = jobFor(p);
  bool ok = FlushGhostImg(job, path);
  // As the production step: two reads (or flushes) of the drive, then the boot-sector check.
  for (int i = 0; ok && i < 2; ++i) {
    if (p.station->transportState().transportPath() == TransportPath::UsbPath) {
      std::vector<std::uint8_t> buffer(kImageChunkBytes);
      p.device->readSectors(500, 128, buffer.data());
    } else {
      p.device->flushCache();
    }
  }
  ok = ok && CheckImgPattern(job);
  report(state, slot, ok, "Copy Image Fail", nullptr);
}

void runProbe(CliState& state, int slot) {
  PortPick p;
  if (!pickPort(state, slot, p)) return;
  DiskJob job = jobFor(p);
  std::vector<std::uint8_t> buffer(kRwBufferBytes);
  CapacityProbeOptions options;
  const PortContext& port = p.station->scanner().ports()[slot - 1];
  options.driveId = port.serialNumber.empty() ? port.usbSerial.str() : port.serialNumber.str();
  options.nonce = NewProbeNonce();
  const CapacityProbeResult r = CapacityProbe(job, options, buffer.data());
  const CapacityProbeRecord& c = r.record;
  nlohmann::json record = {{"kind", c.kind}, {"lba", c.lba}, {"found", c.found}, {"foundLba", c.foundLba},
                           {"estimateSectors", c.estimate}};
  report(state, slot, r.passed, "Capacity Probe Fail", c.describe(), record,
         {{"positions", r.positions}, {"bytesMoved", r.bytesMoved}});
}

// Answers the capture's file question with the command's argument.
class CaptureOperator : public Operator {
 public:
  CaptureOperator(Operator& inner, std::string file) : inner_(inner), file_(std::move(file)) {}
  void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
    inner_.showMessage(text, caption, icon);
  }
  std::optional<std::string> askText(const std::string&, const std::string&, const std::string&, bool) override {
    return file_;
  }
  std::optional<std::string> chooseFile(const std::string& f, const std::string& e, const std::string& s,
                                        bool save) override {
    return inner_.chooseFile(f, e, s, save);
  }

 private:
  Operator& inner_;
  std::string file_;
};

const CommandRegistration registration([](CLI::App& app, CliState& state) {
  auto slot = std::make_shared<int>(0);

  auto* format = app.add_subcommand("format", "Partition the drive and format it with FAT32 (the profile's DiskLabel)");
  format->add_option("PORT", *slot, "Slot number (1-based)")->required();
  format->callback([&state, slot] { runFormat(state, *slot); });

  auto* rw = app.add_subcommand("rwtest", "Read/write test of the drive with the address pattern");
  rw->add_option("PORT", *slot, "Slot number (1-based)")->required();
  auto quick = std::make_shared<bool>(false), full = std::make_shared<bool>(false);
  auto percent = std::make_shared<int>(-1);
  auto* q = rw->add_flag("--quick", *quick, "Sampled test of every k-th gigabyte");
  auto* pc = rw->add_option("--percent", *percent, "Write, then verify this share of the drive")
                 ->check(CLI::Range(0, 65535));
  auto* f = rw->add_flag("--full", *full, "Write, then verify the whole drive");
  q->excludes(pc)->excludes(f);
  pc->excludes(f);
  rw->callback([&state, slot, quick, full, percent] {
    if (!*quick && !*full && *percent < 0) {
      std::cerr << "rwtest: one of --quick, --percent N or --full is required" << std::endl;
      state.exitCode = 2;
      return;
    }
    runRwTest(state, *slot, *quick ? RwMode::Quick : *full ? RwMode::Full : RwMode::Percent, *percent);
  });

  auto* probe = app.add_subcommand(
      "probe", "Capacity and address probe: stamps across the drive read back after all are written; the data is put back");
  probe->add_option("PORT", *slot, "Slot number (1-based)")->required();
  probe->callback([&state, slot] { runProbe(state, *slot); });

  auto* erase = app.add_subcommand("erase", "Write 0xFF over the whole drive");
  erase->add_option("PORT", *slot, "Slot number (1-based)")->required();
  erase->callback([&state, slot] { runErase(state, *slot); });

  auto file = std::make_shared<std::string>();
  auto* copy = app.add_subcommand("copy-image", "Copy a plain or block image onto the drive, then check it");
  copy->add_option("PORT", *slot, "Slot number (1-based)")->required();
  copy->add_option("FILE", *file, "Image file")->required();
  copy->callback([&state, slot, file] { runCopyImage(state, *slot, *file); });

  auto* capture = app.add_subcommand("capture", "Capture an image of the first configured drive");
  capture->add_option("FILE", *file, "Image file to write")->required();
  capture->callback([&state, file] {
    auto s = startStation(state);
    if (!s) return;
    CaptureOperator op(state.op, *file);
    if (!s->captureImage(&op)) state.exitCode = 1;
  });
});

}  // namespace

}  // namespace qk::cli
