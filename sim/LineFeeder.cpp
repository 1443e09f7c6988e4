#include "sim/LineFeeder.h"

#include <algorithm>
#include <cstdio>

#include "platform/DebugOutput.h"

namespace qk::sim {

LineFeeder::LineFeeder(Bench& bench) : bench_(bench), feed_(bench.config().feed) {
  for (const auto& name : feed_.templates) {
    for (const auto& d : bench.config().drives) {
      if (d.name == name) templates_.push_back(d);
    }
  }
  thread_ = std::jthread([this](std::stop_token stop) { loop(stop); });
}

LineFeeder::~LineFeeder() {
  thread_.request_stop();
  wakeup_.notify();
}

int LineFeeder::fed() const {
  std::lock_guard lock(mutex_);
  return fed_;
}

bool LineFeeder::plugNext(int hub, int port) {
  DriveSpec desc;
  int n = 0;
  {
    std::lock_guard lock(mutex_);
    if (fed_ >= feed_.drives || templates_.empty()) return false;
    n = ++fed_;
    desc = templates_[static_cast<std::size_t>(n - 1) % templates_.size()];
  }
  char serial[16];
  std::snprintf(serial, sizeof serial, "FD%06d", n);
  desc.name = "Feed" + std::to_string(n);
  desc.number = 100000 + n;
  desc.hub = hub;
  desc.port = port;
  desc.usbSerial = serial;
  desc.storePath.clear();  // fresh user data for every drive
  desc.persistPath.clear();
  std::string error;
  if (!bench_.addDrive(desc, error) || !bench_.plug(desc.name)) {
    debugPrintf("feed: drive %d cannot go into Hub%d:%d: %s", n, hub, port, error.c_str());
    return false;
  }
  return true;
}

int LineFeeder::plugFirst() {
  int plugged = 0;
  std::vector<std::pair<int, int>> taken;
  for (const auto& t : templates_) {
    const std::pair<int, int> at{t.hub, t.port};
    if (std::find(taken.begin(), taken.end(), at) != taken.end()) continue;
    if (!plugNext(t.hub, t.port)) break;
    taken.push_back(at);
    ++plugged;
  }
  return plugged;
}

bool LineFeeder::pull(const std::string& devicePath, int& hub, int& port) {
  SimDrive* d = bench_.driveByPath(devicePath);
  if (!d) return false;
  hub = d->cfg().hub;
  port = d->cfg().port;
  bench_.unplug(d->name());  // a drive pulled while it ran is gone already
  return true;
}

void LineFeeder::finished(const std::string& devicePath) {
  Swap swap;
  if (!pull(devicePath, swap.hub, swap.port)) return;
  Clock& clock = bench_.clock();
  swap.due = clock.nowMs() + clock.scaleTimeout(feed_.swapMs);
  {
    std::lock_guard lock(mutex_);
    swaps_.push_back(swap);
  }
  wakeup_.notify();
}

void LineFeeder::loop(std::stop_token stop) {
  Clock& clock = bench_.clock();
  while (!stop.stop_requested()) {
    std::vector<Swap> due;
    std::int64_t next = -1;
    {
      std::lock_guard lock(mutex_);
      const std::int64_t now = clock.nowMs();
      for (auto it = swaps_.begin(); it != swaps_.end();) {
        if (it->due <= now) {
          due.push_back(*it);
          it = swaps_.erase(it);
        } else {
          next = next < 0 ? it->due : std::min(next, it->due);
          ++it;
        }
      }
    }
    for (const Swap& s : due) plugNext(s.hub, s.port);
    if (!due.empty()) continue;
    if (next >= 0) {
      wakeup_.waitUntil(clock, next);
    } else {
      wakeup_.waitReal(1000);
    }
  }
}

int LineFeeder::swapAll(const std::vector<std::string>& devicePaths) {
  std::vector<std::pair<int, int>> freed;
  for (const auto& path : devicePaths) {
    int hub = 0, port = 0;
    if (pull(path, hub, port)) freed.emplace_back(hub, port);
  }
  if (freed.empty()) return 0;
  bench_.clock().sleepFor(feed_.swapMs);
  int plugged = 0;
  for (const auto& [hub, port] : freed) {
    if (!plugNext(hub, port)) break;
    ++plugged;
  }
  return plugged;
}

}  // namespace qk::sim
