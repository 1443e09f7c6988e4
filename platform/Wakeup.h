#pragma once
// Wakes one waiting thread when something happened elsewhere (a worker
// ended, a device came or went, a stop). A notice that comes while the
// waiter is busy is kept: its next wait returns at once, so none is lost.
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>

#include "platform/Clock.h"

namespace qk {

// The factor a clock applies to fixed waits (its readings are never scaled):
// 1 for real time and test clocks, the bench's TimeScale on the bench.
inline double FixedWaitFactor(const Clock& clock) {
  constexpr std::int64_t kProbe = 1 << 20;
  return static_cast<double>(clock.scaleTimeout(kProbe)) / kProbe;
}

class Wakeup {
 public:
  void notify() {
    std::lock_guard lock(mutex_);
    ++notices_;
    source_.request_stop();
    cv_.notify_all();
  }

  // Up to `ms` of real time, or until a notice.
  void waitReal(std::int64_t ms) {
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return notices_ != seen_; });
    consume();
  }

  // Until the clock reads `deadline` (its own milliseconds), or until a notice.
  // A test clock moves there without sleeping.
  void waitUntil(Clock& clock, std::int64_t deadline) {
    const std::int64_t left = deadline - clock.nowMs();
    std::stop_token token;
    {
      std::lock_guard lock(mutex_);
      if (notices_ != seen_ || left <= 0) {
        consume();
        return;
      }
      token = source_.get_token();
    }
    // The clock's fixed waits are scaled; its readings are not.
    const double factor = FixedWaitFactor(clock);
    clock.sleepFor(factor > 0 ? static_cast<std::int64_t>(std::ceil(left / factor)) : left, token);
    std::lock_guard lock(mutex_);
    consume();
  }

 private:
  void consume() {
    seen_ = notices_;
    if (source_.stop_requested()) source_ = std::stop_source();
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::uint64_t notices_ = 0, seen_ = 0;
  std::stop_source source_;
};

}  // namespace qk
