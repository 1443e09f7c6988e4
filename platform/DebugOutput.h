#pragma once
// Diagnostic lines for the developer, never for the operator. By default they
// go to stderr only when QK_DEBUG is set in the environment; a front end or a
// test may route them elsewhere.
#include <functional>
#include <string>

namespace qk {

// printf-style; the text is cut at 1023 characters.
void debugPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Replaces the sink (nullptr restores the default); returns the previous one.
std::function<void(const std::string&)> setDebugSink(std::function<void(const std::string&)> sink);

}  // namespace qk
