#pragma once
#include <string>

namespace qk {

// A text (a serial number, say) made safe to be part of a file name: path
// separators and control characters become '_', so it can never name a file
// outside the folder it is put in. Empty stays empty.
std::string SafeFileNamePart(const std::string& text);

}  // namespace qk
