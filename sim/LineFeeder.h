#pragma once
// The operator of a bench line with a [Feed]: plugs the first drives, and
// swaps each finished drive for a new one made from the next template, until
// the feed's number of drives has been plugged.
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Wakeup.h"
#include "sim/Bench.h"

namespace qk::sim {

class LineFeeder {
 public:
  // The bench must have a [Feed].
  explicit LineFeeder(Bench& bench);
  ~LineFeeder();
  LineFeeder(const LineFeeder&) = delete;
  LineFeeder& operator=(const LineFeeder&) = delete;

  int total() const { return feed_.drives; }
  int fed() const;

  // The first drives, one per template (in template order) on the port it
  // names while drives remain; a port already taken is skipped. The number plugged.
  int plugFirst();

  // Continuous production: the drive at `devicePath` has its verdict. It is
  // pulled now and the next drive goes into its port Swap ms later, on the
  // feeder's own thread.
  void finished(const std::string& devicePath);

  // Batch: the operator pulls every finished drive, and after Swap ms every
  // freed port has its next drive (while drives remain). On the caller's
  // thread. The number plugged.
  int swapAll(const std::vector<std::string>& devicePaths);

 private:
  struct Swap {
    std::int64_t due = 0;
    int hub = 0, port = 0;
  };
  // Pulls the drive at `devicePath`; false for a path that is not a drive.
  bool pull(const std::string& devicePath, int& hub, int& port);
  // The next drive of the feed, plugged at hub:port; false when the feed is done.
  bool plugNext(int hub, int port);
  void loop(std::stop_token stop);

  Bench& bench_;
  FeedSpec feed_;
  std::vector<DriveSpec> templates_;
  mutable std::mutex mutex_;
  int fed_ = 0;
  std::vector<Swap> swaps_;
  Wakeup wakeup_;
  std::jthread thread_;
};

}  // namespace qk::sim
