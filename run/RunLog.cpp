#include "run/RunLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "config/ProfileSettings.h"
#include "config/IniFile.h"
#include "config/Profile.h"
#include "platform/DebugOutput.h"
#include "platform/FileNames.h"
#include "run/ResultCodes.h"

namespace qk {

namespace {

std::string timeText(const LocalTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
  return buf;
}

// Rows 1..24 whose step name matches a list item, once per matching item.
std::vector<int> columns(const std::vector<std::string>& items) {
  std::vector<int> rows;
  for (int row = 1; row <= kTestItemCount; ++row) {
    for (const auto& item : items) {
      if (item == StepInfo(row).stepName) rows.push_back(row);
    }
  }
  return rows;
}

long fileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// The row number of the file's last line, 0 when there is none.
std::int64_t lastRow(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line, last;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] >= '0' && line[0] <= '9') last = line;
  }
  return last.empty() ? 0 : std::atoll(last.c_str());
}

// Appends all of `text` or nothing: a failed write is cut back to the old end.
// A last line left without its end (a process killed while writing) is closed
// first, so the new rows never glue onto it.
bool appendWhole(const std::string& path, std::string text) {
  int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    close(fd);
    return false;
  }
  const off_t before = st.st_size;
  char lastByte = '\n';
  if (before > 0 && pread(fd, &lastByte, 1, before - 1) == 1 && lastByte != '\n') text.insert(0, "\r\n");
  const char* p = text.data();
  std::size_t left = text.size();
  bool ok = true;
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (ok && fsync(fd) != 0) ok = false;
  if (!ok && ftruncate(fd, before) != 0) debugPrintf("run log %s could not be cut back", path.c_str());
  ok = close(fd) == 0 && ok;
  if (!ok && before == 0) unlink(path.c_str());
  return ok;
}

}  // namespace

std::string RunLogHeader(const std::vector<std::string>& testItems) {
  std::string h = "  No.\t Port.\t     StartTime \t EndTime \tSerialNumber\t";
  for (int row : columns(testItems)) h += StepInfo(row).logTag;
  h += "Result\t\r\n";
  return h;
}

bool AppendRunLog(LogFileChoice& log, const RunLogInput& in, std::int64_t* lastRowOut) {
  std::string text;
  long size = fileSize(log.name);
  if (size >= log.sizeLimit) {
    ++log.index;
    log.name = LogFileName(log.folder, log.day, log.index);
    size = fileSize(log.name);
  }
  if (size <= 0) text = RunLogHeader(in.testItems);
  const std::int64_t active = static_cast<std::int64_t>(in.ports.size());
  std::int64_t base = std::max<std::int64_t>({in.totalTestCount - active, in.rowsWritten, 0});
  if (size > 0) base = std::max(base, lastRow(log.name));

  const std::vector<int> rows = columns(in.testItems);
  std::int64_t k = 0;
  for (const auto& p : in.ports) {
    char head[64];
    std::snprintf(head, sizeof head, "%06lld\t%06d\t", static_cast<long long>(base + ++k), p.slot + 1);
    text += head;
    text += timeText(in.start) + "\t" + timeText(in.end) + "\t" + LogFieldText(p.serialNumber) + "\t";
    for (int row : rows) text += std::string(StepStatusText(p.stepStatus[static_cast<std::size_t>(row)])) + "\t";
    text += std::string(StepStatusText(p.stepStatus[25])) + "\t";
    if (in.freeBlockFields) {
      for (int v : p.freeBlocks) {
        char f[16];
        std::snprintf(f, sizeof f, "\t%06d", v);
        text += f;
      }
    }
    text += "\r\n";
  }
  if (!appendWhole(log.name, std::move(text))) return false;
  if (lastRowOut) *lastRowOut = base + k;
  return true;
}

std::int64_t ReadLogRowCount(const std::string& logPath) {
  const std::string v = readIniString(logPath + kYieldFileName, "TestRecord", "RowCount", "0");
  const long long n = std::atoll(v.c_str());
  return n > 0 ? n : 0;
}

bool WriteLogRowCount(const std::string& logPath, std::int64_t rows) {
  const std::string path = logPath + kYieldFileName;
  IniFile ini = IniFile::load(path);
  ini.setInt("TestRecord", "RowCount", rows);
  return ini.save(path);
}

std::string LogFieldText(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

std::vector<int> FreeBlockFields(std::span<const std::uint8_t> buffer) {
  std::vector<int> out;
  for (std::size_t r = 0; r < 30; ++r) {
    std::size_t at = 2 + 12 * r;
    if (at + 12 > buffer.size()) break;
    if (buffer[at] == 0xEB) out.push_back((buffer[at + 7] << 8) | buffer[at + 8]);
  }
  return out;
}

std::string WriteFailureReport(const std::string& logPath, const LocalTime& end, int slot,
                               const std::string& serialNumber, const std::string& text) {
  char stem[64];
  std::snprintf(stem, sizeof stem, "Error_%04d%02d%02d%02d%02d_%02d", end.year, end.month, end.day, end.hour,
                end.minute, slot + 1);
  const std::string base = logPath + stem + "_" + SafeFileNamePart(serialNumber);
  for (int n = 0; n < 1000; ++n) {
    std::string path = base + (n == 0 ? std::string() : "(" + std::to_string(n) + ")") + ".txt";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return {};
    }
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ok = close(fd) == 0 && ok;
    return ok ? path : std::string();
  }
  return {};
}

}  // namespace qk
