#pragma once
// Faults a simulated drive can be given from its bench section (FaultXxx keys).
#include <cstdint>
#include <string>
#include <vector>

namespace qk::sim {

// Picks commands by opcode, and for ATA PASS-THROUGH also by ATA command
// ("28", "A1:EC"; hex).
struct CommandSelector {
  std::uint8_t opcode = 0;
  int ataCommand = -1;  // -1: any
  bool matches(const std::uint8_t* cdb, std::size_t cdbLength) const;
};

struct LbaRange {
  std::uint32_t first = 0, last = 0;
  bool overlaps(std::uint32_t lba, std::uint32_t count) const;
};

struct DriveFaults {
  std::vector<CommandSelector> fail;       // FaultFail: dropped at once, as a transport error
  std::vector<CommandSelector> noAnswer;   // FaultTimeout: no answer until the time-out
  std::vector<LbaRange> readError;         // FaultReadError: READ(10) ends with CHECK CONDITION
  std::vector<LbaRange> writeError;        // FaultWriteError: WRITE(10) ends with CHECK CONDITION
  std::vector<std::uint32_t> shortRead;    // FaultShortRead: READ(10) stops before this LBA, GOOD status
  std::uint32_t pullAtCommand = 0;         // FaultPullAt: pulled during its Nth command (1-based); 0 never

  // Parses one FaultXxx key; false with `error` set for an unknown key or bad value.
  bool set(const std::string& key, const std::string& value, std::string& error);
};

}  // namespace qk::sim
