#include "platform/Locks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <functional>

namespace qk {

namespace {
bool directoryWritable(const char* dir) {
  struct stat st {};
  return stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && access(dir, W_OK) == 0;
}
}  // namespace

std::string lockFolder() {
  std::string dir;
  if (const char* rt = std::getenv("XDG_RUNTIME_DIR"); rt && *rt) {
    dir = std::string(rt) + "/qkstation";
  } else {
    dir = "/tmp/qkstation-" + std::to_string(getuid());
  }
  mkdir(dir.c_str(), 0700);
  return dir;
}

std::string lockFilePath(const std::string& name, const std::string& programFolder) {
  char real[4096];
  std::string key = realpath(programFolder.c_str(), real) ? std::string(real) : programFolder;
  char hash[32];
  std::snprintf(hash, sizeof hash, "%016zx", std::hash<std::string>{}(key));
  return lockFolder() + "/" + name + "." + hash + ".lock";
}

std::string machineLockFolder() {
  std::string dir = directoryWritable("/run/lock") ? "/run/lock/qkstation" : "/tmp/qkstation-machine";
  if (mkdir(dir.c_str(), 01777) == 0) chmod(dir.c_str(), 01777);  // every user's stations meet here
  return dir;
}

InstanceLock::InstanceLock(const std::string& name, const std::string& programFolder, bool machineWide) {
  std::string path = machineWide ? machineLockFolder() + "/" + name + ".lock" : lockFilePath(name, programFolder);
  // The machine-wide file is shared by every user's stations: whoever made it
  // first, the next one must still be able to open it.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, machineWide ? 0666 : 0600);
  if (fd < 0) {
    std::fprintf(stderr, "cannot open the lock file %s: %s\n", path.c_str(), std::strerror(errno));
    return;
  }
  if (machineWide) fchmod(fd, 0666);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return;
  }
  fd_ = fd;
}

namespace {

// The lock file of a path: named after the real path of its folder and its
// own name (the file itself may not exist yet, or be replaced by a save).
std::string pathKey(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  char real[4096];
  if (realpath(p.c_str(), real)) return real;
  const auto slash = p.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : p.substr(0, slash == 0 ? 1 : slash);
  const std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
  if (realpath(dir.c_str(), real)) return std::string(real) + "/" + name;
  return p;
}

}  // namespace

PathLock::~PathLock() {
  if (fd_ >= 0) close(fd_);
}

std::string PathLock::keyOf(const std::string& path) { return pathKey(path); }

std::unique_ptr<PathLock> PathLock::fileInUse(const std::string& path) {
  std::unique_ptr<PathLock> lock(new PathLock);
  lock->key_ = pathKey(path);
  char hash[32];
  std::snprintf(hash, sizeof hash, "%016zx", std::hash<std::string>{}(lock->key_));
  const std::string file = machineLockFolder() + "/path." + hash + ".lock";
  int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return lock;
  fchmod(fd, 0666);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    lock->busy_ = errno == EWOULDBLOCK;
    close(fd);
    return lock;
  }
  lock->fd_ = fd;
  return lock;
}

std::unique_ptr<PathLock> PathLock::deviceNode(const std::string& devicePath) {
  std::unique_ptr<PathLock> lock(new PathLock);
  int fd = open(devicePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return lock;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    lock->busy_ = errno == EWOULDBLOCK;
    close(fd);
    return lock;
  }
  lock->fd_ = fd;
  return lock;
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) close(fd_);  // closing releases the lock
}

NamedLock::NamedLock(const std::string& name, const std::string& programFolder)
    : path_(lockFilePath(name, programFolder)) {}

NamedLock::~NamedLock() {
  if (fd_ >= 0) close(fd_);
}

void NamedLock::lock() {
  mutex_.lock();
  if (depth_++ > 0) return;
  if (fd_ < 0) fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ >= 0) {
    while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
}

void NamedLock::unlock() {
  if (--depth_ == 0 && fd_ >= 0) flock(fd_, LOCK_UN);
  mutex_.unlock();
}

namespace {

// FUSE carries local and network file systems alike; the mount table tells which.
bool isNetworkFuse(const std::string& path) {
  char real[4096];
  if (!realpath(path.c_str(), real)) return false;
  std::string target(real);
  FILE* f = std::fopen("/proc/self/mounts", "r");
  if (!f) return false;
  std::string bestType;
  size_t bestLen = 0;
  char dev[4096], dir[4096], type[256];
  while (std::fscanf(f, "%4095s %4095s %255s %*[^\n]", dev, dir, type) == 3) {
    std::string d(dir);
    bool under = target == d || d == "/" || (target.compare(0, d.size(), d) == 0 && target[d.size()] == '/');
    if (under && d.size() >= bestLen) {
      bestLen = d.size();
      bestType = type;
    }
  }
  std::fclose(f);
  for (const char* net : {"fuse.sshfs", "fuse.rclone", "fuse.s3fs", "fuse.curlftpfs", "fuse.gcsfuse", "fuse.davfs"}) {
    if (bestType == net) return true;
  }
  return false;
}

}  // namespace

bool isRemotePath(const std::string& path) {
  struct statfs st {};
  if (statfs(path.c_str(), &st) != 0) return false;
  if (static_cast<unsigned long>(st.f_type) == 0x65735546UL) return isNetworkFuse(path);
  switch (static_cast<unsigned long>(st.f_type)) {
    case 0x6969UL:      // NFS
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x517BUL:      // SMB
    case 0x564C:        // NCP
    case 0x73757245UL:  // Coda
    case 0x6B414653UL:  // AFS
    case 0x5346414FUL:  // OpenAFS
    case 0x19830326UL:  // FhGFS/BeeGFS
    case 0x47504653UL:  // GPFS
    case 0x0BD00BD0UL:  // Lustre
    case 0x00C36400UL:  // Ceph
      return true;
    default:
      return false;
  }
}

}  // namespace qk
