#pragma once
// A USB mass-storage Bulk-Only Transport target in front of a simulated drive:
// decodes the host's command wrapper, runs the command block on the drive,
// keeps its sense data for REQUEST SENSE and encodes the status wrapper. The
// USB endpoints themselves belong to whoever moves the bytes (the gadget
// program); this class only decides what goes over them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/SimDrive.h"

namespace qk::sim {

constexpr std::size_t kCbwLength = 31;
constexpr std::size_t kCswLength = 13;

struct CommandBlockWrapper {
  std::uint32_t tag = 0;
  std::uint32_t dataLength = 0;  // bytes the host expects to move
  bool dataIn = false;           // device to host
  std::uint8_t lun = 0;
  std::uint8_t cdb[16] = {};
  std::uint8_t cdbLength = 0;
};

// CSW status values.
constexpr std::uint8_t kCswPassed = 0;
constexpr std::uint8_t kCswFailed = 1;
constexpr std::uint8_t kCswPhaseError = 2;

struct BulkOnlyResult {
  std::uint32_t transferred = 0;  // bytes of the data phase the drive produced or took
  std::uint8_t status = kCswPassed;
  bool answered = true;           // false: the drive gave no answer (hang, pulled, dropped)
};

class BulkOnlyTarget {
 public:
  explicit BulkOnlyTarget(SimDrive& drive) : drive_(drive) {}

  // False when the bytes are no valid, meaningful wrapper (wrong length,
  // signature, LUN or command length): the host must reset the target.
  static bool decodeCbw(const std::uint8_t* bytes, std::size_t length, CommandBlockWrapper& out);
  static void encodeCsw(std::uint32_t tag, std::uint32_t residue, std::uint8_t status, std::uint8_t out[kCswLength]);

  // Runs one command. `data` holds dataLength bytes: the host's data for an
  // OUT phase, and receives the drive's data for an IN phase.
  BulkOnlyResult execute(const CommandBlockWrapper& cbw, std::uint8_t* data);

 private:
  SimDrive& drive_;
  std::uint8_t senseKey_ = 0, asc_ = 0, ascq_ = 0;
};

}  // namespace qk::sim
