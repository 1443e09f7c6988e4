#include "run/LineRun.h"

#include "discovery/RescanTimer.h"
#include "platform/Wakeup.h"

namespace qk {

LineRun::LineRun(Station& station, RunEngine& engine, sim::LineFeeder* feeder)
    : station_(station), engine_(engine), feeder_(feeder) {}

LineSummary LineRun::summary(const std::vector<DriveEnd>& ends, std::int64_t elapsedMs) const {
  const double factor = FixedWaitFactor(station_.clock());
  const double scale = factor > 0 ? factor : 1.0;
  LineSummary s;
  s.drives = static_cast<int>(ends.size());
  s.ports = std::min(station_.scanner().slotCount(), SlotLimit);
  for (const auto& e : ends) {
    s.pass += e.pass ? 1 : 0;
    s.driveSeconds += static_cast<double>(e.endMs - e.startMs) / 1000.0 / scale;
  }
  s.elapsedSeconds = static_cast<double>(elapsedMs) / 1000.0 / scale;
  if (s.elapsedSeconds > 0) s.drivesPerHour = s.drives * 3600.0 / s.elapsedSeconds;
  if (s.driveSeconds > 0 && s.ports > 0) s.boundDrivesPerHour = s.drives * 3600.0 / (s.driveSeconds / s.ports);
  return s;
}

LineSummary LineRun::continuous(ContinuousOptions options, std::optional<double> forSeconds) {
  Clock& clock = station_.clock();
  std::vector<DriveEnd> ends;
  const std::int64_t startMs = clock.nowMs();
  const double factor = FixedWaitFactor(clock);
  bool stopped = false;
  auto drained = [&] {
    if (stopped) return;
    stopped = true;
    engine_.stop();
  };
  auto onEnd = std::move(options.onDriveEnd);
  options.onDriveEnd = [&](const DriveEnd& e) {
    ends.push_back(e);
    if (onEnd) onEnd(e);
    if (!feeder_) return;
    feeder_->finished(e.devicePath);
    if (static_cast<int>(ends.size()) >= feeder_->total()) drained();
  };
  auto onSweep = std::move(options.onSweep);
  options.onSweep = [&](int runningPorts, int endedDrives) {
    if (onSweep) onSweep(runningPorts, endedDrives);
    const double limitMs = forSeconds ? *forSeconds * 1000.0 * (factor > 0 ? factor : 1.0) : -1;
    if (forSeconds && static_cast<double>(clock.nowMs() - startMs) >= limitMs) drained();
  };
  if (feeder_) feeder_->plugFirst();
  outcome_ = engine_.startContinuous(options);
  return summary(ends, clock.nowMs() - startMs);
}

LineSummary LineRun::batch(const RunOptions& options, const std::function<void(const DriveEnd&)>& onDriveEnd) {
  Clock& clock = station_.clock();
  Scanner& sc = station_.scanner();
  std::vector<DriveEnd> ends;
  const std::int64_t startMs = clock.nowMs();
  if (feeder_) {
    feeder_->plugFirst();
    // START is pressed once the station has seen the drives.
    clock.sleepFor(RescanTimer::ArrivalDelayMs);
  }
  for (;;) {
    const std::int64_t runStart = clock.nowMs();
    outcome_ = engine_.start(options);
    if (!outcome_.ran) break;
    const std::int64_t runEnd = clock.nowMs();
    std::vector<std::string> finished;
    for (int slot : outcome_.activeSlots) {
      PortContext rec;
      {
        std::lock_guard lock(sc.scanLock());
        rec = sc.ports()[static_cast<std::size_t>(slot)];
      }
      DriveEnd e = DriveEndOf(slot, rec);
      e.start = outcome_.start;
      e.end = outcome_.end;
      e.startMs = runStart;
      e.endMs = runEnd;
      ends.push_back(e);
      finished.push_back(e.devicePath);
      if (onDriveEnd) onDriveEnd(e);
    }
    if (!feeder_ || engine_.stopRequests() > 0 || static_cast<int>(ends.size()) >= feeder_->total()) break;
    if (feeder_->swapAll(finished) == 0) break;
    clock.sleepFor(RescanTimer::ArrivalDelayMs);
  }
  return summary(ends, clock.nowMs() - startMs);
}

}  // namespace qk
