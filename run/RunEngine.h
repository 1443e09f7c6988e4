#pragma once
// START and the run: validates the profile, binds the drives, hands out
// serials, runs one worker per active port in parallel with a time-out each,
// then writes the run log and the failure reports, counts the yield and keeps
// the serial bookkeeping.
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Station.h"
#include "config/TestItemList.h"
#include "run/PortOperations.h"
#include "run/PortWorker.h"
#include "run/Serials.h"
#include "run/SlotView.h"
#include "run/TableTransfer.h"

namespace qk {

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

  const DetailBuffers& details(int slot) const { return *details_[static_cast<std::size_t>(slot)]; }
  SerialBook& serials() { return serials_; }
  // Open-retry budget of the FAT32 formatter: 5 x the active ports of the run.
  int formatRetryBudget() const { return retryBudget_; }

  // Stops a run under way from another thread: every worker still running is
  // cut off as failed with result and shown codes -1 (kept out of the yield)
  // and leaves at its next wait; the run then ends as usual.
  void stop() { stopRequested_ = true; }
  // The error dialog's lines for a slot: its result code and that code's record.
  std::vector<std::string> errorDialogLines(int slot) const;

 private:
  class Display;
  std::optional<std::string> validate(const RunOptions& options, bool& skipRun);
  void run(const RunOptions& options, const TestItemList& list, RunOutcome& out);
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
  std::atomic<bool> stopRequested_{false};
};

}  // namespace qk
