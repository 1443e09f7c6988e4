#pragma once
// Routes each request to the simulated drive bound to the path.
#include "platform/PassThrough.h"

namespace qk::sim {
class Bench;
}

namespace qk {

class BenchPassThrough : public PassThrough {
 public:
  explicit BenchPassThrough(sim::Bench& bench) : bench_(bench) {}
  PassThroughResult execute(const std::string& path, const PassThroughRequest& request) override;
  bool deviceNumber(const std::string& path, DeviceNumber& out) override;
  bool reset(const std::string& path, ResetLevel level) override;

 private:
  sim::Bench& bench_;
};

}  // namespace qk
