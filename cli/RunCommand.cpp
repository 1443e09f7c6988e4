// run: START on the current profile, headless.
#include <unistd.h>

#include <atomic>
#include <csignal>

#include <cstdio>
#include <iostream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "cli/StationStart.h"
#include "config/IniFile.h"
#include "run/LineRun.h"
#include "run/ResultCodes.h"
#include "run/RunEngine.h"

namespace qk::cli {

namespace {

const char* colourCode(SlotColour c) {
  switch (c) {
    case SlotColour::Green:
      return "\033[30;42m";
    case SlotColour::Red:
      return "\033[37;41m";
    case SlotColour::Yellow:
      return "\033[30;43m";
    default:
      return "";
  }
}

// What the operator's screen shows, as a live table on a terminal or one line
// per event otherwise. Called from the workers' threads.
class CliObserver : public RunObserver {
 public:
  // live: a redrawn table on stderr; otherwise one line per event on `events`.
  CliObserver(bool live, std::ostream& events) : live_(live), events_(events) {}

  void panelText(int slot, const std::string& text) override {
    std::lock_guard lock(m_);
    rows_[slot].step = text;
    if (!live_) events_ << "Port" << slot + 1 << ": " << text << std::endl;
    redraw();
  }
  void gauge(int slot, int percent) override {
    std::lock_guard lock(m_);
    rows_[slot].gauge = percent;
    redraw();
  }
  void serialText(int slot, const std::string& serial) override {
    std::lock_guard lock(m_);
    rows_[slot].serial = serial;
  }
  void secondGauge(int slot, bool visible, int percent, std::uint8_t r, std::uint8_t, std::uint8_t) override {
    std::lock_guard lock(m_);
    rows_[slot].second = visible ? percent : -1;
    rows_[slot].writing = r != 0;
    redraw();
  }
  void slots(const std::vector<SlotView>& views) override {
    std::lock_guard lock(m_);
    for (std::size_t i = 0; i < views.size(); ++i) {
      if (!views[i].visible) continue;
      Row& r = rows_[static_cast<int>(i)];
      r.colour = views[i].colour;
      if (views[i].panelText && r.colour != SlotColour::Yellow) r.verdict = *views[i].panelText;
    }
    redraw();
  }
  void elapsed(const std::string& text) override {
    if (tick) tick();
    std::lock_guard lock(m_);
    elapsed_ = text;
    redraw();
  }
  std::function<void()> tick;  // on every sweep of the run's wait, on the run's thread

  void finish() {
    std::lock_guard lock(m_);
    force_ = true;
    redraw();
  }

 private:
  struct Row {
    std::string serial, step, verdict;
    int gauge = 0, second = -1;
    bool writing = false;
    SlotColour colour = SlotColour::Yellow;
  };

  void redraw() {
    if (!live_) return;
    // At most ten frames a second: fifty ports must not flood the terminal.
    const auto now = std::chrono::steady_clock::now();
    if (!force_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    std::ostringstream out;
    if (drawn_ > 0) out << "\033[" << drawn_ << "A";
    int lines = 0;
    for (const auto& [slot, r] : rows_) {
      char head[64];
      std::snprintf(head, sizeof head, "Port%-3d %-20.20s %3d%% ", slot + 1, r.serial.c_str(), r.gauge);
      out << "\033[2K" << head;
      if (r.second >= 0) out << (r.writing ? "write " : "verify ") << r.second << "% ";
      const std::string& shown = r.verdict.empty() ? r.step : r.verdict;
      out << colourCode(r.colour) << " " << shown << " \033[0m\n";
      ++lines;
    }
    // The run's own text is empty under a second; the table always shows a time.
    out << "\033[2KElapsed: " << (elapsed_.empty() ? "0 Sec" : elapsed_) << "\n";
    ++lines;
    drawn_ = lines;
    std::cerr << out.str() << std::flush;
  }

  std::mutex m_;
  bool live_;
  std::ostream& events_;
  bool force_ = false;
  std::map<int, Row> rows_;
  std::string elapsed_;
  int drawn_ = 0;
  std::chrono::steady_clock::time_point last_{};
};

std::string timeText(const LocalTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
  return buf;
}

// Ctrl-C, SIGTERM or SIGHUP: the first stops the run as the window's stop
// does (the run's wait notices it on its next sweep); a second ends the
// process at once. In continuous production the first stops taking drives,
// the second stops the running ports, and only a third ends the process.
// Lock-free, so safe in a handler that may run on any of the run's threads.
std::atomic<int> signalsSeen{0};
std::atomic<int> signalsToEnd{2};

void onStopSignal(int sig) {
  if (signalsSeen.fetch_add(1) + 1 < signalsToEnd) return;
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void catchStopSignals() {
  struct sigaction sa {};
  sa.sa_handler = onStopSignal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

struct RunArgs {
  std::optional<int> mask;
  std::string items;
  std::vector<std::string> sets;  // Section.Key=Value
  bool claimNew = false;
  bool close = false;
  bool autoquit = false;
  bool continuous = false;
  std::optional<double> forSeconds;
  bool batchFeed = false;
};

struct KeyOverride {
  std::string section, key, value;
};

std::optional<KeyOverride> parseOverride(const std::string& text) {
  const auto eq = text.find('=');
  const auto dot = text.find('.');
  if (eq == std::string::npos || dot == std::string::npos || dot == 0 || dot + 1 >= eq) return std::nullopt;
  KeyOverride o{text.substr(0, dot), text.substr(dot + 1, eq - dot - 1), text.substr(eq + 1)};
  for (const char* section : {"Setting", "TestItems", "DeviceSetting", "FlashSetting", "FwSetting", "RDSetting"}) {
    if (toLower(o.section) == toLower(section)) return o;
  }
  return std::nullopt;
}

// Settings that live only while the program runs (the file never holds them):
// set on the loaded profile directly.
bool setRuntimeKey(ProfileSettings& s, const KeyOverride& o) {
  const std::string key = toLower(o.key);
  const std::pair<const char*, std::int32_t*> numbers[] = {
      {"idemacapacity", &s.IDEMACapacity}, {"rwtestpercentage", &s.RWTestPercentage}, {"lbacapacity", &s.LBACapacity}};
  for (const auto& [name, field] : numbers) {
    if (key == name) {
      *field = static_cast<std::int32_t>(parseIntAuto(o.value));
      return true;
    }
  }
  const std::pair<const char*, std::string*> texts[] = {{"vendorid", &s.VendorID},     {"productid", &s.ProductID},
                                                         {"vendorname", &s.VendorName}, {"productname", &s.ProductName},
                                                         {"manufstr", &s.ManufStr},     {"prodstr", &s.ProdStr}};
  for (const auto& [name, field] : texts) {
    if (key == name) {
      *field = o.value;
      return true;
    }
  }
  return false;
}

// Profile keys changed for one run. Keys of the file: the station loads a
// copy of the profile that carries them, and afterwards the profile gets back
// what it held for them (except the serial number: the run hands serials out
// from it, so the advanced one stays). Keys the file never holds are set on
// the loaded settings.
class RunOverrides {
 public:
  explicit RunOverrides(CliState& state) : state_(state) {}
  ~RunOverrides() {
    if (!copy_.empty()) std::remove(copy_.c_str());
  }

  // False (message on stderr) when a text is not Section.Key=Value or the copy cannot be written.
  bool prepare(const std::vector<std::string>& texts) {
    for (const auto& t : texts) {
      auto o = parseOverride(t);
      if (!o) {
        std::cerr << "run: --set takes Section.Key=Value with a profile section, not '" << t << "'" << std::endl;
        return false;
      }
      ProfileSettings probe;
      (setRuntimeKey(probe, *o) ? runtime_ : overrides_).push_back(*o);
    }
    if (overrides_.empty()) return true;
    profile_ = state_.profilePath();
    before_ = IniFile::load(profile_);
    IniFile copy = before_;
    for (const auto& o : overrides_) copy.setString(o.section, o.key, o.value);
    copy_ = profile_ + ".run" + std::to_string(::getpid());
    if (!copy.save(copy_)) {
      std::cerr << "run: cannot write " << copy_ << std::endl;
      copy_.clear();
      return false;
    }
    state_.profile = copy_;
    return true;
  }

  // The station saves into the real profile, never into the copy, and holds
  // the real one against other stations. False (message shown) when another holds it.
  bool started(Station& station) {
    for (const auto& o : runtime_) setRuntimeKey(station.profile().settings, o);
    if (copy_.empty()) return true;
    std::remove(copy_.c_str());
    copy_.clear();
    if (!station.holdRecords(profile_, station.profile().logPath)) return false;
    station.profile().iniFilePath = profile_;
    return true;
  }

  void restore() {
    if (overrides_.empty() || profile_.empty()) return;
    IniFile now = IniFile::load(profile_);
    bool changed = false;
    for (const auto& o : overrides_) {
      if (toLower(o.section) == "devicesetting" && toLower(o.key) == "serialnum") continue;
      if (before_.hasKey(o.section, o.key)) {
        now.setString(o.section, o.key, before_.getString(o.section, o.key, ""));
      } else {
        now.eraseKey(o.section, o.key);
      }
      changed = true;
    }
    if (changed && !now.save(profile_)) std::cerr << "run: the profile's keys could not be put back" << std::endl;
  }

 private:
  CliState& state_;
  std::vector<KeyOverride> overrides_, runtime_;
  std::string profile_, copy_;
  IniFile before_;
};

nlohmann::json driveJson(const DriveEnd& e) {
  return {{"slot", e.slot + 1},          {"serialNumber", e.serialNumber}, {"verdict", e.pass ? "Pass" : "Fail"},
          {"resultCode", e.resultCode}, {"shownCode", e.shownCode},       {"failureText", e.failureText},
          {"startTime", timeText(e.start)}, {"endTime", timeText(e.end)}};
}

// Continuous production, or the bench's feed through batch STARTs: one line
// per finished drive as it finishes, then the line's summary.
int lineCommand(CliState& state, const RunArgs& args, Station& station, const RunOptions& options) {
  std::unique_ptr<sim::LineFeeder> feeder;
  if (station.bench() && station.bench()->config().feed.drives > 0) {
    feeder = std::make_unique<sim::LineFeeder>(*station.bench());
  }
  if (args.batchFeed && !feeder) {
    std::cerr << "run: --batch-feed needs a bench with a [Feed] section" << std::endl;
    return 2;
  }
  const bool live = !state.json && isatty(STDERR_FILENO);
  CliObserver observer(live, state.json ? std::cerr : std::cout);
  RunEngine engine(station, observer);
  LineRun line(station, engine, feeder.get());
  bool allPassed = true;
  auto onEnd = [&](const DriveEnd& e) {
    allPassed = allPassed && e.pass;
    if (state.json) {
      std::cout << driveJson(e).dump(-1, ' ', false, kJsonReplace) << std::endl;
    } else {
      std::cout << "Port" << e.slot + 1 << ": " << e.serialNumber << " " << (e.pass ? "Pass" : "Fail") << " "
                << (e.pass ? "" : e.failureText) << std::endl;
    }
  };
  int handled = 0;
  auto onSweep = [&](int, int) {
    for (; handled < signalsSeen; ++handled) {
      std::cerr << (handled == 0 ? "run: no more drives are taken; running ports finish (a second signal stops them)"
                                 : "run: stopping the running ports")
                << std::endl;
      engine.stop();
    }
  };
  LineSummary summary;
  if (args.batchFeed) {
    observer.tick = [&] {
      if (signalsSeen > handled) {
        handled = signalsSeen;
        engine.stop();
      }
    };
    summary = line.batch(options, onEnd);
  } else {
    signalsToEnd = 3;
    ContinuousOptions co;
    co.run = options;
    co.onDriveEnd = onEnd;
    co.onSweep = onSweep;
    co.armHotplug = true;
    summary = line.continuous(co, args.forSeconds);
  }
  observer.finish();
  const RunOutcome& out = line.outcome();
  if (state.json) {
    nlohmann::json j{{"drives", summary.drives},
                     {"pass", summary.pass},
                     {"elapsedSeconds", summary.elapsedSeconds},
                     {"drivesPerHour", summary.drivesPerHour}};
    std::cout << j.dump() << std::endl;
  } else {
    std::cout << "Drives " << summary.drives << ", pass " << summary.pass << ", " << summary.elapsedSeconds
              << " s, " << summary.drivesPerHour << " drives/hour" << std::endl;
  }
  if (out.refusal || out.startDisabled) return 2;
  return allPassed && summary.drives > 0 ? 0 : 1;
}

int runCommand(CliState& state, const RunArgs& args) {
  catchStopSignals();
  RunOverrides overrides(state);
  if (!overrides.prepare(args.sets)) return 2;
  auto station = startStation(state);
  if (!station) return state.exitCode;
  if (!overrides.started(*station)) return 1;
  if (signalsSeen) {
    std::cerr << "run: stopped before START" << std::endl;
    return 1;
  }
  RunOptions options;
  options.mask = args.mask;
  options.mode = args.claimNew ? RunMode::ClaimNew : RunMode::Production;
  options.rebuildClose = args.close;
  std::stringstream items(args.items);
  for (std::string n; std::getline(items, n, ',');) {
    if (n.empty()) continue;
    char* end = nullptr;
    long v = std::strtol(n.c_str(), &end, 10);
    if (*end || v < 1 || v > kTestItemCount) {
      std::cerr << "run: --items takes test item numbers 1.." << kTestItemCount << ", not '" << n << "'" << std::endl;
      return 2;
    }
    options.extraItems.push_back(static_cast<int>(v));
  }
  if (args.continuous || args.batchFeed) {
    const int code = lineCommand(state, args, *station, options);
    overrides.restore();
    return code;
  }
  const bool live = !state.json && isatty(STDERR_FILENO);
  // With --json, stdout carries only the result object.
  CliObserver observer(live, state.json ? std::cerr : std::cout);
  RunEngine engine(*station, observer);
  bool stopping = false;
  observer.tick = [&engine, &stopping] {
    if (!signalsSeen || stopping) return;
    stopping = true;
    std::cerr << "run: stopping; the log, reports and counters are written (a second signal ends at once)"
              << std::endl;
    engine.stop();
  };
  RunOutcome out = engine.start(options);
  observer.finish();
  overrides.restore();
  if (out.mixedPaths) {
    std::cerr << "run: drives on the controller's USB interface and behind bridges are attached together; "
                 "this run used the "
              << (station->transportState().transportPath() == TransportPath::UsbPath ? "USB" : "SATA")
              << " path for all of them" << std::endl;
  }

  Scanner& sc = station->scanner();
  bool allPassed = out.ran;
  nlohmann::json ports = nlohmann::json::array();
  for (int slot : out.activeSlots) {
    PortContext rec;
    {
      std::lock_guard lock(sc.scanLock());
      rec = sc.ports()[static_cast<std::size_t>(slot)];
    }
    const bool passed = rec.stepStatus[25] == 1;
    allPassed = allPassed && passed;
    const ResultCodeRow& row = ResultCodeInfo(rec.shownCode);
    ports.push_back({{"slot", slot + 1},
                     {"serialNumber", rec.serialNumber.str()},
                     {"verdict", passed ? "Pass" : "Fail"},
                     {"resultCode", rec.resultCode},
                     {"shownCode", rec.shownCode},
                     {"shortCode", row.shortCode},
                     {"failureText", ResultCodeInfo(rec.resultCode).failureText},
                     {"slotText", VerdictText(rec)},
                     {"stepStatus", std::vector<std::int32_t>(rec.stepStatus.begin(), rec.stepStatus.end())},
                     {"temperature", rec.temperature}});
    if (!state.json && !live) std::cout << "Port" << slot + 1 << ": " << (passed ? "Pass" : VerdictText(rec)) << "\n";
  }
  const ProfileSettings& s = station->profile().settings;
  if (state.json) {
    nlohmann::json j;
    j["refused"] = out.refusal ? nlohmann::json(*out.refusal) : nlohmann::json(nullptr);
    j["startTime"] = out.ran ? timeText(out.start) : "";
    j["endTime"] = out.ran ? timeText(out.end) : "";
    j["logFile"] = out.logFile;
    j["reportFiles"] = out.reportFiles;
    j["pass"] = s.NumberOfPass;
    j["total"] = s.TotalTestCount;
    j["ports"] = ports;
    std::cout << j.dump(2, ' ', false, kJsonReplace) << std::endl;
  } else if (out.ran) {
    std::cout << "Yield " << YieldText(s) << (out.logFile.empty() ? "" : ", log " + out.logFile) << std::endl;
  }
  if (out.refusal || out.startDisabled) return 2;
  return allPassed ? 0 : 1;
}

const CommandRegistration reg([](CLI::App& app, CliState& state) {
  auto* run = app.add_subcommand("run", "Press START: run the profile on every active drive");
  auto args = std::make_shared<RunArgs>();
  run->add_option("--mask", args->mask, "Check test-list items 0..7 by the bits of N (as the command line does)");
  run->add_option("--items", args->items, "Also enable test items by number, e.g. 12,16,20");
  run->add_option("--set", args->sets,
                  "Profile key for this run only, e.g. --set DeviceSetting.RWTestPercentage=5 (repeatable)");
  run->add_flag("--claim-new", args->claimNew, "Rebuild bad-block marks from the defect table");
  run->add_flag("--close", args->close, "With --claim-new: a failed rebuild does not fail the drive");
  run->add_flag("--autoquit", args->autoquit, "End after the run (always so on the command line)");
  auto* continuous = run->add_flag("--continuous", args->continuous,
                                   "Continuous production: each port runs the next drive as soon as it is plugged");
  run->add_option("--for", args->forSeconds, "With --continuous: stop taking drives after SECONDS")
      ->needs(continuous)
      ->check(CLI::PositiveNumber);
  run->add_flag("--batch-feed", args->batchFeed, "Run the bench's [Feed] through batch STARTs")->excludes(continuous);
  run->callback([&state, args] { state.exitCode = runCommand(state, *args); });
});

}  // namespace

}  // namespace qk::cli
