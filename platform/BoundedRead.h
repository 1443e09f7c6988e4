#pragma once
// Reading a whole input file (a profile, a bench, a table) that may be
// anything the operator named: a device that never ends, a FIFO that never
// answers, a file far larger than any such file can be. Only regular files up
// to a limit are read; the rest is refused with a reason.
#include <cstddef>
#include <string>

namespace qk {

constexpr std::size_t kTextFileLimit = 16u << 20;  // far above any profile, list, bench or table

enum class ReadOutcome { Ok, Missing, Refused };

// `error` names the file and the reason (also for a missing file).
ReadOutcome ReadBoundedFile(const std::string& path, std::string& data, std::string* error = nullptr,
                            std::size_t limit = kTextFileLimit);

}  // namespace qk
