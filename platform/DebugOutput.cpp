#include "platform/DebugOutput.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace qk {

namespace {
std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}
std::function<void(const std::string&)>& sinkSlot() {
  static std::function<void(const std::string&)> sink;
  return sink;
}
}  // namespace

void debugPrintf(const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  std::function<void(const std::string&)> sink;
  {
    std::lock_guard lock(sinkMutex());
    sink = sinkSlot();
  }
  if (sink) {
    sink(buffer);
    return;
  }
  static const bool enabled = std::getenv("QK_DEBUG") != nullptr;
  if (enabled) std::fprintf(stderr, "%s\n", buffer);
}

std::function<void(const std::string&)> setDebugSink(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(sinkMutex());
  auto previous = std::move(sinkSlot());
  sinkSlot() = std::move(sink);
  return previous;
}

}  // namespace qk
