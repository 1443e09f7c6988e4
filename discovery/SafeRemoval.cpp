#include "discovery/SafeRemoval.h"

#include <thread>
#include <vector>

#include "platform/DebugOutput.h"

namespace qk {

bool SafeRemoval::removeAll(Scanner& scanner, Removal& removal, Operator& op) {
  if (scanner.deviceCount() == 0) return true;
  std::vector<std::string> targets;
  {
    std::lock_guard guard(scanner.scanLock());
    for (const PortContext& rec : scanner.ports()) {
      if (static_cast<int>(targets.size()) >= scanner.deviceCount()) break;
      if (rec.active) targets.push_back(rec.usbInstance.str());
    }
  }
  Clock& clock = scanner.clock();
  std::vector<std::thread> threads;
  for (const std::string& target : targets) {
    threads.emplace_back([&removal, &clock, target] {
      for (int attempt = 1; attempt <= Attempts; ++attempt) {
        if (removal.remove(target)) return;
        debugPrintf("removal of %s refused (attempt %d)", target.c_str(), attempt);
        if (attempt < Attempts) clock.sleepFor(RetryWaitMs);
      }
    });
  }
  for (auto& t : threads) t.join();
  scanner.scanDevices(false);
  if (scanner.deviceCount() != 0) {
    op.showMessage("Unable to remove all device!", "Warning", MessageIcon::Warning);
    return false;
  }
  return true;
}

}  // namespace qk
