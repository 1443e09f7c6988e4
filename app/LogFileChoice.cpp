#include "app/LogFileChoice.h"

#include <sys/stat.h>

#include <cstdio>

namespace qk {

std::string LogFileName(const std::string& logPath, const LocalTime& day, int index) {
  char tail[64];
  std::snprintf(tail, sizeof tail, "%04d%02d%02d_%03d.txt", day.year, day.month, day.day, index);
  return logPath + tail;
}

LogFileChoice ChooseLogFile(const std::string& logPath, const LocalTime& today, long sizeLimit) {
  constexpr int kMaxIndex = 99999;
  int index = 0;
  for (; index <= kMaxIndex; ++index) {
    struct stat st {};
    if (stat(LogFileName(logPath, today, index).c_str(), &st) != 0) break;
  }
  if (index > 0) --index;  // the newest file that exists
  LogFileChoice choice;
  choice.sizeLimit = sizeLimit;
  choice.folder = logPath;
  choice.day = today;
  std::string name = LogFileName(logPath, today, index);
  if (FILE* f = std::fopen(name.c_str(), "rb")) {
    std::fseek(f, 0, SEEK_END);
    long size = std::ftell(f);
    std::fclose(f);
    if (size >= sizeLimit && index < kMaxIndex) ++index;
  }
  choice.index = index;
  choice.name = LogFileName(logPath, today, index);
  return choice;
}

}  // namespace qk
