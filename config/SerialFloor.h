#pragma once
// What the profile may store as the next serial: never one that has already
// been handed out, nor one below the next fresh serial of the same form.
// Shared by every save of the profile (START, "Save INI", exit), so no caller
// can move the serial book backwards.
#include <mutex>
#include <set>
#include <string>

namespace qk {

// True when `a` comes before `b` in the counting order of serials: same
// length, the same fixed characters, and a smaller number in the digit places
// (hexadecimal ranks, case ignored). Serials of different forms are not ordered.
bool SerialBefore(const std::string& a, const std::string& b);

class SerialFloor {
 public:
  // Serials handed out fresh (not re-issues from the reuse queue), and the
  // next fresh serial after them.
  void issued(const std::string& serial);
  void advanceTo(const std::string& next);
  // `serial` unless it was handed out already or lies below the next fresh
  // serial; then the next fresh serial.
  std::string guard(const std::string& serial) const;
  std::set<std::string> issuedSerials() const;

 private:
  mutable std::mutex m_;
  std::set<std::string> issued_;
  std::string next_;
};

}  // namespace qk
