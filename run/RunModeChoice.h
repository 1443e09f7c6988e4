#pragma once
// START's mode from the "RD" page: claim new wins over the table transfers,
// and both only while the "RD" page is the active one.
#include "run/RunEngine.h"

namespace qk {

struct RdPageState {
  bool rdPageActive = false;
  bool claimNew = false;
  bool getDefect = false, putDefect = false, getLater = false, putLater = false;
};

// Mode and, in table-transfer mode, the first checked transfer.
void ChooseRunMode(const RdPageState& rd, RunOptions& options);

}  // namespace qk
