#include "sim/Trace.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qk::sim {

namespace {
void appendHex(std::string& out, const std::uint8_t* bytes, size_t n) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (size_t i = 0; i < n; ++i) {
    if (i) out += ' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
}
}  // namespace

std::unique_ptr<Trace> Trace::create(const std::string& path, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (!f) {
    error = "cannot create trace file " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<Trace>(new Trace(f));
}

Trace::~Trace() { std::fclose(file_); }

std::string Trace::formatLine(const std::string& drive, const PassThroughRequest& r, bool ok) {
  const bool hasData = r.direction != DataDirection::None && r.length > 0;
  const char* dir = !hasData ? "none" : r.direction == DataDirection::In ? "in" : "out";
  std::string line = drive;
  line += '\t';
  line += dir;
  line += '\t';
  appendHex(line, r.cdb, r.cdbLength);
  line += '\t';
  line += std::to_string(hasData ? r.length : 0);
  line += ok ? "\tok" : "\tfail";
  if (hasData && r.direction == DataDirection::Out && r.buffer) {
    line += '\t';
    appendHex(line, r.buffer, std::min<size_t>(16, r.length));
  }
  return line;
}

void Trace::record(const std::string& drive, const PassThroughRequest& request, bool ok) {
  std::string line = formatLine(drive, request, ok);
  line += '\n';
  std::lock_guard lock(mutex_);
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}

}  // namespace qk::sim
