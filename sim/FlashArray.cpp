#include "sim/FlashArray.h"

#include <cstring>
#include <istream>
#include <ostream>

#include "sim/StreamIo.h"

namespace qk::sim {

bool FlashArray::inRange(int channel, int slot, std::uint32_t block, std::uint32_t page) const {
  return channel >= 0 && channel < shape_.channels && slot >= 0 && slot < shape_.slots && block < shape_.blocks &&
         page < shape_.pagesPerBlock;
}

FlashResult FlashArray::read(int channel, int slot, std::uint32_t block, std::uint32_t page,
                             std::uint8_t* out) const {
  if (!inRange(channel, slot, block, page)) return FlashResult::OutOfRange;
  if (isBad(channel, slot, block)) {
    std::memset(out, 0x00, shape_.pageBytes);
    return FlashResult::Ok;
  }
  auto b = blocks_.find(key(channel, slot, block));
  if (b != blocks_.end()) {
    auto p = b->second.find(page);
    if (p != b->second.end()) {
      std::memcpy(out, p->second->data(), shape_.pageBytes);
      return FlashResult::Ok;
    }
  }
  std::memset(out, 0xFF, shape_.pageBytes);
  return FlashResult::Ok;
}

FlashResult FlashArray::program(int channel, int slot, std::uint32_t block, std::uint32_t page,
                                const std::uint8_t* in) {
  if (!inRange(channel, slot, block, page)) return FlashResult::OutOfRange;
  if (isBad(channel, slot, block)) return FlashResult::BadBlock;
  auto& pages = blocks_[key(channel, slot, block)];
  auto [it, fresh] = pages.try_emplace(page);
  if (!fresh) return FlashResult::NotErased;
  it->second = share(in);
  return FlashResult::Ok;
}

FlashArray::Page FlashArray::share(const std::uint8_t* in) {
  if (!last_ || std::memcmp(last_->data(), in, shape_.pageBytes) != 0) {
    last_ = std::make_shared<const std::vector<std::uint8_t>>(in, in + shape_.pageBytes);
  }
  return last_;
}

FlashResult FlashArray::erase(int channel, int slot, std::uint32_t block) {
  if (!inRange(channel, slot, block)) return FlashResult::OutOfRange;
  if (isBad(channel, slot, block)) return FlashResult::BadBlock;
  blocks_.erase(key(channel, slot, block));
  return FlashResult::Ok;
}

bool FlashArray::programmed(int channel, int slot, std::uint32_t block, std::uint32_t page) const {
  auto b = blocks_.find(key(channel, slot, block));
  return b != blocks_.end() && b->second.count(page) != 0;
}

void FlashArray::markBad(int channel, int slot, std::uint32_t block) {
  if (!inRange(channel, slot, block)) return;
  bad_.insert(key(channel, slot, block));
  blocks_.erase(key(channel, slot, block));
}

std::vector<std::uint32_t> FlashArray::badBlocks(int channel, int slot) const {
  std::vector<std::uint32_t> out;
  for (auto k : bad_) {
    if (k >> 32 == (key(channel, slot, 0) >> 32)) out.push_back(static_cast<std::uint32_t>(k));
  }
  return out;
}

bool FlashArray::isBad(int channel, int slot, std::uint32_t block) const {
  return !bad_.empty() && bad_.count(key(channel, slot, block)) != 0;
}

bool FlashArray::goodOnAllChannels(int slot, std::uint32_t block) const {
  for (int c = 0; c < shape_.channels; ++c) {
    if (isBad(c, slot, block)) return false;
  }
  return block < shape_.blocks;
}

void FlashArray::eraseAll() { blocks_.clear(); }

// Stream layout: shape (5 x u32), bad count + keys, block count, then per
// block its key, page count and (page number, page bytes) pairs.
void FlashArray::save(std::ostream& out) const {
  putU32(out, static_cast<std::uint32_t>(shape_.channels));
  putU32(out, static_cast<std::uint32_t>(shape_.slots));
  putU32(out, shape_.blocks);
  putU32(out, shape_.pagesPerBlock);
  putU32(out, shape_.pageBytes);
  putU64(out, bad_.size());
  for (auto k : bad_) putU64(out, k);
  putU64(out, blocks_.size());
  for (const auto& [k, pages] : blocks_) {
    putU64(out, k);
    putU32(out, static_cast<std::uint32_t>(pages.size()));
    for (const auto& [page, bytes] : pages) {
      putU32(out, page);
      out.write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
    }
  }
}

bool FlashArray::load(std::istream& in) {
  FlashShape s;
  std::uint32_t v[5];
  for (auto& x : v) {
    if (!getU32(in, x)) return false;
  }
  s.channels = static_cast<int>(v[0]);
  s.slots = static_cast<int>(v[1]);
  s.blocks = v[2];
  s.pagesPerBlock = v[3];
  s.pageBytes = v[4];
  if (!(s == shape_)) return false;
  std::uint64_t n = 0;
  if (!getU64(in, n)) return false;
  std::set<std::uint64_t> bad;
  for (std::uint64_t i = 0; i < n; ++i) {
    std::uint64_t k;
    if (!getU64(in, k)) return false;
    bad.insert(k);
  }
  if (!getU64(in, n)) return false;
  decltype(blocks_) blocks;
  for (std::uint64_t i = 0; i < n; ++i) {
    std::uint64_t k;
    std::uint32_t count;
    if (!getU64(in, k) || !getU32(in, count)) return false;
    auto& pages = blocks[k];
    for (std::uint32_t j = 0; j < count; ++j) {
      std::uint32_t page;
      if (!getU32(in, page) || page >= shape_.pagesPerBlock) return false;
      std::vector<std::uint8_t> bytes(shape_.pageBytes);
      if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) return false;
      pages[page] = share(bytes.data());
    }
  }
  bad_.insert(bad.begin(), bad.end());
  blocks_ = std::move(blocks);
  for (auto k : bad_) blocks_.erase(k);
  return true;
}

}  // namespace qk::sim
