#pragma once
// Shared state of the command-line front end. Each command file registers its
// commands with a static CommandRegistration.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Locks.h"
#include "platform/Operator.h"
#include "platform/ProgramFolder.h"

namespace qk::cli {

// Texts from profiles, drives and files need not be UTF-8: JSON output
// replaces what is not, rather than failing.
inline constexpr auto kJsonReplace = nlohmann::json::error_handler_t::replace;

// Messages go to stderr as "Caption: text"; questions are read from the
// terminal when there is one, otherwise they count as cancelled.
class StderrOperator : public Operator {
 public:
  void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
  std::optional<std::string> askText(const std::string& caption, const std::string& prompt,
                                     const std::string& defaultText, bool hidden) override;
  std::optional<std::string> chooseFile(const std::string& filter, const std::string& defaultExt,
                                        const std::string& startFolder, bool save) override;
};

struct CliState {
  std::string home;     // --home
  std::string bench;    // --bench
  std::string profile;  // --profile
  bool json = false;    // --json
  std::string records;  // --records: the record database instead of the profile's
  int exitCode = 0;
  StderrOperator op;

  ProgramFolder folder() const;
  // The profile path the station uses: --profile (relative names against the
  // program folder), else QKMassProd.ini in the program folder.
  std::string profilePath() const;
  // --bench: a relative name is taken against the current folder when the file
  // is there, otherwise against the program folder.
  std::string benchPath() const;
  // Takes the single-instance lock of this program folder (and the
  // machine-wide one for a command on real drives) and refuses a start from a
  // network file system. False: the command must end with exit code 1.
  bool enterStation(bool realDrives = false);

 private:
  std::unique_ptr<InstanceLock> instance_, machine_;
};

using CommandSetup = std::function<void(CLI::App& app, CliState& state)>;

struct CommandRegistration {
  explicit CommandRegistration(CommandSetup setup);
};

}  // namespace qk::cli
