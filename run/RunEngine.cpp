#include "run/RunEngine.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "config/FlashSelection.h"
#include "platform/DebugOutput.h"
#include "records/DriveEnd.h"
#include "run/ResultCodes.h"
#include "run/RunLog.h"
#include "run/RunPort.h"
#include "run/StationOperations.h"
#include "transport/BridgeCode.h"

namespace qk {

namespace {

constexpr int kCapacityGB[] = {0, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024};
constexpr std::int64_t kSweepMs = 50;
// How long a device reset has to free a timed-out port before its USB port is reset.
constexpr std::int64_t kUsbResetAfterMs = 2000;
constexpr std::int64_t kCommandGraceMs = 1000;
// How long a timed-out port's worker has to come back by itself (its command's
// time-out, then the system's abort) before its drive is reset.
constexpr std::int64_t kResetAfterMs = kCommandGraceMs + 3000;

std::int64_t fileKiB(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return -1;
  return (static_cast<std::int64_t>(st.st_size) + 1023) / 1024;
}

ReportFlash reportFlash(const GlobalParameter& gp, const ProfileSettings& s) {
  ReportFlash f;
  f.ceCount = gp.CECount;
  f.channel = gp.Channel;
  f.halfDieBlocks = gp.geometry.HalfDieBlocks;
  f.profileChannel = s.Channel;
  f.profileBank = s.Bank;
  f.expectedId = gp.FlashExtra;
  f.pageSectors = gp.geometry.PageSectors;
  return f;
}

}  // namespace

void CutOffRecord(PortContext& rec, int code) {
  rec.resultCode = rec.shownCode = code;
  rec.stepStatus[25] = -1;
  rec.yieldEvent = 0;  // a port cut off stays out of the yield count
}

void CutOffPort(RunPort& p, PortContext& rec, int code, Clock& clock) {
  p.cutOff = true;
  CutOffRecord(rec, code);
  p.stop.request_stop();
  if (code != kTimeoutCode) return;
  // The worker may sit in a command the drive never answers. Its time-out
  // ends a moment after the deadline (the transport's limit); a worker still
  // not back then gets its drive reset.
  p.release = std::jthread([&p, &clock](std::stop_token st) {
    const int slot = p.slot + 1;
    auto stillBusy = [&](std::int64_t ms) {
      for (std::int64_t waited = 0; waited < ms && !p.done; waited += kSweepMs) {
        if (!clock.sleepFor(kSweepMs, st)) return false;
      }
      return !p.done.load();
    };
    // On Linux a device reset waits for the blocked command: issued while
    // the system aborts that command, it only holds the run.
    if (!stillBusy(kResetAfterMs)) return;
    // It may wait all the same: a thread of its own, and the port reset comes regardless.
    std::jthread device([&p, slot] {
      const bool issued = p.ops->resetDrive(PassThrough::ResetLevel::Device);
      debugPrintf("Port%d: device reset %s", slot, issued ? "done" : "not available");
    });
    if (!stillBusy(kUsbResetAfterMs)) return;
    const bool usb = p.ops->resetDrive(PassThrough::ResetLevel::UsbPort);
    debugPrintf("Port%d: USB port reset %s", slot, usb ? "issued" : "not available");
  });
}

// The workers' view of the slots: texts and gauges go to the observer, the
// shared refresh goes through the engine.
class RunEngine::Display : public PortDisplay {
 public:
  explicit Display(RunEngine& engine) : engine_(engine) {}
  void panelText(int slot, const std::string& text) override { engine_.observer_.panelText(slot, text); }
  void panelColour(int slot, SlotColour c) override { engine_.observer_.panelColour(slot, c); }
  void gauge(int slot, int percent) override { engine_.observer_.gauge(slot, percent); }
  void serialText(int slot, const std::string& s) override { engine_.observer_.serialText(slot, s); }
  void secondGauge(int slot, bool visible, int percent, std::uint8_t r, std::uint8_t g, std::uint8_t b) override {
    engine_.observer_.secondGauge(slot, visible, percent, r, g, b);
  }
  void refresh() override { engine_.refreshSlots(); }

 private:
  RunEngine& engine_;
};

RunEngine::RunEngine(Station& station, OperationsFactory factory, RunObserver& observer)
    : station_(station),
      factory_(std::move(factory)),
      observer_(observer),
      display_(std::make_unique<Display>(*this)),
      serials_(station.profile().settings.SerialNum) {
  for (auto& d : details_) d = std::make_unique<DetailBuffers>();
}

RunEngine::RunEngine(Station& station, RunObserver& observer) : RunEngine(station, nullptr, observer) {
  factory_ = [this](int slot, const PortContext&, const GlobalParameter&, std::stop_token stop) {
    ControllerContext& context = station_.controller(slot);
    return std::make_unique<StationOperations>(station_, slot, context, *display_, activeCount_, std::move(stop));
  };
}

RunEngine::~RunEngine() = default;

void RunEngine::refreshSlots() {
  Scanner& sc = station_.scanner();
  std::vector<SlotView> views;
  {
    std::lock_guard lock(sc.scanLock());
    views = RefreshSlots(sc.ports(), sc.slotCount(), station_.profile().settings);
  }
  observer_.slots(views);
}

std::optional<std::string> RunEngine::validate(const RunOptions& options, bool& skipRun) {
  ProfileSettings& s = station_.profile().settings;
  const auto& t = s.TestItemEnabled;
  station_.checkFirmwareFiles();
  const FirmwareSelection& fw = station_.firmware();

  if (s.Capacity > 0) {
    const GlobalParameter& gp = station_.globalParameter();
    const int want = s.Capacity <= 10 ? kCapacityGB[s.Capacity] : -1;
    if (want != gp.CapacityGB) {
      Scanner& sc = station_.scanner();
      std::lock_guard lock(sc.scanLock());
      const auto items = TestItemList::FromProfile(s).texts();
      for (auto& rec : sc.ports()) {
        if (!rec.configured) continue;
        for (int n = 1; n <= kTestItemCount; ++n) {
          for (const auto& item : items) {
            if (item == kTestItemNames[static_cast<std::size_t>(n)]) rec.stepStatus[static_cast<std::size_t>(n)] = 0;
          }
        }
        rec.stepStatus[25] = 0;
      }
      return "Please make sure the Flash parameter selection!";
    }
  }
  if (!s.SpecialMode && s.Bank != 1 && s.Bank != 2 && s.Bank != 4 && s.Bank != 8) {
    return "Please check total bank's number, only support 1, 2, 4 and 8 bank";
  }
  const bool sata = (s.DownloadType & 1) != 0, usb = (s.DownloadType & 2) != 0;
  if (sata && !fileExists(fw.sata.path)) return "<WARNING> Can't find file : " + fw.sata.path;
  // A damaged image would be written to the drives as it is.
  for (const FirmwareImageCheck* image : {&fw.sata, &fw.usb}) {
    if (image->selected && image->corrupt && !s.SpecialMode)
      return "The " + image->path + " is a corrupt file, please check it.";
  }
  if (auto bad = UnusableFlashGeometry(station_.globalParameter().geometry)) {
    return "The flash type " + s.FlashUniName + " of " + s.ExtFlashFile + " gives " + *bad +
           ", please check the flash file.";
  }
  if (sata && usb && s.SNMinLength < 12) {
    return "When mptool download SATA and USB codes to flash simultaneously, the length of SN is'nt less than 12";
  }
  if (options.mode != RunMode::Production) return std::nullopt;

  bool any = false;
  for (int n = 1; n <= kTestItemCount; ++n) any = any || t[static_cast<std::size_t>(n)];
  if (!any) {
    skipRun = true;
    return std::nullopt;
  }
  if (t[6] || t[8]) {
    if (!sata && !usb) return "At lease one bin file needed!";
    GlobalParameter& gp = station_.globalParameter();
    gp.TableFiles.clear();
    gp.TableFileSizesKiB.clear();
    if (sata) gp.TableFiles.push_back(fw.sata.path);
    if (usb) gp.TableFiles.push_back(fw.usb.path);
    if (sata && usb && gp.geometry.BlockPage <= 64) {
      return "The Block Page number of flash is too small, then MP can't download SATA and USB codes simultaneously";
    }
    for (const auto& path : gp.TableFiles) {
      std::int64_t kib = fileKiB(path);
      if (kib < 0) {
        station_.op().showMessage("Can't open: " + path);
        skipRun = true;
        return std::nullopt;
      }
      gp.TableFileSizesKiB.push_back(static_cast<std::uint32_t>(kib));
    }
  }
  return std::nullopt;
}

std::vector<std::string> RunEngine::errorDialogLines(int slot) const {
  if (slot < 0 || slot >= SlotLimit) return {};
  Scanner& sc = station_.scanner();
  int code = 0;
  {
    std::lock_guard lock(sc.scanLock());
    code = sc.ports()[static_cast<std::size_t>(slot)].resultCode;
  }
  // A code without a record of its own (a stopped port's -1) still gets its text.
  const auto& buffers = *details_[static_cast<std::size_t>(slot)];
  const auto& record = buffers[code >= 0 && code < kDetailBufferCount ? static_cast<std::size_t>(code) : 0];
  return ErrorDialogLines(code, record, reportFlash(station_.globalParameter(), station_.profile().settings));
}

void RunEngine::stop() {
  ++stopRequests_;
  std::lock_guard lock(wakeMutex_);
  if (wake_) wake_();
}

RunOutcome RunEngine::start(const RunOptions& options) {
  return begin(options, [&](const TestItemList& list, RunOutcome& out) { run(options, list, out); });
}

RunOutcome RunEngine::begin(const RunOptions& options,
                            const std::function<void(const TestItemList&, RunOutcome&)>& body) {
  RunOutcome out;
  stopRequests_ = 0;
  Scanner& sc = station_.scanner();
  ProfileSettings& s = station_.profile().settings;
  sc.setRunning(true);

  // The pages into the profile, as START copies them.
  TestItemList list = TestItemList::FromProfile(s);
  if (options.mask) list.applyMask(*options.mask);
  list.applyTo(s);
  for (int n : options.extraItems) {
    if (n >= 1 && n <= kTestItemCount) s.TestItemEnabled[static_cast<std::size_t>(n)] = 1;
  }
  ApplyPagesRoundTrip(s, &station_.op());
  list = TestItemList::FromProfile(s);

  bool skipRun = false;
  out.refusal = validate(options, skipRun);
  if (out.refusal) {
    station_.op().showMessage(*out.refusal);
    sc.setRunning(false);
    return out;
  }
  if (!skipRun) {
    body(list, out);
    if (!out.refusal) {
      std::string error;
      if (!SaveProfile(station_.profile().iniFilePath, station_.profile(), station_.folder(), &error)) {
        station_.op().showMessage("The profile could not be saved: " + error, "Error", MessageIcon::Error);
      }
      // What the pages show follows the serial actually stored.
      s.SerialNum = station_.profile().serialFloor->guard(s.SerialNum);
    }
  }
  sc.setRunning(false);
  return out;
}

void RunEngine::refuse(RunOutcome& out, const std::string& message) {
  station_.op().showMessage(message, "Error", MessageIcon::Error);
  out.refusal = message;
}

void RunEngine::run(const RunOptions& options, const TestItemList& list, RunOutcome& out) {
  Scanner& sc = station_.scanner();
  Clock& clock = station_.clock();
  Operator& op = station_.op();
  ProfileSettings& s = station_.profile().settings;

  if (sc.prepareRun() == 0) {
    op.showMessage("Please Make sure the Connection devices Number!");
    out.startDisabled = true;
    return;
  }
  out.start = clock.localTime();
  const std::int64_t startMs = clock.nowMs();
  std::vector<int> active;
  for (int i = 0; i < std::min(sc.slotCount(), SlotLimit); ++i) {
    if (sc.ports()[static_cast<std::size_t>(i)].active) active.push_back(i);
  }
  if (active.empty() || (s.ConnectDevNum != 0 && s.ConnectDevNum != static_cast<int>(active.size()))) {
    op.showMessage("Please Make sure the Connection devices Number!!");
    out.startDisabled = true;
    return;
  }
  out.activeSlots = active;
  {
    bool native = false, bridged = false;
    for (int slot : active) {
      const auto code = sc.ports()[static_cast<std::size_t>(slot)].bridgeCode;
      (code == kBridgeNativeUsb ? native : bridged) = true;
    }
    out.mixedPaths = native && bridged;
    if (out.mixedPaths) debugPrintf("both transport paths among the active drives; the run uses one for all");
  }
  activeCount_ = static_cast<int>(active.size());
  retryBudget_ = 5 * activeCount_;
  GlobalParameter& gp = station_.globalParameter();
  GetGlobalParameter(s, station_.profile().catalogue, {station_.files().familyText, station_.files().sataVersion}, gp);

  // Real drives are held for the whole run: no other process drives them meanwhile.
  std::vector<std::unique_ptr<PathLock>> nodeLocks;
  if (!station_.bench()) {
    for (int slot : active) {
      const std::string path = sc.ports()[static_cast<std::size_t>(slot)].devicePath.str();
      auto lock = PathLock::deviceNode(path);
      if (lock->busy()) {
        refuse(out, "The drive " + path + " of Port" + std::to_string(slot + 1) + " is in use by another program.");
        return;
      }
      nodeLocks.push_back(std::move(lock));
    }
  }

  if (options.mode == RunMode::TableTransfer) {
    // The file named in the page's edit for the chosen transfer.
    const std::string* file = nullptr;
    switch (options.transfer) {
      case TableTransferKind::GetDefect: file = &s.TableIn; break;
      case TableTransferKind::PutDefect: file = &s.TableOut; break;
      case TableTransferKind::GetLater: file = &s.LaterTableIn; break;
      case TableTransferKind::PutLater: file = &s.LaterTableOut; break;
    }
    if (options.transferFile) file = &*options.transferFile;
    out.transfer = RunTableTransfer(station_, options.transfer, station_.folder().resolve(*file), {});
    return;
  }

  RunContext rc;
  if (!openRun(rc, options, out)) return;
  const bool claimNew = rc.claimNew;
  const std::string& logPath = rc.logPath;
  std::vector<std::string> barcodes;
  {
    std::lock_guard lock(sc.scanLock());
    for (int slot : active) barcodes.push_back(sc.barcodeSerial(slot));
  }
  std::vector<std::string> serials;
  if (!takeSerials(rc, active.size(), serials, out)) return;
  {
    std::lock_guard lock(sc.scanLock());
    for (std::size_t k = 0; k < active.size(); ++k) {
      PortContext& rec = sc.ports()[static_cast<std::size_t>(active[k])];
      rec.serialNumber.assign(s.EnBarCode && !barcodes[k].empty() ? barcodes[k] : serials[k]);
    }
  }

  // One worker per active port, all started together.
  std::vector<std::unique_ptr<RunPort>> ports;
  for (std::size_t k = 0; k < active.size(); ++k) {
    auto p = std::make_unique<RunPort>();
    p->slot = active[k];
    PortContext record = sc.ports()[static_cast<std::size_t>(p->slot)];
    p->ops = factory_(p->slot, record, gp, p->stop.get_token());
    ports.push_back(std::move(p));
  }
  // Every setup is taken before the first worker runs: workers change the
  // yield counters of the profile through the slot refresh.
  std::vector<WorkerSetup> setups;
  std::vector<PortContext> records;
  for (std::size_t k = 0; k < ports.size(); ++k) {
    RunPort& p = *ports[k];
    setups.push_back(makeSetup(rc, options, list, p.slot, barcodes[k]));
    records.push_back(sc.ports()[static_cast<std::size_t>(p.slot)]);
    p.deadline = clock.nowMs() + clock.scaleTimeout(s.TimeOut);
  }
  const std::int32_t timeoutMs = s.TimeOut;
  std::mutex endedMutex;
  std::condition_variable ended;
  for (std::size_t k = 0; k < ports.size(); ++k) {
    startWorker(*ports[k], rc, std::move(setups[k]), records[k], [&ended, &endedMutex, &p = *ports[k]] {
      {
        std::lock_guard lock(endedMutex);
        p.done = true;
      }
      ended.notify_all();
    });
  }
  out.ran = true;

  // Wait for every worker; a port past its time-out is cut off at once.
  for (;;) {
    bool running = false;
    const std::int64_t now = clock.nowMs();
    const bool stopAll = stopRequests_ > 0;
    for (auto& pp : ports) {
      RunPort& p = *pp;
      if (p.done) continue;
      running = true;
      std::unique_lock lock(sc.scanLock());
      // A worker whose verdict is out (or on its way) is only finishing: its result stands.
      if (p.verdictPublished || p.recording) continue;
      if (stopAll && !p.cutOff) {
        cutOff(rc, p, kStoppedCode, lock);
        debugPrintf("Port%d: stopped by the operator", p.slot + 1);
      }
      if (!p.cutOff && now >= p.deadline) {
        cutOff(rc, p, kTimeoutCode, lock);
        debugPrintf("Port%d: time-out after %d ms", p.slot + 1, timeoutMs);
      }
    }
    observer_.elapsed(ElapsedText((clock.nowMs() - startMs) / 1000));
    if (!running) break;
    // Woken by a worker's end; the station's time itself is only read here,
    // never advanced, so time-outs follow the clock the drives run on.
    std::unique_lock lock(endedMutex);
    ended.wait_for(lock, std::chrono::milliseconds(kSweepMs), [&] {
      for (auto& pp : ports) {
        if (pp->done && !pp->seen) return true;
      }
      return false;
    });
    for (auto& pp : ports) pp->seen = pp->done;
  }
  for (auto& p : ports) p->thread.join();  // the run ends only when every worker has left
  for (auto& p : ports) station_.transport().unlimitCommands(p->path);
  showUnrecorded(rc, out);

  // The ends are counted into the yield before the log, so its rows continue.
  refreshSlots();
  if (std::string error; !WriteYieldCounters(logPath, s, &error)) {
    op.showMessage("The yield counters could not be saved: " + error, "Error", MessageIcon::Error);
  }
  out.end = clock.localTime();

  std::vector<RunPort*> endedPorts;
  for (auto& pp : ports) endedPorts.push_back(pp.get());
  const bool logged = writeEnds(rc, list, endedPorts, out.start, out.end, out);
  showUnrecorded(rc, out);
  if (!logged) return;
  observer_.elapsed(ElapsedText((clock.nowMs() - startMs) / 1000));
  refreshSlots();

  // Serial reuse: failed downloads' serials go to the front of the queue.
  std::vector<std::string> failedDownloads;
  for (int slot : active) {
    const PortContext& rec = sc.ports()[static_cast<std::size_t>(slot)];
    if (rec.stepStatus[6] == -1) failedDownloads.push_back(rec.serialNumber.str());
  }
  serials_.endRun(rc.policy, failedDownloads);

  if (claimNew && options.rebuildClose && sc.ports()[static_cast<std::size_t>(active.front())].stepStatus[25] == 1) {
    op.showMessage("Rebuild O.K., Close the AP");
    out.closeRequested = true;
  }
}

bool RunEngine::openRun(RunContext& rc, const RunOptions& options, RunOutcome& out) {
  ProfileSettings& s = station_.profile().settings;
  // Every drive that ends leaves a record: no drive starts without a store for it.
  std::string recordError;
  rc.store = station_.openRecords(&recordError);
  if (!rc.store) {
    refuse(out, "The drive records cannot be stored, no drive was started: " + recordError);
    return false;
  }
  rc.records = RunRecordContext(station_, out.start);
  rc.claimNew = options.mode == RunMode::ClaimNew;
  rc.policy = SerialPolicy{s.SNAutoInc != 0, s.SNDecimal != 0, s.SNErrReuse != 0,
                           !rc.claimNew && s.TestItemEnabled[6] != 0};
  // The run's records stay in the folder it started with.
  rc.logPath = station_.profile().logPath;
  rc.familyCode = FirmwareFamilyCode(station_.files().familyText);
  return true;
}

// Before the verdict reaches the slot table where it is counted.
void RunEngine::recordEnd(RunContext& rc, int slot, const PortContext& rec) {
  std::string error;
  DriveRecord written;
  const bool ok = RecordDriveEnd(*rc.store, rc.records, slot, rec, station_.clock().localTime(), &error, &written);
  if (!ok) debugPrintf("Port%d: record not stored: %s", slot + 1, error.c_str());
  std::lock_guard lock(rc.recordMutex);
  if (ok) {
    rc.recorded[slot] = std::move(written);
  } else {
    rc.recorded.erase(slot);
    rc.unrecorded.push_back("Port" + std::to_string(slot + 1) + ": " + error);
  }
}

void RunEngine::cutOff(RunContext& rc, RunPort& p, int code, std::unique_lock<NamedLock>& lock) {
  Scanner& sc = station_.scanner();
  // The worker publishes nothing more from here on; its end is stored, then shown.
  PortContext rec = sc.ports()[static_cast<std::size_t>(p.slot)];
  CutOffPort(p, rec, code, station_.clock());
  lock.unlock();
  recordEnd(rc, p.slot, rec);
  lock.lock();
  CutOffRecord(sc.ports()[static_cast<std::size_t>(p.slot)], code);
}

void RunEngine::showUnrecorded(RunContext& rc, RunOutcome& out) {
  std::vector<std::string> lines;
  {
    std::lock_guard lock(rc.recordMutex);
    lines.swap(rc.unrecorded);
  }
  if (lines.empty()) return;
  std::string text = "The records of these drives could not be stored:";
  for (const auto& line : lines) text += "\n" + line;
  station_.op().showMessage(text, "Error", MessageIcon::Error);
  out.recordsFailed = true;
}

bool RunEngine::takeSerials(RunContext& rc, std::size_t count, std::vector<std::string>& serials, RunOutcome& out) {
  Scanner& sc = station_.scanner();
  Profile& profile = station_.profile();
  ProfileSettings& s = profile.settings;
  const SerialPolicy& policy = rc.policy;
  SerialFloor& floor = *profile.serialFloor;
  // Whatever the pages held, the book never goes back to a serial already handed out.
  serials_.setNext(floor.guard(s.SerialNum));
  const SerialBook before = serials_;
  std::string runsOut;
  // Called inside the line database's transaction: it takes no lock of the
  // station's, so no worker holding the port table can wait on the database.
  auto take = [&](const std::string& next) {
    serials_ = before;
    serials_.setNext(next);
    serials.clear();
    runsOut = serials_.runsOut(static_cast<int>(count), policy, floor.issuedSerials());
    if (!runsOut.empty()) return next;
    for (std::size_t k = 0; k < count; ++k) serials.push_back(serials_.take(policy));
    return serials_.next();
  };
  // On a line the database hands out the serials: no two stations take the same one.
  std::string error;
  if (rc.store->lineSerials() && policy.autoIncrement && policy.advance) {
    if (!rc.store->takeSerials(floor.guard(s.SerialNum), take, &error)) {
      serials_ = before;
      refuse(out, "The serial numbers cannot be taken from the line database, no drive was started: " + error);
      return false;
    }
  } else {
    take(before.next());
  }
  if (!runsOut.empty()) {
    serials_ = before;
    refuse(out, runsOut);
    return false;
  }
  // The advanced serial and the counters are stored before any drive carries
  // a serial: a station that cannot store them hands nothing out. Stored from
  // a copy: running ports count their ends into the profile meanwhile.
  s.SerialNum = serials_.next();
  Profile copy;
  {
    std::lock_guard lock(sc.scanLock());
    copy = profile;
  }
  if (!WriteYieldCounters(rc.logPath, copy.settings, &error) ||
      !SaveProfile(copy.iniFilePath, copy, station_.folder(), &error)) {
    serials_ = before;
    s.SerialNum = before.next();
    refuse(out, "The serial numbers cannot be stored, no drive was started: " + error);
    return false;
  }
  if (policy.autoIncrement && policy.advance) {
    for (std::size_t k = 0; k < serials.size(); ++k) {
      if (k >= before.queued() || !policy.reuseFailed) floor.issued(serials[k]);
    }
    floor.advanceTo(serials_.next());
  }
  return true;
}

WorkerSetup RunEngine::makeSetup(const RunContext& rc, const RunOptions& options, const TestItemList& list, int slot,
                                 const std::string& barcode) {
  const ProfileSettings& s = station_.profile().settings;
  WorkerSetup setup;
  setup.slot = slot;
  setup.claimNew = rc.claimNew;
  setup.rebuildClose = options.rebuildClose;
  setup.eraseSearch = s.EnEraseReBuildBad != 0;
  setup.laterBad = s.EnLaterBad != 0;
  setup.repairUsed = options.repairUsed;
  setup.checkedItems = list.checkedCount();
  {
    // Running ports count their ends into the profile's counters.
    std::lock_guard lock(station_.scanner().scanLock());
    setup.profile = s;
  }
  setup.parameters = station_.globalParameter();  // each port its own copy
  setup.path = station_.transportState().transportPath();
  setup.logPath = rc.logPath;
  setup.firmwareFamily = rc.familyCode;
  setup.barcodeSerial = barcode;
  return setup;
}

void RunEngine::startWorker(RunPort& p, RunContext& rc, WorkerSetup setup, const PortContext& record,
                            std::function<void()> ended) {
  Scanner& sc = station_.scanner();
  auto publish = [this, &p, &sc, &rc](const PortContext& rec, const DetailBuffers* details) {
    if (rec.stepStatus[25] != 0) {
      bool first = false;
      {
        std::lock_guard lock(sc.scanLock());
        if (p.cutOff) return;  // a cut-off port's record is final
        // From here on the wait leaves this port alone: its verdict is on its way.
        first = !p.recording;
        p.recording = true;
      }
      if (first) recordEnd(rc, p.slot, rec);
    }
    std::lock_guard lock(sc.scanLock());
    if (p.cutOff) return;
    sc.ports()[static_cast<std::size_t>(p.slot)] = rec;
    if (rec.stepStatus[25] != 0 && !p.verdictPublished) {
      p.verdictPublished = true;
      // Its verdict stands: what the worker still sends the drive is no longer bounded by the port's time-out.
      station_.transport().unlimitCommands(p.path);
    }
    if (details) *details_[static_cast<std::size_t>(p.slot)] = *details;
  };
  // The drive's commands end a moment after the port's time-out, once its
  // record is cut off, and none follows: a hung drive cannot hold the run.
  p.path = record.devicePath.str();
  station_.transport().limitCommands(p.path, p.deadline + kCommandGraceMs);
  p.thread = std::jthread([this, &p, setup = std::move(setup), record, publish, ended = std::move(ended)]() mutable {
    PortWorker worker(std::move(setup), record, *p.ops, *display_, station_.clock(), publish, p.stop.get_token());
    worker.run();
    ended();
  });
}

bool RunEngine::writeEnds(RunContext& rc, const TestItemList& list, const std::vector<RunPort*>& ports,
                          const LocalTime& start, const LocalTime& end, RunOutcome& out) {
  Scanner& sc = station_.scanner();
  const ProfileSettings& s = station_.profile().settings;
  RunLogInput log;
  log.start = start;
  log.end = end;
  log.testItems = list.texts();
  // The probe's column only where it ran: logs of runs without it keep their shape.
  if (!s.TestItemEnabled[kCapacityProbeItem]) std::erase(log.testItems, kTestItemNames[kCapacityProbeItem]);
  if (!rc.rowsByDrive) {
    std::lock_guard lock(sc.scanLock());
    log.totalTestCount = s.TotalTestCount;
  }
  log.rowsWritten = ReadLogRowCount(rc.logPath);
  log.freeBlockFields = s.TestItemEnabled[6] && s.EnDumpFreeBlockInfo &&
                        station_.transportState().transportPath() == TransportPath::SataPath;
  std::vector<std::uint8_t> work(65536);
  for (RunPort* pp : ports) {
    PortContext rec;
    {
      std::lock_guard lock(sc.scanLock());
      rec = sc.ports()[static_cast<std::size_t>(pp->slot)];
    }
    RunLogPort lp;
    lp.slot = pp->slot;
    lp.serialNumber = rec.serialNumber.str();
    lp.stepStatus = rec.stepStatus;
    if (log.freeBlockFields && !pp->cutOff) {
      std::fill(work.begin(), work.end(), 0);
      pp->ops->leaveLoaderMode(work);
      if (pp->ops->readSmartData(work)) lp.freeBlocks = FreeBlockFields(work);
    }
    log.ports.push_back(std::move(lp));
  }
  LogFileChoice& logFile = station_.logFile();
  std::int64_t lastRow = 0;
  if (!AppendRunLog(logFile, log, &lastRow)) {
    station_.op().showMessage("Fail to open/create log file!", "Error", MessageIcon::Error);
    out.logFailed = true;
    return false;
  }
  if (!WriteLogRowCount(rc.logPath, lastRow)) {
    debugPrintf("the run log's row count could not be kept in %s", rc.logPath.c_str());
  }
  out.logFile = logFile.name;

  // Failure reports of the flash interface test, the pre-format and the capacity probe.
  const ReportFlash flash = reportFlash(station_.globalParameter(), s);
  struct WrittenReport {
    int slot, shownCode;
    std::string path;
  };
  std::vector<WrittenReport> written;
  std::unique_lock lock(sc.scanLock());
  for (RunPort* pp : ports) {
    PortContext& rec = sc.ports()[static_cast<std::size_t>(pp->slot)];
    if (rec.resultCode != 3 && rec.resultCode != 5 && rec.resultCode != kCapacityProbeCode) continue;
    const auto& record = (*details_[static_cast<std::size_t>(pp->slot)])[static_cast<std::size_t>(rec.resultCode)];
    auto lines = rec.resultCode == 3   ? FlashInterfaceReport(record, flash, &rec)
                 : rec.resultCode == 5 ? StepReport(record, flash, &rec)
                                       : ErrorDialogLines(rec.resultCode, record, flash);
    std::string path = WriteFailureReport(rc.logPath, end, pp->slot, rec.serialNumber.str(), ReportText(lines));
    if (!path.empty()) {
      out.reportFiles.push_back(path);
      written.push_back({pp->slot, rec.shownCode, path});
    }
  }
  lock.unlock();
  // The drives' records learn where their reports are, and the code the slots now show.
  std::lock_guard recordLock(rc.recordMutex);
  for (const auto& w : written) {
    auto r = rc.recorded.find(w.slot);
    if (r == rc.recorded.end()) continue;  // already reported as not stored
    std::string error;
    if (!RecordFailureReport(*rc.store, r->second, w.path, w.shownCode, &error)) {
      debugPrintf("Port%d: failure report not recorded: %s", w.slot + 1, error.c_str());
      rc.unrecorded.push_back("Port" + std::to_string(w.slot + 1) + ": " + error);
    }
  }
  for (RunPort* pp : ports) rc.recorded.erase(pp->slot);
  return true;
}

}  // namespace qk
