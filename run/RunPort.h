#pragma once
// One port's worker inside a run, shared by the batch START and continuous
// production: its thread, its stop, its time-out and how it is cut off.
#include <atomic>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "platform/Locks.h"
#include "run/PortContext.h"
#include "run/PortOperations.h"

namespace qk {

struct RunPort {
  int slot = 0;
  std::unique_ptr<PortOperations> ops;
  std::stop_source stop;
  std::atomic<bool> done{false};
  bool cutOff = false;            // guarded by the scan lock
  bool recording = false;         // guarded by the scan lock: the worker's verdict is being stored
  bool verdictPublished = false;  // guarded by the scan lock: the worker's verdict is on the record
  bool seen = false;              // its end was noticed by the wait
  std::int64_t deadline = 0;
  std::string path;               // the drive's node, whose commands the deadline bounds
  LocalTime startTime;            // when its worker started
  std::int64_t startMs = 0;
  int sequence = 0;               // in start order, from 1 (continuous production)
  std::unique_ptr<PathLock> nodeLock;  // a real drive, held while its worker runs
  std::jthread thread;
  std::jthread release;  // resets a timed-out port's drive; ends before `thread` is joined
};

// Cuts a running port off with `code` (the time-out, or a stop): its record
// gets the code and a failed verdict that is kept out of the yield, and its
// worker is told to leave. A timed-out port's drive is reset as well, so a
// command it never answers returns. Call under the scan lock, with the port's
// record of the live table.
void CutOffPort(RunPort& port, PortContext& record, int code, Clock& clock);
// What a cut-off gives a record: the code, a failed verdict, no yield event.
void CutOffRecord(PortContext& record, int code);

}  // namespace qk
