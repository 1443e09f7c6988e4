#pragma once
// Runs the built qkstation-cli and captures what it prints.
#include <optional>
#include <string>
#include <vector>

namespace qk::test {

struct CliResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

CliResult runCli(const std::vector<std::string>& args);

// A qkstation-cli left running, to be signalled while it works. Its output
// goes to files in `captureFolder`. Every wait has a deadline in real
// milliseconds; on the deadline the process is killed and the wait fails.
class CliProcess {
 public:
  CliProcess(const std::vector<std::string>& args, const std::string& captureFolder);
  ~CliProcess();
  int pid() const { return pid_; }
  std::string out() const;
  std::string err() const;
  // Until stdout holds `text`; false on the deadline or when the process ended.
  bool waitForOutput(const std::string& text, int deadlineMs);
  struct End {
    bool exited = false;
    int exitCode = -1;
    int signal = 0;  // the signal that ended it, if any
  };
  // The process's end; nothing when the deadline passed (it is then killed).
  std::optional<End> waitEnd(int deadlineMs);

 private:
  int pid_ = -1;
  bool reaped_ = false;
  std::string outPath_, errPath_;
};
// Runs with --home set to `home`; `args` is split at blanks.
CliResult runCliIn(const std::string& home, const std::string& args);

}  // namespace qk::test
