#pragma once
// A production line fed over time: continuous production or repeated batch
// STARTs on the same feed, and what the line made of it (drives per hour).
#include <functional>
#include <optional>
#include <vector>

#include "run/RunEngine.h"
#include "sim/LineFeeder.h"

namespace qk {

struct LineSummary {
  int drives = 0;
  int pass = 0;
  int ports = 0;                // slots of the station
  double elapsedSeconds = 0;    // of the modelled line (the bench's time factor undone)
  double drivesPerHour = 0;
  double driveSeconds = 0;      // the drives' own run times, summed
  // What no mode can beat: every port busy all the time, the drives' run
  // times shared over the ports.
  double boundDrivesPerHour = 0;
};

class LineRun {
 public:
  // `feeder` may be null (no [Feed]): the line then runs on what is plugged.
  LineRun(Station& station, RunEngine& engine, sim::LineFeeder* feeder);

  // Continuous production until the feed is done, `forSeconds` (of the
  // modelled line) have passed, or the engine is stopped.
  LineSummary continuous(ContinuousOptions options, std::optional<double> forSeconds = std::nullopt);
  // The same feed through batch STARTs: the operator swaps every finished
  // drive after each run and presses START again once the station sees them.
  LineSummary batch(const RunOptions& options, const std::function<void(const DriveEnd&)>& onDriveEnd = {});

  // The last run's outcome (of the last START in batch).
  const RunOutcome& outcome() const { return outcome_; }

 private:
  LineSummary summary(const std::vector<DriveEnd>& ends, std::int64_t elapsedMs) const;

  Station& station_;
  RunEngine& engine_;
  sim::LineFeeder* feeder_;
  RunOutcome outcome_;
};

}  // namespace qk
