#pragma once
// A bounded wait for something another thread does. It never sleeps; the
// deadline only turns a hang into a test failure instead of a stuck suite.
#include <chrono>
#include <thread>

namespace qk::test {

constexpr std::chrono::seconds kWaitLimit{60};

// True once `done` holds; false if it still does not after `limit`.
template <typename Pred>
bool waitUntil(Pred&& done, std::chrono::steady_clock::duration limit = kWaitLimit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

}  // namespace qk::test
