#include "platform/Clock.h"

#include <ctime>
#include <sys/time.h>

#include <unordered_map>

namespace qk {

namespace {

LocalTime fromTimeval(const timeval& tv) {
  std::tm tm{};
  localtime_r(&tv.tv_sec, &tm);
  LocalTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.millisecond = static_cast<int>(tv.tv_usec / 1000);
  t.dayOfWeek = tm.tm_wday;
  return t;
}

}  // namespace

std::int64_t RealClock::nowMs() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool RealClock::sleepFor(std::int64_t ms, std::stop_token stop) {
  if (stop.stop_requested()) return false;
  if (ms <= 0) return true;
  std::mutex m;
  std::condition_variable_any cv;
  std::unique_lock lock(m);
  // wait_for with a stop token wakes early when a stop is requested.
  cv.wait_for(lock, stop, std::chrono::milliseconds(ms), [] { return false; });
  return !stop.stop_requested();
}

LocalTime RealClock::localTime() const {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  return fromTimeval(tv);
}

std::int64_t ScaledClock::nowMs() const { return real_.nowMs(); }

bool ScaledClock::sleepFor(std::int64_t ms, std::stop_token stop) {
  if (stop.stop_requested()) return false;
  auto scaled = static_cast<std::int64_t>(static_cast<double>(ms) * factor_);
  return real_.sleepFor(scaled, stop);
}

LocalTime ScaledClock::localTime() const { return real_.localTime(); }

std::int64_t ScaledClock::scaleTimeout(std::int64_t ms) const {
  if (factor_ <= 0.0) return ms;
  auto scaled = static_cast<std::int64_t>(static_cast<double>(ms) * factor_);
  return scaled < 1 ? 1 : scaled;
}

bool VirtualClock::sleepFor(std::int64_t ms, std::stop_token stop) {
  if (stop.stop_requested()) return false;
  if (ms > 0) {
    // Each thread's own sleeps, kept in the thread (a new thread starts afresh
    // even when the system hands it an old thread's id); its time is those
    // plus what advance() added.
    thread_local std::unordered_map<std::uint64_t, std::int64_t> own;
    std::lock_guard lock(mutex_);
    std::int64_t& mine = own[id_];
    mine += ms;
    if (mine + advanced_ > now_.load()) now_ = mine + advanced_;
    slept_ += ms;
  }
  return !stop.stop_requested();
}

void VirtualClock::advance(std::int64_t ms) {
  std::lock_guard lock(mutex_);
  now_ += ms;
  advanced_ += ms;  // everyone's time moves with an explicit advance
}

std::uint64_t VirtualClock::nextId() {
  static std::atomic<std::uint64_t> next{1};
  return next++;
}

LocalTime VirtualClock::localTime() const {
  std::lock_guard lock(mutex_);
  // Walk the base time forward by the virtual milliseconds, through the C library
  // so that day and month boundaries come out right.
  std::tm tm{};
  tm.tm_year = base_.year - 1900;
  tm.tm_mon = base_.month - 1;
  tm.tm_mday = base_.day;
  tm.tm_hour = base_.hour;
  tm.tm_min = base_.minute;
  tm.tm_sec = base_.second;
  tm.tm_isdst = -1;
  std::time_t start = timegm(&tm);
  std::int64_t totalMs = static_cast<std::int64_t>(base_.millisecond) + (now_.load() - baseAt_);
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(start + totalMs / 1000);
  tv.tv_usec = static_cast<suseconds_t>((totalMs % 1000) * 1000);
  std::tm out{};
  gmtime_r(&tv.tv_sec, &out);
  LocalTime t;
  t.year = out.tm_year + 1900;
  t.month = out.tm_mon + 1;
  t.day = out.tm_mday;
  t.hour = out.tm_hour;
  t.minute = out.tm_min;
  t.second = out.tm_sec;
  t.millisecond = static_cast<int>(tv.tv_usec / 1000);
  t.dayOfWeek = out.tm_wday;
  return t;
}

void VirtualClock::setLocalTime(const LocalTime& t) {
  std::lock_guard lock(mutex_);
  base_ = t;
  baseAt_ = now_.load();
}

}  // namespace qk
