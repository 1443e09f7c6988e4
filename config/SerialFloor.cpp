#include "config/SerialFloor.h"

#include <cctype>

namespace qk {

namespace {

int digitRank(char c) {
  const int u = std::toupper(static_cast<unsigned char>(c));
  if (u >= '0' && u <= '9') return u - '0';
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  return -1;
}

}  // namespace

bool SerialBefore(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  int order = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const int ra = digitRank(a[i]), rb = digitRank(b[i]);
    if (ra < 0 || rb < 0) {
      if (a[i] != b[i]) return false;  // another form of serial
      continue;
    }
    if (order == 0 && ra != rb) order = ra < rb ? -1 : 1;
  }
  return order < 0;
}

void SerialFloor::issued(const std::string& serial) {
  std::lock_guard lock(m_);
  issued_.insert(serial);
}

void SerialFloor::advanceTo(const std::string& next) {
  std::lock_guard lock(m_);
  if (next_.empty() || !SerialBefore(next, next_)) next_ = next;
}

std::string SerialFloor::guard(const std::string& serial) const {
  std::lock_guard lock(m_);
  if (next_.empty()) return serial;
  if (issued_.count(serial) != 0 || SerialBefore(serial, next_)) return next_;
  return serial;
}

std::set<std::string> SerialFloor::issuedSerials() const {
  std::lock_guard lock(m_);
  return issued_;
}

}  // namespace qk
