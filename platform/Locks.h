#pragma once
// Named objects shared between processes of one station: the single-instance
// marker and the scan/enumeration mutexes. A station is one program folder, so
// stations with different program folders (and parallel tests) never collide.
#include <memory>
#include <mutex>
#include <string>

namespace qk {

// Folder for lock files: $XDG_RUNTIME_DIR/qkstation, else /tmp/qkstation-<uid>.
std::string lockFolder();
// Lock file name for object `name` of the station in `programFolder`.
std::string lockFilePath(const std::string& name, const std::string& programFolder);

// The single-instance marker ("QKMP"): held for the life of the object.
class InstanceLock {
 public:
  InstanceLock(const std::string& name, const std::string& programFolder);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  // False when another process of the same station holds it.
  bool acquired() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// A named mutex: a recursive mutex for the threads of this process and a file
// lock for other processes of the same station. Waits without time limit.
class NamedLock {
 public:
  NamedLock(const std::string& name, const std::string& programFolder);
  ~NamedLock();
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;
  void lock();
  void unlock();

 private:
  std::recursive_mutex mutex_;
  std::string path_;
  int fd_ = -1;
  int depth_ = 0;
};

// True when the path lies on a network file system (NFS, SMB/CIFS, sshfs ...).
bool isRemotePath(const std::string& path);

}  // namespace qk
