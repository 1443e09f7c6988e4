#pragma once
// A port's own buffers: two of 64 KiB and one of 4 MiB. Never shared between
// ports. Zeroed pages come from calloc, so a port that never touches its large
// buffer costs no memory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace qk {

class WorkBuffers {
 public:
  static constexpr std::size_t kSmallSize = 64 * 1024;
  static constexpr std::size_t kLargeSize = 4 * 1024 * 1024;

  WorkBuffers();
  bool allocated() const { return first_ && second_ && large_; }

  std::uint8_t* first() { return first_.get(); }
  std::uint8_t* second() { return second_.get(); }
  std::uint8_t* large() { return large_.get(); }

 private:
  struct Free {
    void operator()(std::uint8_t* p) const { std::free(p); }
  };
  using Block = std::unique_ptr<std::uint8_t, Free>;
  static Block allocate(std::size_t n) { return Block(static_cast<std::uint8_t*>(std::calloc(n, 1))); }

  Block first_, second_, large_;
};

}  // namespace qk
