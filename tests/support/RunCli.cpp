#include "support/RunCli.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <thread>
#include <fstream>
#include <sstream>

#include "support/TempDir.h"

namespace qk::test {

namespace {
std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}
}  // namespace

namespace {

// Polling a process from outside has no clock to wait on: short real naps, bounded by the deadline.
bool pollUntil(const std::function<bool()>& done, int deadlineMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Starts the built CLI with stdout and stderr into files and no stdin.
pid_t spawnCli(const std::vector<std::string>& args, const std::string& outPath, const std::string& errPath) {
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = open("/dev/null", O_RDONLY);
    dup2(out, 1);
    dup2(err, 2);
    dup2(in, 0);
    std::vector<std::string> all{QK_BIN_DIR "/qkstation-cli"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

}  // namespace

CliProcess::CliProcess(const std::vector<std::string>& args, const std::string& captureFolder)
    : outPath_(captureFolder + "cli.out"), errPath_(captureFolder + "cli.err") {
  pid_ = spawnCli(args, outPath_, errPath_);
}

CliProcess::~CliProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

std::string CliProcess::out() const { return slurp(outPath_); }
std::string CliProcess::err() const { return slurp(errPath_); }

bool CliProcess::waitForOutput(const std::string& text, int deadlineMs) {
  bool ended = false;
  const bool found = pollUntil([&] {
    if (out().find(text) != std::string::npos) return true;
    ended = waitpid(pid_, nullptr, WNOHANG) == pid_;
    if (ended) reaped_ = true;
    return ended;
  }, deadlineMs);
  return found && !ended;
}

std::optional<CliProcess::End> CliProcess::waitEnd(int deadlineMs) {
  if (reaped_) return std::nullopt;
  int status = 0;
  if (!pollUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, deadlineMs)) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    reaped_ = true;
    return std::nullopt;
  }
  reaped_ = true;
  End e;
  e.exited = WIFEXITED(status);
  if (e.exited) e.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) e.signal = WTERMSIG(status);
  return e;
}

CliResult runCli(const std::vector<std::string>& args) {
  TempDir capture;
  std::string outPath = capture.file("out"), errPath = capture.file("err");
  pid_t pid = spawnCli(args, outPath, errPath);
  CliResult r;
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  r.out = slurp(outPath);
  r.err = slurp(errPath);
  return r;
}

CliResult runCliIn(const std::string& home, const std::string& args) {
  std::vector<std::string> all{"--home", home};
  std::istringstream words(args);
  for (std::string w; words >> w;) all.push_back(w);
  return runCli(all);
}

}  // namespace qk::test
