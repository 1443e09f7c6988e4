#include "sim/LoaderArea.h"

#include <cstring>

#include "sim/StreamIo.h"

namespace qk::sim {

// Header page (little-endian):
// 0x000 "LDBK BLOCKS V30\0"   0x019 PageSectors   0x01A pages per block
// 0x020+4i system block i, 0x022+4i its flags (7)
// 0x200 "LDBK CONFIG V30\0"   0x210 write sequence number
// 0x218 offset of the firmware table (0x230)
// 0x230 file count; 0x238+4i first page of file i, 0x23A+4i its page count
bool FindLoaderHeader(const FlashArray& flash, LoaderArea& area) {
  std::vector<std::uint8_t> page(flash.shape().pageBytes);
  if (page.size() < 0x300) return false;
  for (std::uint32_t block = 0; block < 4; ++block) {
    if (flash.read(0, 0, block, 0, page.data()) != FlashResult::Ok) continue;
    if (std::memcmp(page.data(), kLoaderMagic, 16) != 0) continue;
    area.block = block;
    area.header = page;
    area.sequence = le16(page.data() + 0x210);
    area.systemBlocks.clear();
    for (int i = 0; i < 4; ++i) {
      if (le16(page.data() + 0x22 + 4 * i) == 7) area.systemBlocks.push_back(le16(page.data() + 0x20 + 4 * i));
    }
    area.files.clear();
    if (le32(page.data() + 0x218) == 0x230) {
      const int count = page[0x230];
      for (int i = 0; i < count && i < 2; ++i) {
        area.files.push_back({le16(page.data() + 0x238 + 4 * i), le16(page.data() + 0x23A + 4 * i)});
      }
    }
    return true;
  }
  return false;
}

bool ValidateLoaderArea(const FlashArray& flash, std::uint32_t pageSectors, LoaderArea& area, std::string& why) {
  const auto& h = area.header;
  const std::uint32_t pageBytes = flash.shape().pageBytes;
  if (h[0x19] != pageSectors) return why = "header page size differs from the flash", false;
  if (std::memcmp(h.data() + 0x200, kConfigMagic, 16) != 0) return why = "no config section", false;
  if (le32(h.data() + 0x218) != 0x230) return why = "firmware table offset is not 0x230", false;
  const int count = h[0x230];
  if (count != 1 && count != 2) return why = "firmware file count is not 1 or 2", false;
  area.firstPages.clear();
  std::vector<std::uint8_t> page(pageBytes);
  for (const auto& f : area.files) {
    const std::uint32_t last = static_cast<std::uint32_t>(f.firstPage) + f.pageCount - 1;
    if (f.firstPage < 8 || f.pageCount == 0 || last >= flash.shape().pagesPerBlock) {
      return why = "firmware table points outside the block", false;
    }
    if (flash.read(0, 0, area.block, f.firstPage, page.data()) != FlashResult::Ok ||
        std::memcmp(page.data() + 0x300, "QKSS", 4) != 0) {
      return why = "a firmware file's first page lacks QKSS", false;
    }
    area.firstPages.push_back(page);
    if (flash.read(0, 0, area.block, last, page.data()) != FlashResult::Ok ||
        le32(page.data() + pageBytes - 4) != kFileEndMark) {
      return why = "a firmware file's last page lacks its end mark", false;
    }
  }
  return true;
}

}  // namespace qk::sim
