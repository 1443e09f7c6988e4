#include "platform/BoundedRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qk {

ReadOutcome ReadBoundedFile(const std::string& path, std::string& data, std::string* error, std::size_t limit) {
  auto fail = [&](ReadOutcome o, const std::string& why) {
    if (error) *error = path + ": " + why;
    return o;
  };
  // Non-blocking, so opening a FIFO without a writer returns at once.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(errno == ENOENT ? ReadOutcome::Missing : ReadOutcome::Refused, std::strerror(errno));
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return fail(ReadOutcome::Refused, "not a regular file");
  }
  if (static_cast<std::size_t>(st.st_size) > limit) {
    close(fd);
    return fail(ReadOutcome::Refused, "larger than " + std::to_string(limit) + " bytes");
  }
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int saved = errno;
      close(fd);
      return fail(ReadOutcome::Refused, std::strerror(saved));
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
    if (out.size() > limit) {  // grew while being read
      close(fd);
      return fail(ReadOutcome::Refused, "larger than " + std::to_string(limit) + " bytes");
    }
  }
  close(fd);
  data = std::move(out);
  return ReadOutcome::Ok;
}

}  // namespace qk
