#include "app/CommandLine.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace qk {

StationCommandLine ParseStationCommandLine(const std::vector<std::string>& args) {
  StationCommandLine cl;
  for (const auto& a : args) {
    if (a.find("autoquit") != std::string::npos) cl.autoQuit = true;
  }
  if (args.empty() || args[0].empty()) return cl;
  cl.hasFirstArgument = true;
  const std::string& text = args[0];
  // Whole text must be a decimal integer (optional sign, surrounding blanks allowed).
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(begin, &end, 10);
  bool digits = end != begin && std::isdigit(static_cast<unsigned char>(end[-1]));
  while (*end && std::isspace(static_cast<unsigned char>(*end))) ++end;
  if (!digits || *end || errno == ERANGE || v > INT_MAX || v < INT_MIN) {
    cl.error = "'" + text + "' is not a valid integer value";
    return cl;
  }
  cl.mask = static_cast<int>(v);
  return cl;
}

bool MaskChecksItem(int mask, int item) { return item >= 0 && item < 8 && ((mask >> item) & 1) != 0; }

bool UnattendedStartRefused(const StationCommandLine& cl) { return cl.autoQuit && cl.hasFirstArgument && !cl.mask; }

const char* StationUsageText() {
  return "QK Station: SSD production station (window)\n"
         "Usage: qkstation [--home DIR] [--bench FILE] [MASK] [autoquit]\n"
         "\n"
         "Options:\n"
         "  --home DIR    Program folder: profile, data files, log/ (default: the executable's folder)\n"
         "  --bench FILE  Simulated bench file (default: the real devices)\n"
         "  MASK          Decimal test-item mask: bits 0..7 check test-list items 0..7\n"
         "  autoquit      Press START once the window is up, then close after the run\n"
         "  --help        Print this text and exit\n"
         "\n"
         "Real drives without root need the group qkstation, the udev rule 70-qkstation.rules\n"
         "and the capability CAP_SYS_RAWIO on the program; qkstation-cli doctor checks them.\n";
}

}  // namespace qk
