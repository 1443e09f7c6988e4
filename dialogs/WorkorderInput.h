#pragma once
// The work-order dialog's rule: all three fields or nothing.
#include <string>

namespace qk {

inline constexpr const char* kWorkorderInputError = "Input error";

struct WorkorderInput {
  std::string workOrder, partNumber, weekCode;
};

// True when Start may store the texts and close.
bool WorkorderComplete(const WorkorderInput& input);

}  // namespace qk
