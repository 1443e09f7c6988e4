#include "discovery/Diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace qk {

namespace {
std::mutex sinkMutex;
std::function<void(const std::string&)>& sink() {
  static std::function<void(const std::string&)> s;
  return s;
}
}  // namespace

void discoveryDiag(const char* fmt, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  std::lock_guard lock(sinkMutex);
  if (sink()) {
    sink()(buf);
  } else if (std::getenv("QK_DEBUG")) {
    std::fprintf(stderr, "[discovery] %s\n", buf);
  }
}

void setDiscoveryDiagSink(std::function<void(const std::string&)> s) {
  std::lock_guard lock(sinkMutex);
  sink() = std::move(s);
}

}  // namespace qk
