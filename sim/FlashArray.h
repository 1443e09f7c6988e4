#pragma once
// The flash of a simulated drive: channels x chip-enable slots x blocks x
// pages. Only programmed pages take memory. Pages behave as flash does: a
// page is programmed once after its block was erased.
#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace qk::sim {

struct FlashShape {
  int channels = 1;
  int slots = 1;
  std::uint32_t blocks = 0;         // per chip enable
  std::uint32_t pagesPerBlock = 0;
  std::uint32_t pageBytes = 0;
  bool operator==(const FlashShape&) const = default;
};

enum class FlashResult { Ok, OutOfRange, BadBlock, NotErased };

class FlashArray {
 public:
  explicit FlashArray(FlashShape shape) : shape_(shape) {}
  const FlashShape& shape() const { return shape_; }

  bool inRange(int channel, int slot, std::uint32_t block, std::uint32_t page = 0) const;
  // `out` receives pageBytes: 0xFF when erased, 0x00 in a bad block.
  FlashResult read(int channel, int slot, std::uint32_t block, std::uint32_t page, std::uint8_t* out) const;
  FlashResult program(int channel, int slot, std::uint32_t block, std::uint32_t page, const std::uint8_t* in);
  FlashResult erase(int channel, int slot, std::uint32_t block);
  bool programmed(int channel, int slot, std::uint32_t block, std::uint32_t page) const;

  void markBad(int channel, int slot, std::uint32_t block);
  // Bad blocks of one chip, in increasing order.
  std::vector<std::uint32_t> badBlocks(int channel, int slot) const;
  bool isBad(int channel, int slot, std::uint32_t block) const;
  // Good on every channel of the slot.
  bool goodOnAllChannels(int slot, std::uint32_t block) const;
  // Every good block of every chip erased.
  void eraseAll();

  void save(std::ostream& out) const;
  // False when the stream is damaged or holds another shape.
  bool load(std::istream& in);

 private:
  static std::uint64_t key(int channel, int slot, std::uint32_t block) {
    return (static_cast<std::uint64_t>(channel) << 40) | (static_cast<std::uint64_t>(slot) << 32) | block;
  }
  // A programmed page never changes, so equal pages share their bytes: the
  // firmware goes to every channel and every block of a list, and a drive
  // storing each copy again costs more than the rest of its run.
  using Page = std::shared_ptr<const std::vector<std::uint8_t>>;
  Page share(const std::uint8_t* in);

  FlashShape shape_;
  std::map<std::uint64_t, std::map<std::uint32_t, Page>> blocks_;
  Page last_;  // the page programmed last
  std::set<std::uint64_t> bad_;
};

}  // namespace qk::sim
