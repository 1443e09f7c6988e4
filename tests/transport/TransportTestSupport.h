#pragma once
// A pass-through that records each request and answers from a script, and a
// bench built from text, for the transport tests.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "platform/PassThrough.h"
#include "sim/Bench.h"

namespace qk::test {

struct RecordedRequest {
  std::string path;
  std::vector<std::uint8_t> cdb;
  DataDirection direction;
  std::uint32_t length;
  std::uint32_t timeoutMs;
  std::vector<std::uint8_t> dataOut;
};

class RecordingPassThrough : public PassThrough {
 public:
  PassThroughResult execute(const std::string& path, const PassThroughRequest& r) override {
    RecordedRequest rec{path, {r.cdb, r.cdb + r.cdbLength}, r.direction, r.length, r.timeoutMs, {}};
    if (r.direction == DataDirection::Out && r.buffer) rec.dataOut.assign(r.buffer, r.buffer + r.length);
    requests.push_back(rec);
    if (answer) return answer(r);
    PassThroughResult ok;
    ok.sent = ok.completed = true;
    ok.transferred = r.length;
    return ok;
  }
  bool deviceNumber(const std::string&, DeviceNumber&) override { return false; }

  std::vector<RecordedRequest> requests;
  std::function<PassThroughResult(const PassThroughRequest&)> answer;
};

inline std::vector<std::uint8_t> bytes(std::initializer_list<int> list) {
  std::vector<std::uint8_t> v;
  for (int b : list) v.push_back(static_cast<std::uint8_t>(b));
  return v;
}

inline std::unique_ptr<sim::Bench> benchFromText(const std::string& text, Clock& clock) {
  sim::BenchConfig cfg;
  std::string error;
  if (!sim::ParseBenchText(text, "/tmp", {}, cfg, error)) {
    ADD_FAILURE() << error;
    return nullptr;
  }
  sim::BenchOptions options;
  options.clock = &clock;
  auto bench = sim::Bench::fromConfig(std::move(cfg), options, error);
  if (!bench) ADD_FAILURE() << error;
  return bench;
}

}  // namespace qk::test
