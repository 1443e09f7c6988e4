#pragma once
// What "Manual Setting" shows of a drive: one labelled field per component,
// in the dialog's order, shared by the dialog and the command line.
#include <string>
#include <vector>

#include "protocol/DeviceDetail.h"

namespace qk {

class Station;

inline constexpr const char* kLoaderModeText = "Loader Mode! ";

struct DetailField {
  const char* name;   // the edit's component name
  const char* label;  // its label, as shown
  std::string text;
};

// The eleven read-only edits, FWInfoEdit first. In loader mode FWInfoEdit is
// replaced on screen by Label1 with kLoaderModeText.
std::vector<DetailField> DetailFields(const DeviceDetail& detail);

// The detail of the drive bound to a 0-based slot, read straight from it
// through the port's own controller context and buffers.
DeviceDetail ReadSlotDetail(Station& station, int slot);

}  // namespace qk
