#pragma once
// One command as a simulated drive sees it, and its answer.
#include <cstddef>
#include <cstdint>

#include "platform/PassThrough.h"

namespace qk::sim {

struct SimCommand {
  const std::uint8_t* cdb = nullptr;
  std::size_t cdbLength = 0;
  DataDirection direction = DataDirection::None;
  std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
};

struct SimReply {
  enum class Outcome {
    Completed,  // the device answered with `status`
    Dropped,    // the link lost the command: a transport error at once
    NoAnswer,   // nothing comes back; the host gives up at its time-out
    Pulled,     // the cable was pulled during the command
  };
  Outcome outcome = Outcome::Completed;
  std::uint8_t status = kScsiStatusGood;
  std::uint32_t transferred = 0;
  std::uint8_t senseKey = 0, asc = 0, ascq = 0;

  static SimReply good(std::uint32_t transferred) { return {Outcome::Completed, kScsiStatusGood, transferred}; }
  static SimReply checkCondition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq,
                                 std::uint32_t transferred = 0) {
    return {Outcome::Completed, kScsiStatusCheckCondition, transferred, key, asc, ascq};
  }
  static SimReply invalidOpcode() { return checkCondition(0x05, 0x20, 0x00); }
  static SimReply invalidField() { return checkCondition(0x05, 0x24, 0x00); }
  static SimReply outOfRange() { return checkCondition(0x05, 0x21, 0x00); }
  // ATA ABORT as a SAT layer reports it.
  static SimReply ataAbort() { return checkCondition(0x0B, 0x00, 0x00); }
  bool isGood() const { return outcome == Outcome::Completed && status == kScsiStatusGood; }
};

}  // namespace qk::sim
