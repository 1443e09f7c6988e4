#include "sim/SystemArea.h"

#include <cstring>

#include "sim/StreamIo.h"

namespace qk::sim {

namespace {

void sign(std::uint8_t* page, const std::uint8_t* tag) {
  std::memcpy(page, tag, 4);
  std::memcpy(page + 4, "QKR20X-V001", 12);  // and its zero byte
}

void programAll(FlashArray& flash, int slot, std::uint32_t block, std::uint32_t page,
                const std::vector<std::vector<std::uint8_t>>& perChannel) {
  for (int c = 0; c < flash.shape().channels; ++c) {
    if (!flash.programmed(c, slot, block, page)) flash.program(c, slot, block, page, perChannel[static_cast<size_t>(c)].data());
  }
}

}  // namespace

std::vector<std::uint16_t> FindSystemBlocks(const FlashArray& flash) {
  std::vector<std::uint16_t> out;
  for (std::uint32_t b = 0; b < flash.shape().blocks && b < 0xFFFF && out.size() < 4; ++b) {
    if (flash.goodOnAllChannels(0, b)) out.push_back(static_cast<std::uint16_t>(b));
  }
  return out;
}

bool HasFactoryTable(const FlashArray& flash, const std::vector<std::uint16_t>& systemBlocks) {
  if (systemBlocks.empty()) return false;
  std::vector<std::uint8_t> page(flash.shape().pageBytes);
  return flash.read(0, 0, systemBlocks[0], 1, page.data()) == FlashResult::Ok &&
         std::memcmp(page.data(), kFactoryTag, 4) == 0;
}

// Page contents (each page starts with 4 tag bytes, "QKR20X-V001" and 0):
//   factory table: per slot b the marker FB A0 b 00, then per bad block of
//                  this channel and slot: block (16-bit), 00, kind 0; end FE D1 00 00
//   later table:   end entry 00 FE
//   remap table:   nothing
//   SYSP:          A (16-bit) at 16, B at 20
//   bank later:    count 0 (16-bit) at 16
std::array<std::uint16_t, 2> WriteSystemArea(FlashArray& flash, const SystemAreaLayout& layout) {
  const FlashShape& shape = flash.shape();
  const size_t pageBytes = shape.pageBytes;
  flash.eraseAll();

  std::uint16_t lastSystem = 0;
  for (auto b : layout.systemBlocks) lastSystem = std::max(lastSystem, b);
  std::uint16_t a = 2;
  while (static_cast<std::uint32_t>(2 * a) <= lastSystem ||
         (2u * a < shape.blocks && !flash.goodOnAllChannels(0, 2u * a))) {
    ++a;
  }
  const std::uint16_t bValue = static_cast<std::uint16_t>(a + 1);

  std::vector<std::vector<std::uint8_t>> factory(static_cast<size_t>(shape.channels)),
      later(static_cast<size_t>(shape.channels)), remap(static_cast<size_t>(shape.channels)),
      sysp(static_cast<size_t>(shape.channels)), bankLater(static_cast<size_t>(shape.channels));
  for (int c = 0; c < shape.channels; ++c) {
    auto& f = factory[static_cast<size_t>(c)];
    f.assign(pageBytes, 0);
    sign(f.data(), kFactoryTag);
    size_t at = 16;
    auto entry = [&](std::uint16_t value, std::uint8_t b2, std::uint8_t b3) {
      if (at + 8 > pageBytes) return;  // keep room for the end marker
      setLe16(f.data() + at, value);
      f[at + 2] = b2;
      f[at + 3] = b3;
      at += 4;
    };
    for (int s = 0; s < shape.slots; ++s) {
      entry(0xA0FB, static_cast<std::uint8_t>(s), 0);
      for (auto block : flash.badBlocks(c, s)) entry(static_cast<std::uint16_t>(block), 0, 0);
    }
    setLe16(f.data() + at, 0xD1FE);

    auto& l = later[static_cast<size_t>(c)];
    l.assign(pageBytes, 0);
    sign(l.data(), kLaterTag);
    l[16] = 0x00;
    l[17] = 0xFE;

    auto& r = remap[static_cast<size_t>(c)];
    r.assign(pageBytes, 0);
    sign(r.data(), kRemapTag);

    auto& p = sysp[static_cast<size_t>(c)];
    p.assign(pageBytes, 0);
    std::memcpy(p.data(), "SYSP", 4);
    std::memcpy(p.data() + 4, "QKR20X-V001", 12);
    setLe16(p.data() + 16, a);
    setLe16(p.data() + 20, bValue);

    auto& bl = bankLater[static_cast<size_t>(c)];
    bl.assign(pageBytes, 0);
    sign(bl.data(), kBankLaterTag);
  }

  for (auto block : layout.systemBlocks) {
    programAll(flash, 0, block, 1, factory);
    programAll(flash, 0, block, 2, later);
    if (layout.remap) programAll(flash, 0, block, 3, remap);
    programAll(flash, 0, block, layout.remap ? 4 : 3, sysp);
  }
  // Later-table blocks are in the firmware's numbering: loader block 2 x n.
  for (int s = 0; s < shape.slots; ++s) {
    for (std::uint32_t d = 0; d < layout.dies; ++d) {
      std::uint32_t n = (s == 0 && d == 0) ? a : d * layout.altBlockCount + bValue;
      if (2 * n < shape.blocks) programAll(flash, s, 2 * n, 1, bankLater);
    }
  }
  return {a, bValue};
}

}  // namespace qk::sim
