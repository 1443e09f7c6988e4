#pragma once
// The station's own command line: an optional decimal test-item mask as the
// first argument, and "autoquit" anywhere for an unattended run.
#include <optional>
#include <string>
#include <vector>

namespace qk {

struct StationCommandLine {
  std::optional<int> mask;   // bits 0..7 check test-list items 0..7
  bool hasFirstArgument = false;
  bool autoQuit = false;
  std::string error;         // the conversion error shown to the operator, if any
};

StationCommandLine ParseStationCommandLine(const std::vector<std::string>& args);
// What `qkstation --help` prints; the manual page is made from the same text.
const char* StationUsageText();
// Check state of list items 0..7 for a mask (higher bits ignored).
bool MaskChecksItem(int mask, int item);
// "autoquit" with a first argument that is no decimal integer: no run may
// start, and the program ends after the conversion message with exit code 1.
bool UnattendedStartRefused(const StationCommandLine& cl);

}  // namespace qk
