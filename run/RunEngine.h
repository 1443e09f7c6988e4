#pragma once
// START and the run: validates the profile, binds the drives, hands out
// serials, runs one worker per active port in parallel with a time-out each,
// then writes the run log and the failure reports, counts the yield and keeps
// the serial bookkeeping.
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/Station.h"
#include "config/TestItemList.h"
#include "records/DriveEnd.h"
#include "run/PortOperations.h"
#include "run/PortWorker.h"
#include "run/Serials.h"
#include "run/SlotView.h"
#include "run/TableTransfer.h"

namespace qk {

struct RunPort;

enum class RunMode { Production, TableTransfer, ClaimNew };

struct RunOptions {
  RunMode mode = RunMode::Production;
  TableTransferKind transfer = TableTransferKind::GetDefect;  // table-transfer mode: which one
  std::optional<std::string> transferFile;  // table-transfer mode: this file instead of the page's edit
  bool rebuildClose = false;        // "Close AP after Rebuild"
  bool repairUsed = false;          // the pre-format repair box
  std::optional<int> mask;          // the command-line mask on the test-item list
  std::vector<int> extraItems;      // steps enabled by number, 12..23 included
};

struct RunOutcome {
  std::optional<std::string> refusal;  // START refused with this message
  bool startDisabled = false;          // the connected-device check refused: START stays off until a rescan
  bool ran = false;                    // workers ran
  bool closeRequested = false;         // "Rebuild O.K., Close the AP"
  bool mixedPaths = false;             // active drives of both transport paths (one path serves the run)
  std::optional<TableTransferOutcome> transfer;  // the table-transfer mode's outcome
  LocalTime start, end;
  std::string logFile;
  bool logFailed = false;
  bool recordsFailed = false;  // a drive's record could not be stored (shown)
  std::vector<std::string> reportFiles;
  std::vector<int> activeSlots;
};

// One drive that ended in continuous production, as its log row was written.
struct DriveEnd {
  int slot = 0;      // 0-based
  int sequence = 0;  // 1 for the first drive the run started, then in start order
  std::string serialNumber;
  std::string devicePath;
  bool pass = false;
  int resultCode = 0, shownCode = 0;
  std::string failureText;
  LocalTime start, end;
  std::int64_t startMs = 0, endMs = 0;  // station clock
};

// What a drive's record says of its end; times and sequence are the caller's.
DriveEnd DriveEndOf(int slot, const PortContext& record);

struct ContinuousOptions {
  RunOptions run;
  // Called on the run's thread after each drive's row is written.
  std::function<void(const DriveEnd&)> onDriveEnd;
  // Called on the run's thread after each of its sweeps (a front end's
  // tick), with the number of ports running and of drives ended so far.
  std::function<void(int running, int ended)> onSweep;
  // The front end has no device-change notification armed: the run arms it
  // for its own span.
  bool armHotplug = false;
};

// What the run shows while it goes: the workers' slot texts and gauges, the
// slot refreshes and the elapsed time. Called from worker threads too.
class RunObserver : public PortDisplay {
 public:
  void panelText(int, const std::string&) override {}
  void panelColour(int, SlotColour) override {}
  void gauge(int, int) override {}
  void serialText(int, const std::string&) override {}
  void refresh() override {}
  virtual void slots(const std::vector<SlotView>&) {}
  virtual void elapsed(const std::string&) {}
};

// The operations of one port for one run; `stop` ends their waits when the port is cut off.
using OperationsFactory = std::function<std::unique_ptr<PortOperations>(
    int slot, const PortContext& record, const GlobalParameter& gp, std::stop_token stop)>;

class RunEngine {
 public:
  RunEngine(Station& station, OperationsFactory factory, RunObserver& observer);
  // The station's own operations: the controller protocol and the disk operations.
  RunEngine(Station& station, RunObserver& observer);
  ~RunEngine();

  // The START button.
  RunOutcome start(const RunOptions& options);
  // Continuous production: every port starts its own worker as soon as a
  // drive of the family is bound on it, and takes the next drive once the
  // finished one is pulled; runs until stopped. Each drive's log row,
  // failure report, record and yield are written at its end.
  RunOutcome startContinuous(const ContinuousOptions& options);

  const DetailBuffers& details(int slot) const { return *details_[static_cast<std::size_t>(slot)]; }
  SerialBook& serials() { return serials_; }
  // Open-retry budget of the FAT32 formatter: 5 x the active ports of the run.
  int formatRetryBudget() const { return retryBudget_; }

  // Stops a run under way from another thread: every worker still running is
  // cut off as failed with result and shown codes -1 (kept out of the yield)
  // and leaves at its next wait; the run then ends as usual. In continuous
  // production the first request only stops taking drives and lets the
  // running ports finish; the second cuts them off.
  void stop();
  int stopRequests() const { return stopRequests_; }
  // The error dialog's lines for a slot: its result code and that code's record.
  std::vector<std::string> errorDialogLines(int slot) const;

 private:
  class Display;
  std::optional<std::string> validate(const RunOptions& options, bool& skipRun);
  void run(const RunOptions& options, const TestItemList& list, RunOutcome& out);
  // What every drive of one production run shares.
  struct RunContext {
    RecordStore* store = nullptr;
    RecordContext records;
    SerialPolicy policy;
    std::string logPath;
    bool claimNew = false;
    int familyCode = 0;
    // Rows are written one drive at a time while others end: they number on
    // from the last row written, not from the counter, which may hold ends
    // whose rows are still to come.
    bool rowsByDrive = false;
    std::mutex recordMutex;
    std::vector<std::string> unrecorded;  // guarded by recordMutex
    // The record of each port's drive as last stored, until its failure report is added; guarded by recordMutex.
    std::map<int, DriveRecord> recorded;
  };
  RunOutcome begin(const RunOptions& options, const std::function<void(const TestItemList&, RunOutcome&)>& body);
  void runContinuous(const ContinuousOptions& options, const TestItemList& list, RunOutcome& out);
  bool openRun(RunContext& rc, const RunOptions& options, RunOutcome& out);
  // Outside the scan lock: the display and the other ports go on while the store writes.
  void recordEnd(RunContext& rc, int slot, const PortContext& rec);
  // Cuts a running port off with `code` and stores its end, then shows it on
  // the live slot. `lock` holds the scan lock; it is let go while the store writes.
  void cutOff(RunContext& rc, RunPort& p, int code, std::unique_lock<NamedLock>& lock);
  void showUnrecorded(RunContext& rc, RunOutcome& out);
  // `count` serials for ports about to start; the advanced serial and the
  // counters are stored first. False (refused, shown) when they cannot be.
  bool takeSerials(RunContext& rc, std::size_t count, std::vector<std::string>& serials, RunOutcome& out);
  WorkerSetup makeSetup(const RunContext& rc, const RunOptions& options, const TestItemList& list, int slot,
                        const std::string& barcode);
  void startWorker(RunPort& port, RunContext& rc, WorkerSetup setup, const PortContext& record,
                   std::function<void()> ended);
  // The run-log rows and failure reports of ended ports. False when the log
  // could not be written (shown).
  bool writeEnds(RunContext& rc, const TestItemList& list, const std::vector<RunPort*>& ports,
                 const LocalTime& start, const LocalTime& end, RunOutcome& out);
  void refreshSlots();
  // A refusal found once the drives are bound: shown, and no worker starts.
  void refuse(RunOutcome& out, const std::string& message);

  Station& station_;
  OperationsFactory factory_;
  RunObserver& observer_;
  std::unique_ptr<Display> display_;
  SerialBook serials_;
  std::array<std::unique_ptr<DetailBuffers>, SlotLimit> details_;
  int retryBudget_ = 0;
  int activeCount_ = 0;
  std::atomic<int> stopRequests_{0};
  std::function<void()> wake_;  // guarded by wakeMutex_: tells a continuous run of a stop
  std::mutex wakeMutex_;
};

}  // namespace qk
