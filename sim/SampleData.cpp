#include "sim/SampleData.h"

#include "platform/ProgramFolder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/AtomicWrite.h"
#include "platform/Jpeg.h"

namespace qk {

namespace {

// Code-like filler: a fixed xorshift sequence per file.
std::string filler(size_t size, std::uint32_t seed) {
  std::string out(size, '\0');
  std::uint32_t x = seed ? seed : 1;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<char>(x >> 24);
  }
  return out;
}

void put(std::string& image, size_t offset, const std::string& bytes) {
  image.replace(offset, bytes.size(), bytes);
}

void putByte(std::string& image, size_t offset, unsigned value) { image[offset] = static_cast<char>(value & 0xFF); }

void fill(std::string& image, size_t offset, size_t count, unsigned value) {
  image.replace(offset, count, count, static_cast<char>(value & 0xFF));
}

void putWordLE(std::string& image, size_t offset, unsigned value) {
  putByte(image, offset, value);
  putByte(image, offset + 1, value >> 8);
}

// SATA identity: ATA IDENTIFY data at 0x4C (256 words), text fields blank
// until the download writes serial, revision and model into them.
//   word 0   0x0040 fixed device      words 10-19  serial (0x60)
//   words 23-26 revision (0x7A)        words 27-46  model (0x82)
//   word 49  LBA and DMA supported     words 60-61  LBA28 sectors (0 until the firmware counts)
//   word 80  ATA-8 and below           word 88 UDMA modes 0-4 supported
void sataIdentity(std::string& page) {
  const size_t base = 0x4C;
  fill(page, base, 512, 0);
  putWordLE(page, base + 0 * 2, 0x0040);
  fill(page, 0x60, 20, ' ');
  fill(page, 0x7A, 8, ' ');
  fill(page, 0x82, 40, ' ');
  putWordLE(page, base + 47 * 2, 0x8001);
  putWordLE(page, base + 49 * 2, 0x0300);
  putWordLE(page, base + 80 * 2, 0x01F0);
  putWordLE(page, base + 88 * 2, 0x001F);
}

// USB identity:
//   0x5C  device descriptor (18 bytes): USB 2.0, class per interface, 64-byte EP0,
//         IDs at 0x64/0x66 (zero until the download writes them), strings 1, 2, 3
//   0x6E  SCSI INQUIRY data (36 bytes): direct access, vendor at 0x76, product at 0x7E
//   0x9E / 0xC0 / 0xF2  string descriptors: manufacturer, product, serial
void usbIdentity(std::string& page) {
  fill(page, 0x4C, 0x11C - 0x4C, 0);
  const unsigned char device[18] = {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, 0x00,
                                    0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x02, 0x03, 0x01};
  for (size_t i = 0; i < sizeof device; ++i) putByte(page, 0x5C + i, device[i]);
  const unsigned char inquiry[8] = {0x00, 0x80, 0x02, 0x02, 0x1F, 0x00, 0x00, 0x00};
  for (size_t i = 0; i < sizeof inquiry; ++i) putByte(page, 0x6E + i, inquiry[i]);
  fill(page, 0x76, 24, ' ');
  put(page, 0x8E, "1.00");
  auto blankString = [&](size_t at, size_t chars) {
    putByte(page, at, 2 * chars + 2);
    putByte(page, at + 1, 0x03);
    for (size_t i = 0; i < chars; ++i) {
      putByte(page, at + 2 + 2 * i, ' ');
      putByte(page, at + 3 + 2 * i, 0);
    }
  };
  blankString(0x9E, 16);
  blankString(0xC0, 24);
  blankString(0xF2, 20);
}


// Board photos: a plain drawing of the sample board, front and back.
struct Canvas {
  RgbImage image;
  Canvas(int w, int h, std::uint32_t rgb) {
    image.width = w;
    image.height = h;
    image.rgb.resize(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
    box(0, 0, w, h, rgb);
  }
  void box(int x, int y, int w, int h, std::uint32_t rgb) {
    for (int row = std::max(y, 0); row < std::min(y + h, image.height); ++row)
      for (int col = std::max(x, 0); col < std::min(x + w, image.width); ++col) {
        auto* p = &image.rgb[(static_cast<size_t>(row) * static_cast<size_t>(image.width) + static_cast<size_t>(col)) * 3];
        p[0] = static_cast<std::uint8_t>(rgb >> 16);
        p[1] = static_cast<std::uint8_t>(rgb >> 8);
        p[2] = static_cast<std::uint8_t>(rgb);
      }
  }
  // A package with pins on its long sides.
  void chip(int x, int y, int w, int h, std::uint32_t body) {
    for (int px = x + 4; px + 3 <= x + w - 4; px += 7) {
      box(px, y - 4, 3, 4, 0xC8C8C8);
      box(px, y + h, 3, 4, 0xC8C8C8);
    }
    box(x, y, w, h, body);
    box(x + 4, y + 4, 5, 5, 0x505050);  // pin-1 mark
  }
};

}  // namespace

RgbImage SampleBoardPhoto(bool front) {
  constexpr int kW = 320, kH = 180;
  Canvas c(kW, kH, 0x303030);
  c.box(10, 10, kW - 20, kH - 20, 0x1E6B2E);             // the board
  for (int y = 30; y < kH - 30; y += 12) c.box(60, y, kW - 90, 1, 0x2E8B40);  // traces
  for (int y = 24; y + 8 <= kH - 24; y += 12) c.box(10, y, 18, 8, 0xD4A017);  // connector fingers
  c.box(kW - 34, kH / 2 - 6, 12, 12, 0xB0B0B0);          // mounting hole
  c.box(kW - 31, kH / 2 - 3, 6, 6, 0x303030);
  if (front) {
    c.chip(50, 60, 56, 56, 0x151515);                    // controller
    c.chip(130, 35, 70, 45, 0x202020);                   // flash packages
    c.chip(130, 100, 70, 45, 0x202020);
    c.chip(220, 35, 70, 45, 0x202020);
    c.chip(220, 100, 70, 45, 0x202020);
  } else {
    c.chip(130, 35, 70, 45, 0x202020);
    c.chip(130, 100, 70, 45, 0x202020);
    c.box(60, 40, 40, 20, 0xF0F0F0);                     // serial label
    c.box(220, 60, 8, 60, 0x8B5A2B);                     // capacitors
    c.box(236, 60, 8, 60, 0x8B5A2B);
  }
  return c.image;
}

namespace {
}  // namespace

void SealFirmwareImage(std::string& image) {
  size_t n = image.size();
  if (n < 2) return;
  putByte(image, n - 2, 0xA5);
  unsigned sum = 0;
  for (size_t i = 0; i + 2 < n; ++i) sum += static_cast<unsigned char>(image[i]);
  putByte(image, n - 1, 0x100 - (sum & 0xFF));
}

// First page of a firmware image (the rest is code):
//   0x04C..0x11B  identity data, SATA or USB form
//   0x300  "QKSSD"            0x306  version text, 6 bytes, then 0
//   0x30D  identity 'S'/'U'   0x329  family text, 2 bytes
//   0x500..0x59F  parameter records, zero until the download patches them
//   0x5A0..0x69F  page table, 0xFF (table 0)
// Last two bytes: 0xA5 and the sum fix.
std::string SampleFirmwareImage(char identity) {
  std::string image = filler(kSampleFirmwareSize, identity == 'U' ? 0x5553B175u : 0x5341DA7Au);
  if (identity == 'U') usbIdentity(image);
  else sataIdentity(image);
  fill(image, 0x300, 0x40, 0);
  put(image, 0x300, "QKSSD");
  put(image, 0x306, kSampleFirmwareVersion);
  putByte(image, 0x30D, static_cast<unsigned char>(identity));
  put(image, 0x329, kSampleFirmwareFamily);
  fill(image, 0x500, 0xA0, 0);
  fill(image, 0x5A0, 0x100, 0xFF);
  SealFirmwareImage(image);
  return image;
}

// RAM program image:
//   0x040  tag "GDP_" / "TST_"     0x304  version text, 6 bytes, then 0
//   0x500..0x577  parameter and capacity records, zero until patched
std::string SampleProgramImage(const std::string& tag, const std::string& version) {
  std::uint32_t seed = 0x2F6B1D3Bu;
  for (char c : tag) seed = seed * 31 + static_cast<unsigned char>(c);
  std::string image = filler(kSampleProgramSize, seed);
  put(image, 0x40, tag.substr(0, 4));
  fill(image, 0x304, 8, 0);
  put(image, 0x304, version.substr(0, 6));
  fill(image, 0x500, 0x78, 0);
  return image;
}

std::string SampleFlashList() {
  return
      "; Sample flash list. Columns: unique name, part number, ID word, chip enables\n"
      "; per package, ECC mode, five ID bytes, feature/option/two-plane bytes,\n"
      "; flag, extra word, alternate block count, table select.\n"
      "[Vendor]\n"
      "Name00=Nandora\n"
      "Name01=Cellith\n"
      "Name02=Bitmere\n"
      "Name03=No\n"
      "\n"
      "[Nandora]\n"
      "Name00=WBG, K9GBG08U0A, 0x0281, 2, 2, 0x5A, 0xD7, 0x94, 0x7A, 0x44, 0x000000, 0, 0, 0, 1\n"
      "Name01=WBH, NDR64G08B2, 0x1A89, 2, 2, 0x5A, 0xDE, 0x94, 0x7E, 0x64, 0x010001, 0, 0, 0, 2\n"
      "Name02=No\n"
      "\n"
      "[Cellith]\n"
      "Name00=CLA, CLT32G08M1A, 0x1290, 1, 2, 0x3C, 0x88, 0x24, 0x4B, 0xA9, 0x000000, 1, 0, 0, 3\n"
      "; CLB and CLC answer with the same ID: auto-detect offers both.\n"
      "Name01=CLB, CLT64G08M2A, 0x2A89, 2, 2, 0x3C, 0x98, 0x25, 0x5B, 0xAA, 0x000000, 0, 0, 0, 4\n"
      "Name02=CLC, CLT64G08M2B, 0x2A89, 2, 2, 0x3C, 0x98, 0x25, 0x5B, 0xAA, 0x010000, 1, 0, 1024, 4\n"
      "Name03=No\n"
      "\n"
      "[Bitmere]\n"
      "Name00=BTA, BMX08G08S1, 0x4109, 1, 0, 0x7D, 0xD3, 0x51, 0x95, 0x58, 0x000000, 0, 0, 0, 0\n"
      "Name01=BTB, BMX16G08D2, 0x3B0A, 4, 2, 0x7D, 0xDE, 0x55, 0x99, 0x68, 0x000100, 1, 32, 0, 3\n"
      "Name02=No\n";
}

std::string SampleProfile() {
  return
      "[Setting]\n"
      "ShowTitle=0\n"
      "EnDumpFreeBlockInfo=0\n"
      "EnUpdateFirmwareMode=0\n"
      "ProductModel=QK\n"
      "MPVersion=0\n"
      "TimeOut=10\n"
      "ConnectDevNum=0\n"
      "EnBarCode=0\n"
      "EnSaveDefectTable=0\n"
      "LogPath=log\n"
      "\n"
      "[TestItems]\n"
      "EnFlashModule=1\n"
      "CheckFlashMask=31\n"
      "EnSataTest=0\n"
      "EnFlashTest=0\n"
      "EnDramTest=0\n"
      "EnPreFormat=0\n"
      "EnDownload=0\n"
      "DownloadType=1\n"
      "SataLBA48=1\n"
      "LEDLightMode=1\n"
      "EnCheckTables=0\n"
      "EnRWTest=0\n"
      "EnFormat=0\n"
      "DiskLabel=SSD Disk\n"
      "DiskFormat=0\n"
      "EnCopyImage=0\n"
      "CopyImagePath=\n"
      "EnGenImage=0\n"
      "EnCheckTemperature=0\n"
      "CheckMaxTemperatureValue=0\n"
      "\n"
      "[DeviceSetting]\n"
      "SerialNum=QK_0123456789\n"
      "ModelNum=Talvery QKR2XX SSD\n"
      "FirmwareVer=12345678\n"
      "SNAutoInc=0\n"
      "SNDecimal=0\n"
      "SNMinLength=12\n"
      "SNErrReuse=0\n"
      "EncryptionEnable=0\n"
      "EncryptionString=Pelvane\n"
      "IDE_UDMA5=0\n"
      "\n"
      "[FlashSetting]\n"
      "ExtFlashFile=Flash.ini\n"
      "Capacity=0\n"
      "FlashUniName=WBG\n"
      "Channel=4\n"
      "Bank=2\n"
      "DrvCurrent=1\n"
      "\n"
      "[FwSetting]\n"
      "DefPercentage=48\n"
      "ResPercentage=68\n"
      "Bch16ReadErrorThreshold=13\n"
      "Bch24ReadErrorThreshold=20\n"
      "Bch16EccErrorCopyThreshold=6\n"
      "Bch24EccErrorCopyThreshold=15\n"
      "WearLevelFrequency=128\n"
      "ScrambleEnable=0\n"
      "RemapEnable=0\n"
      "UsbRemovable=0\n"
      "UsbLedP14=0\n"
      "SecurityCounter=5\n"
      "DirtyDepth=40\n"
      "InterleaveWay=4\n"
      "LEDControl=0\n"
      "EnSkipEraseGood=0\n"
      "EnEarlyBad=0\n"
      "EnEraseReBuildBad=0\n"
      "EnTrimCmd=1\n"
      "EnThermalSensor=0\n"
      "EnSizeAlignment=0\n"
      "KeepPreviouseEraseCount=0\n"
      "EnModifyTMCvalue=0\n"
      "TMC0=17\n"
      "TMC1=17\n"
      "\n"
      "[RDSetting]\n"
      "EnableGetPutTable=0\n"
      "TableIn=\n"
      "TableOut=\n"
      "LaterTableIn=\n"
      "LaterTableOut=\n"
      "DumpDebugFile=0\n";
}

namespace {
std::string jpegText(const RgbImage& image) {
  auto jpeg = EncodeJpeg(image);
  return jpeg ? std::string(jpeg->begin(), jpeg->end()) : std::string();
}
}  // namespace

bool WriteSampleData(const std::string& folder, std::string* error) {
  std::string dir = folder.empty() ? std::string("./") : folder;
  if (dir.back() != '/') dir += '/';
  const std::pair<const char*, std::string> files[] = {
      {"Flash.ini", SampleFlashList()},
      {"QKMassProd.ini", SampleProfile()},
      {"SYS_S.bin", SampleFirmwareImage('S')},
      {"SYS_U.bin", SampleFirmwareImage('U')},
      {"GDP.bin", SampleProgramImage("GDP_", kSampleGdpVersion)},
      {"satatest.bin", SampleProgramImage("TST_", kSampleTestVersion)},
      {"Layout_Front.jpg", jpegText(SampleBoardPhoto(true))},
      {"Layout_Back.jpg", jpegText(SampleBoardPhoto(false))},
  };
  for (const auto& [name, data] : files) {
    // The profile is the operator's once it exists: a rebuild must not reset it.
    if (std::string(name) == "QKMassProd.ini" && fileExists(dir + name)) continue;
    if (!writeFileAtomic(dir + name, data, error)) return false;
  }
  return true;
}

}  // namespace qk
