#include "platform/ProgramFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <vector>

namespace qk {

ProgramFolder::ProgramFolder(std::string dir) : dir_(std::move(dir)) {
  if (dir_.empty()) dir_ = "./";
  if (dir_.back() != '/') dir_ += '/';
}

ProgramFolder ProgramFolder::ofExecutable() {
  std::vector<char> buf(PATH_MAX + 1, '\0');
  ssize_t n = readlink("/proc/self/exe", buf.data(), PATH_MAX);
  if (n <= 0) return ProgramFolder("./");
  std::string exe(buf.data(), static_cast<size_t>(n));
  auto slash = exe.rfind('/');
  return ProgramFolder(slash == std::string::npos ? std::string("./") : exe.substr(0, slash + 1));
}

std::string ProgramFolder::resolve(const std::string& name) const {
  if (isAbsoluteName(name)) return name;
  return dir_ + name;
}

bool isAbsoluteName(const std::string& name) {
  return (!name.empty() && name[0] == '/') || name.find(":\\") != std::string::npos;
}

std::string bareFileName(const std::string& path) {
  auto pos = path.find_last_of("/\\");
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

bool fileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool directoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace qk
