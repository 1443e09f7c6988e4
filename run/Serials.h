#pragma once
// Serial numbers handed to the drives of a run, and the run's elapsed time text.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace qk {

// Steps the serial by one, from its last character backwards: decimal
// ("9" -> "0" with carry, other non-digits -> "0" and stop) or hexadecimal
// (upper-cased on the way, "F" -> "0" with carry, "9" -> "A"). A carry out of
// the first character is dropped. Only the text before a NUL or line feed counts.
// `carriedOut` (optional) tells whether that happened.
std::string IncrementSerial(const std::string& serial, bool decimal, bool* carriedOut = nullptr);

// "1 Hour 2 Min 3 Sec"; parts that are zero are left out; 0 gives "".
std::string ElapsedText(std::int64_t seconds);

struct SerialPolicy {
  bool autoIncrement = false;  // SNIncChk
  bool decimal = false;        // SNDecimal
  bool reuseFailed = false;    // SNErrReuse
  bool advance = false;        // not claim new, and the download is enabled
};

// Hands out serials over runs. Apart from the deliberate reissue of failed
// drives' serials from the reuse queue, a serial is never handed out twice:
// queued serials don't move the fresh sequence, which resumes where it stood.
class SerialBook {
 public:
  explicit SerialBook(std::string next) : next_(std::move(next)) {}

  // The serial of the next active port of the run, in slot order.
  std::string take(const SerialPolicy& policy);
  // At the run's end: the serials of this run's ports whose download failed,
  // in slot order, go before the unread rest of the old queue.
  void endRun(const SerialPolicy& policy, const std::vector<std::string>& failedDownloads);

  // Why `ports` more takes would hand out a serial again (the count carrying
  // out of the serial's length, or coming back to one already taken); empty
  // when they would not. The book itself is not changed.
  std::string runsOut(int ports, const SerialPolicy& policy, const std::set<std::string>& issued = {}) const;

  // The next fresh serial: what the profile stores and the page shows.
  const std::string& next() const { return next_; }
  void setNext(std::string s) { next_ = std::move(s); }
  std::size_t queued() const { return queue_.size() - read_; }

 private:
  std::string next_;
  std::vector<std::string> queue_;
  std::size_t read_ = 0;
};

}  // namespace qk
