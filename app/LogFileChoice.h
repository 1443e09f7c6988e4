#pragma once
// The day's run log is chosen once at start-up: the newest NNN file of the
// day, or the next one when that file has reached the size limit.
#include <string>

#include "platform/Clock.h"

namespace qk {

constexpr long kLogFileSizeLimit = 83000;

struct LogFileChoice {
  std::string name;  // log folder + YYYYMMDD_NNN.txt
  int index = 0;
  long sizeLimit = kLogFileSizeLimit;
  std::string folder;  // the template: the day stays the one chosen at start-up
  LocalTime day;
};

std::string LogFileName(const std::string& logPath, const LocalTime& day, int index);
LogFileChoice ChooseLogFile(const std::string& logPath, const LocalTime& today, long sizeLimit = kLogFileSizeLimit);

}  // namespace qk
