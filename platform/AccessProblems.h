#pragma once
// Permission failures met on the way to a drive, one report per drive: the
// node and what is missing, on stderr and to the front end's status line.
// The slot of such a drive says so instead of "bridge not recognised".
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace qk {

class AccessProblems {
 public:
  enum class Missing {
    NodeAccess,  // the node cannot be opened read-write
    RawIo,       // the kernel refuses vendor and ATA pass-through commands
  };

  // Records a failure on `drive` (the bound device path) at `node` (the node
  // actually opened). True, with stderr and the listener told, the first time
  // for that drive; later failures of the same drive are not repeated.
  bool report(const std::string& drive, const std::string& node, Missing what);
  // The report of a drive; empty when none.
  std::string find(const std::string& drive) const;
  // The short form for the drive's slot; empty when none.
  std::string slotText(const std::string& drive) const;
  // Called with each new report's text, from the reporting thread.
  void setListener(std::function<void(const std::string&)> listener);

  static std::string text(const std::string& node, Missing what);

 private:
  struct Entry {
    std::string node;
    Missing what;
  };
  mutable std::mutex mutex_;
  std::map<std::string, Entry> reports_;
  std::function<void(const std::string&)> listener_;
};

}  // namespace qk
