#pragma once
// Diagnostic lines of device discovery: never shown to the operator. They go to
// stderr when QK_DEBUG is set, or to a sink a test installs.
#include <functional>
#include <string>

namespace qk {

void discoveryDiag(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Replaces the output; an empty function restores the default.
void setDiscoveryDiagSink(std::function<void(const std::string&)> sink);

}  // namespace qk
