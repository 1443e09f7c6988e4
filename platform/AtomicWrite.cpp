#include "platform/AtomicWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace qk {

bool writeFileAtomic(const std::string& name, const std::string& data, std::string* error) {
  // Write through a symbolic link to the file it names.
  std::string path = name;
  char real[PATH_MAX];
  if (realpath(name.c_str(), real)) path = real;
  auto fail = [&](const char* step) {
    if (error) *error = std::string(step) + " " + path + ": " + std::strerror(errno);
    return false;
  };
  mode_t mode = 0644;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;

  std::string tmp = path + ".tmp" + std::to_string(getpid());
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return fail("create");
  const char* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      int saved = errno;
      close(fd);
      unlink(tmp.c_str());
      errno = saved;
      return fail("write");
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  bool synced = fsync(fd) == 0;
  int saved = errno;
  if (close(fd) != 0 && synced) {
    synced = false;
    saved = errno;
  }
  if (!synced) {
    unlink(tmp.c_str());
    errno = saved;
    return fail("flush");
  }
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    int saved = errno;
    unlink(tmp.c_str());
    errno = saved;
    return fail("replace");
  }
  if (error) error->clear();
  return true;
}

}  // namespace qk
