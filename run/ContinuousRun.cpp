// Continuous production: one scheduler (the caller's thread) watches the
// ports; each port starts its own worker as soon as a drive of the family is
// bound on it and ends it alone: log row, failure report, record, yield.
#include <algorithm>
#include <bitset>
#include <map>

#include "config/FlashSelection.h"
#include "platform/DebugOutput.h"
#include "platform/Wakeup.h"
#include "run/ResultCodes.h"
#include "run/RunEngine.h"
#include "run/RunLog.h"
#include "run/RunPort.h"

namespace qk {

namespace {

// How often the scheduler looks at the time-outs when nothing wakes it.
constexpr std::int64_t kSweepMs = 50;
constexpr std::int64_t kArrivalDelayMs = 1500;
constexpr std::int64_t kRemovalDelayMs = 200;

}  // namespace

RunOutcome RunEngine::startContinuous(const ContinuousOptions& options) {
  return begin(options.run, [&](const TestItemList& list, RunOutcome& out) { runContinuous(options, list, out); });
}

void RunEngine::runContinuous(const ContinuousOptions& co, const TestItemList& list, RunOutcome& out) {
  Scanner& sc = station_.scanner();
  Clock& clock = station_.clock();
  Operator& op = station_.op();
  ProfileSettings& s = station_.profile().settings;
  const RunOptions& options = co.run;
  if (options.mode == RunMode::TableTransfer) {
    refuse(out, "Continuous production runs the production steps; a table transfer takes one drive at a time.");
    return;
  }
  out.start = clock.localTime();
  const std::int64_t startMs = clock.nowMs();
  const int slots = std::min(sc.slotCount(), SlotLimit);
  // Fixed for the whole run: workers read it while others start and end.
  activeCount_ = std::max(1, slots);
  retryBudget_ = 5 * activeCount_;
  GetGlobalParameter(s, station_.profile().catalogue, {station_.files().familyText, station_.files().sataVersion},
                     station_.globalParameter());
  RunContext rc;
  if (!openRun(rc, options, out)) return;
  rc.rowsByDrive = true;

  // Every notice is a rescan of its own, due after its delay: a burst of
  // swaps on other ports never postpones the scan a drive waits for.
  Wakeup wakeup;
  std::mutex dueMutex;
  std::vector<std::int64_t> dues{clock.nowMs()};  // the first scan at once
  sc.setChangeHook([&](DeviceChange change) {
    {
      std::lock_guard lock(dueMutex);
      dues.push_back(clock.nowMs() +
                     clock.scaleTimeout(change == DeviceChange::Arrival ? kArrivalDelayMs : kRemovalDelayMs));
    }
    wakeup.notify();
  });
  // Armed only after the hook: a drive plugged meanwhile is seen by the first scan.
  if (co.armHotplug) station_.hotplug().start([&sc](DeviceChange c) { sc.onDeviceChange(c); });
  {
    std::lock_guard lock(wakeMutex_);
    wake_ = [&wakeup] { wakeup.notify(); };
  }
  sc.rescanTimer().stop();

  std::map<int, std::unique_ptr<RunPort>> running;
  int started = 0;
  int endedCount = 0;
  bool taking = true;
  bool cutAll = false;
  const std::int32_t timeoutMs = s.TimeOut;

  auto launch = [&](int slot) {
    PortContext record;
    std::string barcode, path;
    {
      std::lock_guard lock(sc.scanLock());
      barcode = sc.barcodeSerial(slot);
      path = sc.ports()[static_cast<std::size_t>(slot)].devicePath.str();
    }
    // A real drive is held while it runs: no other program drives it meanwhile.
    std::unique_ptr<PathLock> nodeLock;
    if (!station_.bench()) {
      nodeLock = PathLock::deviceNode(path);
      if (nodeLock->busy()) {
        debugPrintf("Port%d: %s is in use by another program; tried again at the next scan", slot + 1, path.c_str());
        return;
      }
    }
    std::vector<std::string> serials;
    if (!takeSerials(rc, 1, serials, out)) {
      taking = false;  // shown; nothing more is started
      return;
    }
    auto p = std::make_unique<RunPort>();
    p->slot = slot;
    p->nodeLock = std::move(nodeLock);
    p->sequence = ++started;
    p->startTime = clock.localTime();
    p->startMs = clock.nowMs();
    {
      std::lock_guard lock(sc.scanLock());
      PortContext& rec = sc.ports()[static_cast<std::size_t>(slot)];
      rec.serialNumber.assign(s.EnBarCode && !barcode.empty() ? barcode : serials.front());
      // A fresh drive's results start empty, whatever the slot showed before.
      rec.resultCode = rec.shownCode = rec.interfaceSubCode = 0;
      rec.failedUnit = rec.failedUnitCount = 0;
      rec.interfaceStatus = rec.temperature = 0;
      rec.yieldEvent = rec.formatted = 0;
      rec.stepStatus.fill(0);
      rec.badBlockTotals.fill(0);
      rec.badBlocksRead = false;
      record = rec;
    }
    p->ops = factory_(slot, record, station_.globalParameter(), p->stop.get_token());
    WorkerSetup setup = makeSetup(rc, options, list, slot, barcode);
    p->deadline = clock.nowMs() + clock.scaleTimeout(s.TimeOut);
    RunPort& port = *p;
    running[slot] = std::move(p);
    startWorker(port, rc, std::move(setup), record, [&port, &wakeup] {
      port.done = true;
      wakeup.notify();
    });
    out.ran = true;
  };

  // A drive's end: its row, its report, the counters, the serial queue.
  auto end = [&](RunPort& p) {
    p.thread.join();
    station_.transport().unlimitCommands(p.path);
    refreshSlots();
    const LocalTime endTime = clock.localTime();
    Profile copy;
    PortContext rec;
    {
      std::lock_guard lock(sc.scanLock());
      copy = station_.profile();
      rec = sc.ports()[static_cast<std::size_t>(p.slot)];
    }
    if (std::string error; !WriteYieldCounters(rc.logPath, copy.settings, &error)) {
      op.showMessage("The yield counters could not be saved: " + error, "Error", MessageIcon::Error);
    }
    if (!writeEnds(rc, list, {&p}, p.startTime, endTime, out)) taking = false;  // no drive runs unlogged
    std::vector<std::string> failedDownload;
    if (rec.stepStatus[6] == -1) failedDownload.push_back(rec.serialNumber.str());
    serials_.endRun(rc.policy, failedDownload);
    out.activeSlots.push_back(p.slot);
    out.end = endTime;
    if (!co.onDriveEnd) return;
    DriveEnd e = DriveEndOf(p.slot, rec);
    e.sequence = p.sequence;
    e.start = p.startTime;
    e.end = endTime;
    e.startMs = p.startMs;
    e.endMs = clock.nowMs();
    co.onDriveEnd(e);
  };

  for (;;) {
    const int stops = stopRequests_;
    if (stops >= 1) taking = false;
    if (stops >= 2) cutAll = true;

    // Ends first: a slot freed now may take the next drive in this pass.
    bool ended = false;
    for (auto it = running.begin(); it != running.end();) {
      if (!it->second->done) {
        ++it;
        continue;
      }
      end(*it->second);
      ++endedCount;
      it = running.erase(it);
      ended = true;
    }
    if (ended) {
      // A drive pulled while it ran was skipped by the scans of that time.
      std::lock_guard lock(dueMutex);
      dues.push_back(clock.nowMs());
    }

    // Time-outs and the second stop.
    const std::int64_t now = clock.nowMs();
    for (auto& [slot, pp] : running) {
      RunPort& p = *pp;
      std::unique_lock lock(sc.scanLock());
      if (p.verdictPublished || p.recording || p.cutOff) continue;
      if (cutAll) {
        cutOff(rc, p, kStoppedCode, lock);
        debugPrintf("Port%d: stopped by the operator", p.slot + 1);
      } else if (now >= p.deadline) {
        cutOff(rc, p, kTimeoutCode, lock);
        debugPrintf("Port%d: time-out after %d ms", p.slot + 1, timeoutMs);
      }
    }
    showUnrecorded(rc, out);
    observer_.elapsed(ElapsedText((clock.nowMs() - startMs) / 1000));
    if (co.onSweep) co.onSweep(static_cast<int>(running.size()), endedCount);
    if (!taking && running.empty()) break;

    // Rescans that are due, around the running ports.
    bool scanNow = false;
    std::int64_t nextDue = -1;
    {
      std::lock_guard lock(dueMutex);
      const std::int64_t at = clock.nowMs();
      scanNow = std::erase_if(dues, [at](std::int64_t due) { return due <= at; }) > 0;
      if (!dues.empty()) nextDue = *std::min_element(dues.begin(), dues.end());
    }
    if (scanNow && taking) {
      std::bitset<SlotLimit> busy;
      for (const auto& [slot, p] : running) busy.set(static_cast<std::size_t>(slot));
      sc.scanAround(busy);
      refreshSlots();
      // Every bound drive that has not run yet starts now, in slot order; one
      // that ran keeps its verdict until it is pulled.
      std::vector<int> ready;
      {
        std::lock_guard lock(sc.scanLock());
        for (int slot = 0; slot < slots; ++slot) {
          const PortContext& rec = sc.ports()[static_cast<std::size_t>(slot)];
          if (!busy[static_cast<std::size_t>(slot)] && rec.active && rec.stepStatus[25] == 0) ready.push_back(slot);
        }
      }
      for (int slot : ready) {
        if (taking && stopRequests_ == 0) launch(slot);
      }
      continue;  // the ends and stops of the meantime first
    }

    if (nextDue >= 0 && taking) {
      wakeup.waitUntil(clock, nextDue);
    } else {
      wakeup.waitReal(kSweepMs);
    }
  }

  sc.setChangeHook({});
  if (co.armHotplug) station_.hotplug().stop();
  {
    std::lock_guard lock(wakeMutex_);
    wake_ = nullptr;
  }
  showUnrecorded(rc, out);
  refreshSlots();
  if (std::string error; !WriteYieldCounters(rc.logPath, s, &error)) {
    op.showMessage("The yield counters could not be saved: " + error, "Error", MessageIcon::Error);
  }
  if (!out.ran) out.end = clock.localTime();
  observer_.elapsed(ElapsedText((clock.nowMs() - startMs) / 1000));
}

DriveEnd DriveEndOf(int slot, const PortContext& rec) {
  DriveEnd e;
  e.slot = slot;
  e.serialNumber = rec.serialNumber.str();
  e.devicePath = rec.devicePath.str();
  e.pass = rec.stepStatus[25] == 1;
  e.resultCode = rec.resultCode;
  e.shownCode = rec.shownCode;
  e.failureText = rec.resultCode == kStoppedCode ? kStoppedText : ResultCodeInfo(rec.resultCode).failureText;
  return e;
}

}  // namespace qk
