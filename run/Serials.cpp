#include "run/Serials.h"

#include <cctype>

namespace qk {

std::string IncrementSerial(const std::string& serial, bool decimal, bool* carriedOut) {
  if (carriedOut) *carriedOut = false;
  std::string s = serial;
  std::size_t end = s.find_first_of(std::string("\0\n", 2));
  if (end == std::string::npos) end = s.size();
  bool carry = end > 0;
  for (std::size_t i = end; i-- > 0;) {
    char& c = s[i];
    if (decimal) {
      if (c == '9') {
        c = '0';
        continue;  // carry
      }
      c = (c >= '0' && c <= '8') ? static_cast<char>(c + 1) : '0';
      carry = false;
      break;
    }
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (c == 'F') {
      c = '0';
      continue;
    }
    if ((c >= '0' && c <= '8') || (c >= 'A' && c <= 'E')) {
      c = static_cast<char>(c + 1);
    } else if (c == '9') {
      c = 'A';
    } else {
      c = '0';
    }
    carry = false;
    break;
  }
  if (carriedOut) *carriedOut = carry;
  return s;
}

std::string ElapsedText(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  std::int64_t h = seconds / 3600, m = seconds % 3600 / 60, s = seconds % 60;
  std::string text;
  if (h) text += std::to_string(h) + " Hour ";
  if (m) text += std::to_string(m) + " Min ";
  if (s) text += std::to_string(s) + " Sec";
  return text;
}

std::string SerialBook::take(const SerialPolicy& p) {
  if (p.reuseFailed && p.advance && read_ < queue_.size()) return queue_[read_++];
  std::string serial = next_;
  if (p.autoIncrement && p.advance) next_ = IncrementSerial(next_, p.decimal);
  return serial;
}

std::string SerialBook::runsOut(int ports, const SerialPolicy& p, const std::set<std::string>& issued) const {
  if (!p.autoIncrement || !p.advance) return {};
  std::size_t read = read_;
  std::string next = next_;
  std::set<std::string> seen;
  for (int k = 0; k < ports; ++k) {
    if (p.reuseFailed && read < queue_.size()) {
      ++read;
      continue;
    }
    seen.insert(next);
    bool carried = false;
    next = IncrementSerial(next, p.decimal, &carried);
    if (carried || seen.count(next) != 0 || issued.count(next) != 0) {
      const std::size_t end = next_.find_first_of(std::string("\0\n", 2));
      const std::size_t length = end == std::string::npos ? next_.size() : end;
      return "The serial number " + next_ + " runs out: " + std::to_string(ports) + " drives would count it past its " +
             std::to_string(length) + " characters and hand out serial numbers again. Please set a new serial number.";
    }
  }
  return {};
}

void SerialBook::endRun(const SerialPolicy& p, const std::vector<std::string>& failedDownloads) {
  if (!p.reuseFailed) return;
  std::vector<std::string> queue = failedDownloads;
  queue.insert(queue.end(), queue_.begin() + static_cast<std::ptrdiff_t>(read_), queue_.end());
  queue_ = std::move(queue);
  read_ = 0;
}

}  // namespace qk
