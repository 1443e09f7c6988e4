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

// Folder for machine-wide lock files, shared by every user of the machine.
std::string machineLockFolder();

// The single-instance marker ("QKMP"): held for the life of the object. Per
// program folder on a bench; machine-wide on real drives, where two stations
// would drive the same disks.
class InstanceLock {
 public:
  InstanceLock(const std::string& name, const std::string& programFolder, bool machineWide = false);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  // False when another process of the same station holds it.
  bool acquired() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// An exclusive, non-blocking advisory lock held for the life of the object.
// FileInUseLock: on a file or folder of the station (the profile, the log
// folder), through a lock file named after its real path, so that it survives
// the file being replaced. DeviceNodeLock: on a drive's device node itself.
class PathLock {
 public:
  ~PathLock();
  PathLock(const PathLock&) = delete;
  PathLock& operator=(const PathLock&) = delete;
  // False when another holder has it (or the lock file cannot be made).
  bool acquired() const { return fd_ >= 0; }

  static std::unique_ptr<PathLock> fileInUse(const std::string& path);
  // Not acquired also when the node cannot be opened (a bench drive has no node).
  static std::unique_ptr<PathLock> deviceNode(const std::string& devicePath);
  bool busy() const { return busy_; }  // another holder has it
  // The real path the lock stands for: two names of one file give one key.
  static std::string keyOf(const std::string& path);
  const std::string& key() const { return key_; }

 private:
  PathLock() = default;
  int fd_ = -1;
  bool busy_ = false;
  std::string key_;
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
