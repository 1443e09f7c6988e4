#include "platform/bench/BenchPassThrough.h"

#include "sim/Bench.h"

namespace qk {

PassThroughResult BenchPassThrough::execute(const std::string& path, const PassThroughRequest& request) {
  return bench_.execute(path, request);
}

bool BenchPassThrough::reset(const std::string& path, ResetLevel) { return bench_.reset(path); }

bool BenchPassThrough::deviceNumber(const std::string& path, DeviceNumber& out) {
  return bench_.deviceNumber(path, out);
}

}  // namespace qk
