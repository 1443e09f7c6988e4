#pragma once
// The bench's command trace: one line per command block, written whole even
// when many drives are busy at once.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "platform/PassThrough.h"

namespace qk::sim {

class Trace {
 public:
  // Starts an empty trace file; nullptr (and `error`) when it cannot be created.
  static std::unique_ptr<Trace> create(const std::string& path, std::string& error);
  ~Trace();

  // name TAB in|out|none TAB CDB TAB length TAB ok|fail [TAB first 16 data bytes, data-out only]
  static std::string formatLine(const std::string& drive, const PassThroughRequest& request, bool ok);
  void record(const std::string& drive, const PassThroughRequest& request, bool ok);

 private:
  explicit Trace(std::FILE* f) : file_(f) {}
  std::mutex mutex_;
  std::FILE* file_;
};

}  // namespace qk::sim
