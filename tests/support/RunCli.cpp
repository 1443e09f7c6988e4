#include "support/RunCli.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
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

CliResult runCli(const std::vector<std::string>& args) {
  TempDir capture;
  std::string outPath = capture.file("out"), errPath = capture.file("err");
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
