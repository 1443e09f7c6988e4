#pragma once
// Every wait and time reading of the station goes through a Clock, so the
// simulated bench can run fast and tests can run without sleeping.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>

namespace qk {

struct LocalTime {
  int year = 2000, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  int dayOfWeek = 6;  // 0 = Sunday
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic milliseconds since an arbitrary origin (the high-resolution counter).
  virtual std::int64_t nowMs() const = 0;
  // Waits ms milliseconds. Returns false when the stop token ended the wait early.
  virtual bool sleepFor(std::int64_t ms, std::stop_token stop = {}) = 0;
  virtual LocalTime localTime() const = 0;
  // Time-outs of device commands are real on real hardware; the bench scales them.
  virtual std::int64_t scaleTimeout(std::int64_t ms) const { return ms; }
};

// Real time: steady clock, real sleeps interrupted by the stop token.
class RealClock : public Clock {
 public:
  std::int64_t nowMs() const override;
  bool sleepFor(std::int64_t ms, std::stop_token stop = {}) override;
  LocalTime localTime() const override;
};

// Real time with every fixed wait multiplied by a factor (the bench's TimeScale).
// A factor of 0 skips fixed waits; time-outs then keep their full length.
class ScaledClock : public Clock {
 public:
  explicit ScaledClock(double factor) : factor_(factor) {}
  std::int64_t nowMs() const override;
  bool sleepFor(std::int64_t ms, std::stop_token stop = {}) override;
  LocalTime localTime() const override;
  std::int64_t scaleTimeout(std::int64_t ms) const override;
  double factor() const { return factor_; }

 private:
  double factor_;
  RealClock real_;
};

// Test clock: time only moves when someone sleeps or the test advances it, and
// a sleep returns at once. Threads sleep in parallel: each thread's time is the
// sum of its own sleeps plus the test's advances, and the clock shows the
// latest of them — fifty workers each waiting 20 s take 20 s, not 1000.
class VirtualClock : public Clock {
 public:
  std::int64_t nowMs() const override { return now_.load(); }
  bool sleepFor(std::int64_t ms, std::stop_token stop = {}) override;
  LocalTime localTime() const override;
  void advance(std::int64_t ms);
  void setLocalTime(const LocalTime& t);
  std::int64_t totalSlept() const { return slept_.load(); }

 private:
  std::atomic<std::int64_t> now_{0};
  std::atomic<std::int64_t> slept_{0};
  mutable std::mutex mutex_;
  std::int64_t advanced_ = 0;          // what advance() added, shared by all threads
  const std::uint64_t id_ = nextId();  // keys this clock's time in each thread
  static std::uint64_t nextId();
  LocalTime base_{2026, 12, 8, 8, 0, 0, 0, 2};
  std::int64_t baseAt_ = 0;  // virtual time at which base_ was set
};

}  // namespace qk
