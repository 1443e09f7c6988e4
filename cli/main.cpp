// qkstation-cli: the station's headless front end.
#include <cstdio>
#include <iostream>
#include <vector>

#include <termios.h>
#include <unistd.h>

#include "cli/Cli.h"

namespace qk::cli {

namespace {
std::vector<CommandSetup>& registry() {
  static std::vector<CommandSetup> setups;
  return setups;
}
}  // namespace

CommandRegistration::CommandRegistration(CommandSetup setup) { registry().push_back(std::move(setup)); }

void StderrOperator::showMessage(const std::string& text, const std::string& caption, MessageIcon) {
  std::string t = text;
  while (!t.empty() && t.back() == '\n') t.pop_back();
  std::cerr << (caption.empty() ? std::string("QK Station") : caption) << ": " << t << std::endl;
}

std::optional<std::string> StderrOperator::askText(const std::string& caption, const std::string& prompt,
                                                   const std::string& defaultText, bool hidden) {
  if (!isatty(STDIN_FILENO)) return std::nullopt;
  std::cerr << caption << ": " << prompt;
  if (!defaultText.empty() && !hidden) std::cerr << " [" << defaultText << "]";
  std::cerr << " " << std::flush;
  termios old {};
  bool echoOff = hidden && tcgetattr(STDIN_FILENO, &old) == 0;
  if (echoOff) {
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  std::string line;
  bool got = static_cast<bool>(std::getline(std::cin, line));
  if (echoOff) {
    tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::cerr << std::endl;
  }
  if (!got) return std::nullopt;
  return line.empty() ? defaultText : line;
}

std::optional<std::string> StderrOperator::chooseFile(const std::string&, const std::string&,
                                                      const std::string&, bool) {
  return std::nullopt;  // commands take file names as arguments
}

ProgramFolder CliState::folder() const {
  return home.empty() ? ProgramFolder::ofExecutable() : ProgramFolder(home);
}

std::string CliState::profilePath() const {
  ProgramFolder f = folder();
  return profile.empty() ? f.resolve("QKMassProd.ini") : f.resolve(profile);
}

std::string CliState::benchPath() const {
  if (bench.empty() || isAbsoluteName(bench)) return bench;
  if (fileExists(bench)) {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) return std::string(cwd) + "/" + bench;
  }
  return folder().resolve(bench);
}

bool CliState::enterStation(bool realDrives) {
  ProgramFolder f = folder();
  if (!instance_) {
    if (isRemotePath(ProgramFolder::ofExecutable().path()) || isRemotePath(f.path())) return false;
    auto lock = std::make_unique<InstanceLock>("QKMP", f.path());
    if (!lock->acquired()) return false;
    instance_ = std::move(lock);
  }
  if (realDrives && !machine_) {
    auto lock = std::make_unique<InstanceLock>("QKMP", f.path(), true);
    if (!lock->acquired()) return false;
    machine_ = std::move(lock);
  }
  return true;
}

}  // namespace qk::cli

int main(int argc, char** argv) {
  using namespace qk::cli;
  CLI::App app{"QK Station: SSD production station (command line)", "qkstation-cli"};
  app.require_subcommand(1);
  app.fallthrough();
  CliState state;
  app.add_option("--home", state.home, "Program folder (default: the executable's folder)");
  app.add_option("--bench", state.bench, "Simulated bench file (default: the real devices)");
  app.add_option("--profile", state.profile, "Profile INI (default: QKMassProd.ini in the program folder)");
  app.add_flag("--json", state.json, "Machine-readable result on stdout");
  app.add_option("--records", state.records, "Record database, postgresql://... (default: records.db in the log folder)");
  for (auto& setup : registry()) setup(app, state);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? 0 : 2;
  } catch (const std::exception& e) {
    std::cerr << "qkstation-cli: " << e.what() << std::endl;
    return 1;
  } catch (...) {
    std::cerr << "qkstation-cli: unexpected failure" << std::endl;
    return 1;
  }
  return state.exitCode;
}
