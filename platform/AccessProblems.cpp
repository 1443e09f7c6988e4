#include "platform/AccessProblems.h"

#include <cstdio>

namespace qk {

std::string AccessProblems::text(const std::string& node, Missing what) {
  if (what == Missing::NodeAccess) {
    return "No permission: " + node +
           " cannot be opened read-write (add the user to the group qkstation and install the udev rule)";
  }
  return "No permission: " + node +
         " refuses vendor commands without the capability CAP_SYS_RAWIO (setcap cap_sys_rawio+ep on the program)";
}

bool AccessProblems::report(const std::string& drive, const std::string& node, Missing what) {
  std::function<void(const std::string&)> listener;
  {
    std::lock_guard lock(mutex_);
    if (!reports_.emplace(drive, Entry{node, what}).second) return false;
    listener = listener_;
  }
  const std::string message = text(node, what);
  std::fprintf(stderr, "%s\n", message.c_str());
  if (listener) listener(message);
  return true;
}

std::string AccessProblems::find(const std::string& drive) const {
  std::lock_guard lock(mutex_);
  auto it = reports_.find(drive);
  return it == reports_.end() ? std::string() : text(it->second.node, it->second.what);
}

std::string AccessProblems::slotText(const std::string& drive) const {
  std::lock_guard lock(mutex_);
  auto it = reports_.find(drive);
  if (it == reports_.end()) return {};
  return it->second.what == Missing::NodeAccess ? "No permission (" + it->second.node + ")"
                                                : "No permission (CAP_SYS_RAWIO)";
}

void AccessProblems::setListener(std::function<void(const std::string&)> listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

}  // namespace qk
