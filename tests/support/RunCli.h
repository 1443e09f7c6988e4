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

}  // namespace qk::test
