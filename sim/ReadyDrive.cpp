#include "sim/ReadyDrive.h"

#include <cstring>
#include <vector>

#include "sim/LoaderArea.h"
#include "sim/SampleData.h"
#include "sim/StreamIo.h"
#include "sim/SystemArea.h"

namespace qk::sim {

namespace {

constexpr std::uint16_t kDefaultReservedRatio = 68;
constexpr const char* kDefaultModel = "Talvery QKR2XX SSD";
constexpr const char* kDefaultRevision = "12345678";

SystemAreaLayout layoutFor(const FlashArray& flash, const FlashType& type) {
  SystemAreaLayout layout;
  layout.systemBlocks = FindSystemBlocks(flash);
  layout.dies = type.dies();
  layout.altBlockCount = type.altBlockCount;
  return layout;
}

// Flash parameter record, firmware form (40 bytes at 0x500, then the chip-enable map):
// +0 ID word  +2 flags  +3 channels  +4 banks  +5 ECC  +6 drive current
// +8 reserved ratio low  +9 feature code  +A option code  +B chip enables per package
// +10 system blocks (4 x 16-bit)  +18 64  +1A ratio high
// +20 read threshold, ECC copy threshold, wear level frequency, security counter
// +28 chip-enable map (8 bytes)
void writeRecord(std::uint8_t* r, const FlashArray& flash, const FlashType& type,
                 const std::vector<std::uint16_t>& systemBlocks) {
  std::memset(r, 0, 0x30);
  setLe16(r, type.idWord);
  r[2] = static_cast<std::uint8_t>((type.twoPlane ? 0x02 : 0) | (type.column12 ? 0x20 : 0));
  r[3] = static_cast<std::uint8_t>(flash.shape().channels);
  r[4] = static_cast<std::uint8_t>(flash.shape().slots);
  r[5] = type.eccMode == 2 ? 1 : 0;
  r[6] = 1;
  r[8] = kDefaultReservedRatio & 0xFF;
  r[9] = flash.shape().slots > 2 ? 0x08 : 0;
  r[0x0A] = 0x30;
  r[0x0B] = type.cePerPackage;
  for (size_t i = 0; i < 4; ++i) setLe16(r + 0x10 + 2 * i, i < systemBlocks.size() ? systemBlocks[i] : 0);
  r[0x18] = 64;
  r[0x1A] = kDefaultReservedRatio >> 8;
  r[0x20] = type.eccMode == 2 ? 20 : 13;
  r[0x21] = type.eccMode == 2 ? 15 : 6;
  r[0x22] = 128;
  r[0x23] = 5;
  for (int s = 0; s < 8; ++s) r[0x28 + s] = s < flash.shape().slots ? type.ceNumber(s) : 0;
}

// ATA text: space padded, the two bytes of every word swapped.
void putSwapped(std::uint8_t* at, size_t width, const std::string& text) {
  std::memset(at, ' ', width);
  for (size_t i = 0; i < text.size() && i < width; ++i) at[i % 2 ? i - 1 : i + 1] = static_cast<std::uint8_t>(text[i]);
}

// USB string descriptor: length 2n + 2, the type byte kept, UTF-16LE characters.
void putUsbString(std::uint8_t* at, const std::string& text) {
  at[0] = static_cast<std::uint8_t>(2 * text.size() + 2);
  for (size_t i = 0; i < text.size(); ++i) {
    at[2 + 2 * i] = static_cast<std::uint8_t>(text[i]);
    at[3 + 2 * i] = 0;
  }
}

}  // namespace

std::string ReadySerial(const std::string& driveName) {
  std::string s = driveName;
  if (s.size() < 12) s.insert(0, 12 - s.size(), '0');
  return s.substr(s.size() - 12);
}

void SeedFormatted(FlashArray& flash, const FlashType& type) { WriteSystemArea(flash, layoutFor(flash, type)); }

void SeedReady(FlashArray& flash, const FlashType& type, const std::string& serial, bool nativeUsb) {
  const SystemAreaLayout layout = layoutFor(flash, type);
  if (layout.systemBlocks.size() < 4) return;
  WriteSystemArea(flash, layout);
  const FlashShape& shape = flash.shape();
  const size_t pageBytes = shape.pageBytes;
  const char form = nativeUsb ? 'U' : 'S';
  const std::string image = SampleFirmwareImage(form);
  const std::uint32_t pageSectors = static_cast<std::uint32_t>(pageBytes / 512);
  const std::uint32_t sizeKb = static_cast<std::uint32_t>((image.size() + 1023) / 1024);
  const std::uint16_t pages = static_cast<std::uint16_t>((sizeKb + pageSectors / 2 - 1) / (pageSectors / 2));

  // Header page, laid out as the download writes it.
  std::vector<std::uint8_t> header(pageBytes, 0);
  std::memcpy(header.data(), kLoaderMagic, 16);
  std::memcpy(header.data() + 0x10, "21X V2 ", 8);
  header[0x19] = static_cast<std::uint8_t>(pageSectors);
  setLe16(header.data() + 0x1A, shape.pagesPerBlock <= 512 ? shape.pagesPerBlock : 0);
  for (size_t i = 0; i < layout.systemBlocks.size(); ++i) {
    setLe16(header.data() + 0x20 + 4 * i, layout.systemBlocks[i]);
    setLe16(header.data() + 0x22 + 4 * i, 7);
  }
  std::memcpy(header.data() + 0x200, kConfigMagic, 16);
  setLe16(header.data() + 0x210, 1);
  setLe32(header.data() + 0x218, 0x230);
  setLe32(header.data() + 0x21C, 0x280);
  header[0x230] = 1;
  setLe16(header.data() + 0x234, 8);
  setLe16(header.data() + 0x236, 8 + pages - 1);
  setLe16(header.data() + 0x238, 8);
  setLe16(header.data() + 0x23A, pages);
  std::memcpy(header.data() + 0x260, type.name.c_str(), std::min<size_t>(type.name.size(), 20));
  setLe16(header.data() + 0x280, 12);
  static const std::uint8_t constants[60] = {
      0x20, 0x49, 0x00, 0xB0, 0x21, 0x49, 0x00, 0xB0, 0x22, 0x49, 0x00, 0xB0, 0x23, 0x49, 0x00,
      0xB0, 0x01, 0x02, 0x03, 0x04, 0x24, 0x49, 0x00, 0xB0, 0x25, 0x49, 0x00, 0xB0, 0x26, 0x49,
      0x00, 0xB0, 0x27, 0x49, 0x00, 0xB0, 0x05, 0x06, 0x07, 0x08, 0x28, 0x49, 0x00, 0xB0, 0x29,
      0x49, 0x00, 0xB0, 0x2A, 0x49, 0x00, 0xB0, 0x2B, 0x49, 0x00, 0xB0, 0x09, 0x0A, 0x0B, 0x0C};
  std::memcpy(header.data() + 0x284, constants, sizeof constants);
  writeRecord(header.data() + 0x500, flash, type, layout.systemBlocks);

  // Firmware pages, the first one patched with the parameters and the identity.
  std::vector<std::vector<std::uint8_t>> fw(pages, std::vector<std::uint8_t>(pageBytes, 0xFF));
  for (size_t k = 0; k < pages; ++k) {
    size_t from = k * pageBytes;
    if (from < image.size()) {
      std::memcpy(fw[k].data(), image.data() + from, std::min(pageBytes, image.size() - from));
    }
  }
  std::uint8_t* first = fw[0].data();
  writeRecord(first + 0x500, flash, type, layout.systemBlocks);
  if (form == 'S') {
    putSwapped(first + 0x60, 20, serial);
    putSwapped(first + 0x7A, 8, kDefaultRevision);
    putSwapped(first + 0x82, 40, kDefaultModel);
  } else {
    putUsbString(first + 0x9E, "");
    putUsbString(first + 0xC0, "");
    putUsbString(first + 0xF2, serial);
  }
  setLe32(fw.back().data() + pageBytes - 4, kFileEndMark);

  for (auto block : layout.systemBlocks) {
    for (int c = 0; c < shape.channels; ++c) {
      header[0x18] = static_cast<std::uint8_t>(c);
      flash.program(c, 0, block, 0, header.data());
      for (size_t k = 0; k < pages; ++k) flash.program(c, 0, block, static_cast<std::uint32_t>(8 + k), fw[k].data());
    }
  }
}

}  // namespace qk::sim
