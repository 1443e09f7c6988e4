#pragma once
// Runs the built qkstation-cli and captures what it prints.
#include <string>
#include <vector>

namespace qk::test {

struct CliResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

CliResult runCli(const std::vector<std::string>& args);
// Runs with --home set to `home`; `args` is split at blanks.
CliResult runCliIn(const std::string& home, const std::string& args);

}  // namespace qk::test
