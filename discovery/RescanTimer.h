#pragma once
// The delayed rescan after device-change notifications: each notification
// restarts the delay, so a burst of them leads to one scan after the last.
#include <cstdint>
#include <mutex>

#include "platform/Clock.h"

namespace qk {

class RescanTimer {
 public:
  static constexpr std::int64_t ArrivalDelayMs = 1500;
  static constexpr std::int64_t RemovalDelayMs = 200;

  explicit RescanTimer(Clock& clock) : clock_(clock) {}
  // (Re)starts the timer; the bench's time factor shortens the delay.
  void restart(std::int64_t delayMs);
  void stop();
  bool armed() const;
  // True once when the delay has passed; the timer is then stopped.
  bool takeExpired();

 private:
  Clock& clock_;
  mutable std::mutex mutex_;
  bool armed_ = false;
  std::int64_t deadline_ = 0;
};

}  // namespace qk
