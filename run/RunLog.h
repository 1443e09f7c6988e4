#pragma once
// The daily run log (one tab-separated line per tested drive) and the failure
// report files, both in the log folder.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/LogFileChoice.h"
#include "platform/Clock.h"
#include "run/FailureReport.h"
#include "run/PortContext.h"

namespace qk {

struct RunLogPort {
  int slot = 0;  // 0-based
  std::string serialNumber;
  std::array<std::int32_t, 26> stepStatus{};
  std::vector<int> freeBlocks;  // written only when freeBlockFields is set for the run
};

struct RunLogInput {
  LocalTime start, end;
  std::vector<std::string> testItems;  // texts of the test-item list, in list order
  std::vector<RunLogPort> ports;       // active ports of the run, slot order
  std::int64_t totalTestCount = 0;     // after this run's ends were counted
  std::int64_t rowsWritten = 0;        // the last row number ever written to this log folder
  bool freeBlockFields = false;
};

// The header line of a new run log.
std::string RunLogHeader(const std::vector<std::string>& testItems);

// Appends the run's lines (rolling over to the next index first when the file
// has reached its limit). Row numbers continue from the counter, from the rows
// ever written and from the last row already in the file, so they never
// repeat; `lastRow` (optional) receives the last one written. The lines go in
// whole or not at all: on a failed write the file is cut back. False when the
// file can neither be opened nor created, or the lines could not be written.
bool AppendRunLog(LogFileChoice& log, const RunLogInput& input, std::int64_t* lastRow = nullptr);

// The number of the last row written to the run logs of a log folder (kept
// beside the yield counters, so it survives roll-overs and restarts).
std::int64_t ReadLogRowCount(const std::string& logPath);
bool WriteLogRowCount(const std::string& logPath, std::int64_t rows);

// A text as a log field: control characters (a TAB or CR would shift the
// columns or split the line) become '?'.
std::string LogFieldText(const std::string& text);

// The free-block fields: 30 records of 12 bytes from offset 2; records that
// start with 0xEB give the 16-bit value of bytes 7 (high) and 8 (low).
std::vector<int> FreeBlockFields(std::span<const std::uint8_t> buffer);

// "Error_YYYYMMDDhhmm_SS_serial.txt" in the log folder; a report of the same
// minute, slot and serial is never replaced: "(1)", "(2)", ... go before ".txt".
// Returns the path written, or empty when the file could not be created.
std::string WriteFailureReport(const std::string& logPath, const LocalTime& end, int slot,
                               const std::string& serialNumber, const std::string& text);

}  // namespace qk
