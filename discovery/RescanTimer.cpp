#include "discovery/RescanTimer.h"

namespace qk {

void RescanTimer::restart(std::int64_t delayMs) {
  std::lock_guard lock(mutex_);
  armed_ = true;
  deadline_ = clock_.nowMs() + clock_.scaleTimeout(delayMs);
}

void RescanTimer::stop() {
  std::lock_guard lock(mutex_);
  armed_ = false;
}

bool RescanTimer::armed() const {
  std::lock_guard lock(mutex_);
  return armed_;
}

bool RescanTimer::takeExpired() {
  std::lock_guard lock(mutex_);
  if (!armed_ || clock_.nowMs() < deadline_) return false;
  armed_ = false;
  return true;
}

}  // namespace qk
