#include "sim/SimDrive.h"

#include <algorithm>

#include "sim/AtaFamily.h"
#include "sim/ScsiFamily.h"

namespace qk::sim {

namespace {
// Tokens with which the controller itself answers on USB; all others are bridges.
bool isNativeToken(const std::string& t) {
  return t == "R20X" || t == "R21X" || t == "q21x" || t == "ice " || t == "k409";
}
}  // namespace

SimDrive::SimDrive(DriveSpec spec, std::unique_ptr<UserData> data)
    : spec_(std::move(spec)), nativeUsb_(isNativeToken(spec_.token)), data_(std::move(data)) {
  present_.store(spec_.plugged);
  families_.push_back(std::make_unique<ScsiFamily>());
  if (!nativeUsb_) families_.push_back(std::make_unique<AtaFamily>());
}

void SimDrive::addFamily(std::unique_ptr<SimCommandFamily> family) {
  std::lock_guard lock(mutex_);
  families_.push_back(std::move(family));
}

SimReply SimDrive::execute(const SimCommand& command) {
  std::lock_guard lock(mutex_);
  if (!present_.load()) return {SimReply::Outcome::Dropped};
  ++commandCount_;
  const auto& faults = spec_.faults;
  if (faults.pullAtCommand != 0 && commandCount_ == faults.pullAtCommand) {
    present_.store(false);
    return {SimReply::Outcome::Pulled};
  }
  auto hit = [&](const std::vector<CommandSelector>& list) {
    return std::any_of(list.begin(), list.end(),
                       [&](const CommandSelector& s) { return s.matches(command.cdb, command.cdbLength); });
  };
  if (hit(faults.fail)) return {SimReply::Outcome::Dropped};
  if (hit(faults.noAnswer)) return {SimReply::Outcome::NoAnswer};
  if (command.cdbLength == 0) return SimReply::invalidOpcode();
  for (auto it = families_.rbegin(); it != families_.rend(); ++it) {
    if ((*it)->accepts(*this, command)) return (*it)->execute(*this, command);
  }
  return SimReply::invalidOpcode();
}

}  // namespace qk::sim
