#pragma once
// Whole-file writes that never leave a half-written file behind: the data goes
// to a temporary file in the same folder, which then replaces the target.
#include <string>

namespace qk {

// False with `error` set (errno text) when any step fails; the target is then
// unchanged and the temporary file removed.
bool writeFileAtomic(const std::string& path, const std::string& data, std::string* error = nullptr);

}  // namespace qk
