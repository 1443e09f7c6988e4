#pragma once
#include "discovery/Scanner.h"
#include "platform/Removal.h"

namespace qk {

class SafeRemoval {
 public:
  static constexpr int Attempts = 5;
  static constexpr std::int64_t RetryWaitMs = 500;

  // Removes every active drive in parallel, each with up to 5 attempts 500 ms
  // apart, then rescans. True when no drive remains; otherwise the operator is
  // told. Nothing happens when no drive is active.
  static bool removeAll(Scanner& scanner, Removal& removal, Operator& op);
};

}  // namespace qk
