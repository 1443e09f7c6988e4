#pragma once
// What every disk operation of one port works with.
#include <stop_token>

#include "diskops/SectorDevice.h"
#include "platform/Clock.h"
#include "platform/Operator.h"
#include "platform/Volumes.h"

namespace qk {

struct DiskJob {
  SectorDevice& device;
  Volumes& volumes;
  Clock& clock;
  Operator* op = nullptr;      // only for the formatter's internal-error boxes
  std::stop_token stop = {};
  int activeDrives = 1;        // drives of the run: sets the formatter's retry budget
};

}  // namespace qk
