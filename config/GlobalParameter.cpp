#include "config/GlobalParameter.h"

#include "platform/LittleEndian.h"

#include <algorithm>
#include <cstdlib>

namespace qk {

namespace {

std::uint8_t lo(std::int64_t v) { return static_cast<std::uint8_t>(v & 0xFF); }

// Index of the lowest set bit; 0 for 0.
int log2Low(std::uint32_t v) {
  if (v == 0) return 0;
  int n = 0;
  while (((v >> n) & 1U) == 0) ++n;
  return n;
}


// ATA strings: space-padded, the two bytes of every word swapped.
void putAtaText(std::span<std::uint8_t> b, std::size_t at, std::size_t width, const std::string& text) {
  std::fill_n(b.begin() + static_cast<std::ptrdiff_t>(at), width, ' ');
  std::size_t n = std::min(text.size(), width);
  for (std::size_t i = 0; i < n; ++i) {
    std::size_t pos = (i % 2 == 0) ? i + 1 : i - 1;
    b[at + pos] = static_cast<std::uint8_t>(text[i]);
  }
}

void putUtf16Spaces(std::span<std::uint8_t> b, std::size_t from, std::size_t toInclusive) {
  for (std::size_t i = from; i + 1 <= toInclusive; i += 2) {
    b[i] = 0x20;
    b[i + 1] = 0x00;
  }
}

// A USB string descriptor: length byte, the type byte left as the image has it, UTF-16LE characters.
void putStringDescriptor(std::span<std::uint8_t> b, std::size_t at, const std::string& text, std::size_t maxChars) {
  std::size_t n = std::min(text.size(), maxChars);
  b[at] = static_cast<std::uint8_t>(2 * n + 2);
  for (std::size_t i = 0; i < n; ++i) {
    b[at + 2 + 2 * i] = static_cast<std::uint8_t>(text[i]);
    b[at + 3 + 2 * i] = 0x00;
  }
}

std::uint16_t parseHexId(const std::string& text) {
  std::string t = text;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t = t.substr(2);
  if (t.empty()) return 0;
  char* end = nullptr;
  unsigned long v = std::strtoul(t.c_str(), &end, 16);
  return static_cast<std::uint16_t>(v & 0xFFFF);
}

}  // namespace

void ApplyLoadTimeMirrors(const LoadTimeMirrors& m, GlobalParameter& gp) {
  gp.OptionBytes[1] = lo(m.usbLedP14);
  gp.UsbRemovable = lo(m.usbRemovable);
  gp.DirtyDepth = static_cast<std::uint16_t>(m.dirtyDepth & 0xFFFF);
  gp.LedInterleave = m.ledInterleave;
  gp.IdeUdma5 = lo(m.ideUdma5);
  gp.DumpDebugFile = lo(m.dumpDebugFile);
  gp.EnSaveDefectTable = lo(m.enSaveDefectTable);
  gp.CheckFlashMask = lo(m.checkFlashMask);
}

FlashGeometry DeriveGeometry(std::uint16_t id, std::uint8_t twoPlane, std::uint8_t ceCount, std::uint8_t bank) {
  static constexpr std::uint8_t kPageSectors[8] = {4, 8, 16, 0, 0, 0, 0, 0};
  static constexpr std::uint16_t kBlockPage[8] = {64, 128, 256, 512, 0, 0, 0, 0};
  static constexpr std::uint16_t kTotalBlock[8] = {2048, 4096, 8192, 16384, 1024, 0, 0, 0};
  FlashGeometry g;
  g.PageSectors = kPageSectors[id & 7];
  g.BlockPage = kBlockPage[(id >> 3) & 7];
  if (twoPlane != 0) g.BlockPage = static_cast<std::uint16_t>(g.BlockPage / 2);
  g.TotalBlock = kTotalBlock[(id >> 6) & 7];
  g.Die = static_cast<std::uint8_t>(1U << ((id >> 9) & 3));
  g.HalfDieBlocks = static_cast<std::uint16_t>(g.TotalBlock / 2 / g.Die);
  // Chip enables of a bank sit in groups of four; the map holds eight entries.
  // A catalogue entry without chip enables leaves the map empty instead of looping.
  std::size_t n = 0;
  unsigned base = 0;
  while (ceCount > 0 && n < bank && n < g.CEMap.size()) {
    for (unsigned k = 0; k < ceCount && n < g.CEMap.size(); ++k) g.CEMap[n++] = static_cast<std::uint8_t>(base + k);
    base += 4;
  }
  return g;
}

std::optional<std::string> UnusableFlashGeometry(const FlashGeometry& g) {
  if (g.PageSectors == 0) return "a page size of 0";
  if (g.BlockPage == 0) return "0 pages per block";
  if (g.TotalBlock == 0) return "0 blocks per chip enable";
  if (g.Die == 0 || g.HalfDieBlocks == 0) return "0 blocks per die";
  return std::nullopt;
}

std::vector<std::string> GetGlobalParameter(ProfileSettings& s, const FlashCatalogue& catalogue,
                                            const FirmwareTexts& firmware, GlobalParameter& gp) {
  // 1-2: the flash type, entry 0 when the name is unknown.
  FlashTypeRecord type;
  int index = catalogue.findUnique(s.FlashUniName);
  if (index < 0) index = 0;
  if (static_cast<std::size_t>(index) < catalogue.types.size()) type = catalogue.types[static_cast<std::size_t>(index)];
  gp.FlashIdWord = type.flashIdWord;
  gp.Channel = lo(s.Channel);
  gp.Bank = lo(s.Bank);
  gp.CECount = type.ceCount;
  gp.EccMode = lo(type.eccMode);
  gp.TwoPlane = type.twoPlane;
  gp.PartNumber = type.partNumber.substr(0, 19);
  gp.FeatureBytes.fill(0);
  gp.FeatureBytes[7] = type.featureBit;
  gp.OptionBytes[2] = type.optionBit;
  gp.Column12Flag = lo(type.flagBit5);
  gp.ExtraWordA = type.extraWordA;
  gp.AltBlockCount = type.altBlockCount;
  gp.TableSelect = type.tableSelect;
  gp.OptionBytes[2] = 0;
  gp.ExtraWordA = 0;

  // 3: feature flags.
  bool newFamily = (firmware.family == "21" || firmware.family == "20") && firmware.sataVersion >= "100205";
  gp.FeatureFlags = static_cast<std::uint8_t>((s.EnTrimCmd ? 0x01 : 0) | (s.EnThermalSensor ? 0x02 : 0) |
                                              (newFamily ? 0x04 : 0) | (s.SpecialMode ? 0x08 : 0) |
                                              (s.EnSizeAlignment ? 0x10 : 0) | 0x20 | (s.SataLBA48 ? 0x40 : 0));

  // 4: geometry, block code, capacity.
  gp.geometry = DeriveGeometry(gp.FlashIdWord, gp.TwoPlane, gp.CECount, gp.Bank);
  const FlashGeometry& g = gp.geometry;
  std::uint32_t capacity = static_cast<std::uint32_t>(g.PageSectors / 2) * g.BlockPage * (g.TotalBlock / 1024U) *
                           gp.Channel * gp.Bank / 1024U;
  gp.CapacityGB = static_cast<std::uint16_t>(capacity & 0xFFFF);
  std::uint32_t x = gp.AltBlockCount != 0 ? static_cast<std::uint32_t>(g.Die) * gp.AltBlockCount * 2 : g.TotalBlock;
  auto b = static_cast<std::uint16_t>((x / g.Die) & 0xFFFF);
  bool bit4 = !(gp.familyCode() == 2 && gp.Column12Flag == 0);
  gp.BlockCode = static_cast<std::uint8_t>((bit4 ? 0x10 : 0) | (((log2Low(b) - 10) & 3) << 2) |
                                           ((log2Low(g.BlockPage) - 6) & 3));

  // 5-7.
  std::copy(std::begin(type.idBytes), std::end(type.idBytes), gp.FlashExtra.begin());
  gp.DefectRatio = lo(s.DefPercentage);
  gp.ReservedRatio = static_cast<std::uint16_t>(s.ResPercentage & 0xFFFF);
  gp.OptionBytes[0] = 0;
  gp.OptionBytes[3] = 0;
  gp.OptionBytes[4] = firmware.family == "21" ? 1 : 0;
  gp.OptionBytes[5] = 0;
  gp.ControlBytesA = {0x00, 0x00, 0x00, 0x00, 0x9B, 0x39, 0x54};
  gp.TmcBytes = {0x11, 0x11, 0x11, 0x00, 0x9B, 0xF9, 0x54};

  // 8: the flash details box.
  std::vector<std::string> details;
  bool mlc = (gp.FlashIdWord >> 11) & 1;
  details.push_back(std::string(mlc ? "Type: MLC," : "Type: SLC,") + " Die: " + std::to_string(g.Die));
  details.push_back("TotalBlock: " + std::to_string(g.TotalBlock) +
                    ", BlockPage: " + std::to_string(64U << ((gp.FlashIdWord >> 3) & 7)));
  unsigned pageCode = gp.FlashIdWord & 7;
  unsigned pageBytes = pageCode <= 5 ? (4U << pageCode) * 512U : 0U;
  details.push_back("PerPageSize: " + std::to_string(pageBytes) + " DieOffset: " + std::to_string(gp.AltBlockCount));

  // 9: thresholds and texts.
  gp.SecurityCounter = lo(s.SecurityCounter);
  auto depth = static_cast<std::uint16_t>(s.DirtyDepth & 0xFFFF);
  gp.DirtyDepth = std::clamp<std::uint16_t>(depth, 10, 40);
  gp.Bch16ReadThreshold = lo(s.Bch16ReadErrorThreshold);
  gp.Bch24ReadThreshold = lo(s.Bch24ReadErrorThreshold);
  gp.Bch16EccCopyThreshold = lo(s.Bch16EccErrorCopyThreshold);
  gp.Bch24EccCopyThreshold = lo(s.Bch24EccErrorCopyThreshold);
  gp.WearLevelFrequency = lo(s.WearLevelFrequency);
  gp.FeatureBytes[4] = lo(s.ScrambleEnable);
  gp.FeatureBytes[5] = lo(s.RemapEnable);
  gp.DriveCurrent = lo(s.DrvCurrent);
  gp.KeepEraseCount = lo(s.KeepPreviouseEraseCount);
  gp.FirmwareRevision = s.FirmwareVer;
  gp.ModelNumber = s.ModelNum;
  gp.EncryptionText = s.EncryptionString;
  // The identity edits of the device page reach the USB identity form.
  gp.UsbVendorId = parseHexId(s.VendorID);
  gp.UsbProductId = parseHexId(s.ProductID);
  gp.InquiryVendor = s.VendorName;
  gp.InquiryProduct = s.ProductName;
  gp.UsbManufacturer = s.ManufStr;
  gp.UsbProduct = s.ProdStr;
  gp.LedLightMode = lo(s.LEDLightMode);
  // The Check ID boxes as they stand now, not only as the profile was loaded.
  gp.CheckFlashMask = lo(s.CheckFlashMask & 0x1F);

  // 10: the serial number takes exactly SNMinLength characters.
  auto want = static_cast<std::size_t>(std::clamp<std::int32_t>(s.SNMinLength, 0, kSerialNumSize - 1));
  const std::string& old = s.SerialNum;
  s.setSerialNum(old.size() < want ? std::string(want - old.size(), '0') + old : old.substr(old.size() - want));

  // 11: family rules.
  gp.OptionBytes[5] = 1;
  const std::string& pn = gp.PartNumber;
  if (gp.familyCode() == 1) {
    for (const char* prefix : {"K9GBG08U0A", "K9LCG08U0A", "K9HDG08U1A"}) {
      if (pn.rfind(prefix, 0) == 0) gp.TmcBytes[0] = gp.TmcBytes[1] = 0x21;
    }
    std::string mid = pn.size() >= 7 ? pn.substr(2, 5) : std::string();
    if (mid == "HDG08" || mid == "PFG08") gp.Bch24EccCopyThreshold = 15;
  }
  if (gp.familyCode() == 2 && pn.size() >= 11 && pn[10] == 'F') gp.Bch24EccCopyThreshold = 15;

  // 12.
  s.DrvCurrent = gp.DriveCurrent;
  if (s.EnModifyTMCvalue != 0) {
    gp.TmcBytes[0] = lo(s.TMC0);
    gp.TmcBytes[1] = lo(s.TMC1);
  }
  return details;
}

// Flash parameter record at 0x500 (little-endian):
//   +00 u16 FlashIdWord      +02 two-plane 0x02 | column-12 0x20   +03 Channel  +04 Bank
//   +05 EccMode==2           +06 drive current  +07 BlockCode       +08 reserved ratio lo
//   +09 feature code         +0A option code    +0B CECount
//   +10 4 x u16 system blocks  +18 u16 64  +1A reserved ratio hi  +1B keep-erase-count
//   +20 firmware: read thr, ECC copy thr, wear level, security counter | RAM program: defect ratio
//   +28 CE map (8)           +30 RAM program only: 24 bytes PageSectors x 2 x j
void WriteFlashParameterRecord(std::span<std::uint8_t> image, const GlobalParameter& gp,
                               const std::array<std::uint16_t, 4>& systemBlocks, ParameterVariant variant) {
  auto r = image.subspan(kFlashParameterOffset);
  std::fill_n(r.begin(), 40, 0);
  put16(r, 0x00, gp.FlashIdWord);
  r[0x02] = static_cast<std::uint8_t>((gp.TwoPlane ? 0x02 : 0) + (gp.Column12Flag ? 0x20 : 0));
  r[0x03] = gp.Channel;
  r[0x04] = gp.Bank;
  r[0x05] = gp.EccMode == 2 ? 1 : 0;
  r[0x06] = gp.DriveCurrent;
  r[0x07] = gp.BlockCode;
  r[0x08] = static_cast<std::uint8_t>(gp.ReservedRatio & 0xFF);
  const auto& fb = gp.FeatureBytes;
  r[0x09] = static_cast<std::uint8_t>((fb[0] ? 0x01 : 0) | (fb[1] ? 0x02 : 0) | (fb[2] ? 0x04 : 0) |
                                      ((gp.Bank > 2 || (gp.Bank == 2 && fb[3])) ? 0x08 : 0) | (fb[4] ? 0x10 : 0) |
                                      (fb[5] ? 0x20 : 0) | (fb[6] ? 0x40 : 0) | ((!fb[4] && fb[7]) ? 0x80 : 0));
  std::uint8_t option = 0;
  for (int i = 0; i < 6; ++i) option = static_cast<std::uint8_t>(option | (gp.OptionBytes[static_cast<std::size_t>(i)] ? (1 << i) : 0));
  r[0x0A] = option;
  r[0x0B] = gp.CECount;
  for (std::size_t i = 0; i < 4; ++i) put16(r, 0x10 + 2 * i, systemBlocks[i]);
  put16(r, 0x18, 64);
  r[0x1A] = static_cast<std::uint8_t>(gp.ReservedRatio >> 8);
  r[0x1B] = gp.KeepEraseCount;
  if (variant == ParameterVariant::Firmware) {
    bool bch24 = gp.EccMode == 2;
    r[0x20] = bch24 ? gp.Bch24ReadThreshold : gp.Bch16ReadThreshold;
    r[0x21] = bch24 ? gp.Bch24EccCopyThreshold : gp.Bch16EccCopyThreshold;
    r[0x22] = gp.WearLevelFrequency;
    r[0x23] = gp.SecurityCounter;
  } else {
    r[0x20] = gp.DefectRatio;
  }
  std::copy(gp.geometry.CEMap.begin(), gp.geometry.CEMap.end(), r.begin() + 0x28);
  if (variant == ParameterVariant::RamProgram) {
    for (std::size_t j = 0; j < 24; ++j) r[0x30 + j] = static_cast<std::uint8_t>((gp.geometry.PageSectors * 2 * j) & 0xFF);
  }
}

// SATA form: IDENTIFY data from 0x4C; serial 0x60 (20), revision 0x7A (8), model 0x82 (40), UDMA5 0x107.
// USB form: device descriptor from 0x5C (VID/PID at 0x64), INQUIRY data from 0x6E (vendor 0x76,
// product 0x7E), string descriptors at 0x9E (manufacturer), 0xC0 (product), 0xF2 (serial).
void WriteIdentityArea(std::span<std::uint8_t> image, const GlobalParameter& gp, IdentityForm form,
                       const std::string& serial) {
  if (form == IdentityForm::Sata) {
    putAtaText(image, 0x60, 20, serial);
    putAtaText(image, 0x7A, 8, gp.FirmwareRevision);
    putAtaText(image, 0x82, 40, gp.ModelNumber);
    if (gp.IdeUdma5 != 0) image[0x107] = 0x20;
    return;
  }
  put16(image, 0x64, gp.UsbVendorId);
  put16(image, 0x66, gp.UsbProductId);
  std::fill(image.begin() + 0x76, image.begin() + 0x86, ' ');
  putUtf16Spaces(image, 0xA0, 0xAF);
  putUtf16Spaces(image, 0xC2, 0xD9);
  putUtf16Spaces(image, 0xF4, 0x11B);
  if (gp.UsbRemovable) image[0x6F] = static_cast<std::uint8_t>(image[0x6F] | 0x80);
  else image[0x6F] = static_cast<std::uint8_t>(image[0x6F] & 0x7F);
  auto putPlain = [&](std::size_t at, const std::string& text, std::size_t maxChars) {
    std::size_t n = std::min(text.size(), maxChars);
    for (std::size_t i = 0; i < n; ++i) image[at + i] = static_cast<std::uint8_t>(text[i]);
  };
  putPlain(0x76, gp.InquiryVendor, 8);
  putPlain(0x7E, gp.InquiryProduct, 16);
  putStringDescriptor(image, 0x9E, gp.UsbManufacturer, 16);
  putStringDescriptor(image, 0xC0, gp.UsbProduct, 24);
  putStringDescriptor(image, 0xF2, serial, 20);
}

}  // namespace qk
