#include "sim/Controller.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/DebugOutput.h"
#include "sim/LoaderArea.h"
#include "sim/StreamIo.h"
#include "sim/SystemArea.h"

namespace qk::sim {

namespace {

constexpr std::uint32_t kProgramArea = 3;
constexpr std::uint32_t kProgramBase = 0x40000000;
constexpr std::uint32_t kProgramSize = 64512;
constexpr std::uint32_t kRamPage = 4096;
constexpr std::uint8_t kBusy = 0xAA;
constexpr std::uint8_t kTaskFailed = 0x01;
constexpr std::uint32_t kRecordBytes = 2048;
constexpr std::uint32_t kFirmwareSlot = 16 * 1024;
constexpr std::uint32_t kDramRegister = 0x20007;

// Fills a data-in buffer: `n` bytes of `src`, zeros after them.
SimReply giveIn(std::uint8_t* data, std::uint32_t length, const std::uint8_t* src, size_t n) {
  if (length == 0 || data == nullptr) return SimReply::good(0);
  std::memset(data, 0, length);
  std::memcpy(data, src, std::min<size_t>(n, length));
  return SimReply::good(length);
}

// Status sector: the value in byte 0, or E5 and the value behind a bridge.
SimReply statusSector(std::uint8_t value, bool sataForm, std::uint8_t* data, std::uint32_t length) {
  std::uint8_t s[2] = {value, 0};
  if (sataForm) {
    s[0] = 0xE5;
    s[1] = value;
  }
  return giveIn(data, length, s, 2);
}

SimReply flashFailure(FlashResult r, bool erase) {
  switch (r) {
    case FlashResult::Ok: return SimReply::good(0);
    case FlashResult::OutOfRange: return SimReply::outOfRange();
    default: return SimReply::checkCondition(0x03, erase ? 0x51 : 0x0C, 0x00);
  }
}

}  // namespace

Controller::Controller(const DriveSpec& spec, const FlashType& type, FlashArray& flash, UserData& data,
                       bool nativeUsb)
    : spec_(spec), type_(type), flash_(flash), data_(data), nativeUsb_(nativeUsb) {
  clearRecord();
}

void Controller::powerOn() {
  ram_.clear();
  registers_.clear();
  pending.reset();
  bridgeSetupValue = 0;
  boot();
}

void Controller::enterLoader() {
  mode_ = Mode::Loader;
  firmware_ = FirmwareInfo{};
  data_.setSectors(spec_.sectors);
}

void Controller::boot() {
  LoaderArea area;
  std::string why = "no loader header in blocks 0..3";
  if (FindLoaderHeader(flash_, area) && ValidateLoaderArea(flash_, type_.pageSectors(), area, why)) {
    firmware_ = BootFirmware(area.firstPages, nativeUsb_);
    mode_ = Mode::Firmware;
    data_.setSectors(firmware_.capacity);
    return;
  }
  debugPrintf("sim %s: stays in the boot ROM: %s", spec_.name.c_str(), why.c_str());
  enterLoader();
}

std::optional<DataDirection> Controller::dataPhase(std::uint8_t subop) const {
  switch (subop) {
    case 0x32: case 0x81: case 0x82: case 0x83: case 0x85: case 0x8B:
      return DataDirection::None;
    case 0x80: case 0x84: case 0x86: case 0x88: case 0x89:
      return DataDirection::In;
    case 0x87: case 0x8A:
      return DataDirection::Out;
    default:
      break;
  }
  switch (mode_) {
    case Mode::Loader:
    case Mode::Firmware:
      if (subop == 0x00 || subop == 0x04) return DataDirection::In;
      break;
    case Mode::Gdp:
      if (subop >= 0x01 && subop <= 0x04) return DataDirection::None;
      if (subop == 0x00 || (subop >= 0x05 && subop <= 0x07)) return DataDirection::In;
      break;
    case Mode::Test:
      if (subop <= 0x03) return DataDirection::In;
      if (subop == 0x04 || subop == 0x05) return DataDirection::Out;
      break;
  }
  return std::nullopt;
}

SimReply Controller::vendor(const std::uint8_t* b, bool sataForm, DataDirection direction, std::uint8_t* data,
                            std::uint32_t length) {
  const std::uint8_t subop = b[2];
  const auto phase = dataPhase(subop);
  if (!phase) return SimReply::invalidField();
  if (*phase != DataDirection::None && length > 0 && direction != *phase) return SimReply::invalidField();
  if (*phase == DataDirection::None) length = 0;
  if (*phase != DataDirection::None && data == nullptr) length = 0;

  switch (subop) {
    case 0x32: bridgeSetupValue = b[3]; return SimReply::good(0);
    case 0x80: return loaderInfo(data, length);
    case 0x81: enterLoader(); return SimReply::good(0);
    case 0x82: runProgram(); return SimReply::good(0);
    case 0x83:
      if (b[3] == 0) enterLoader();
      else boot();
      return SimReply::good(0);
    case 0x84: return readRegister(be32(b + 3), sataForm, data, length);
    case 0x85: registers_[be32(b + 3)] = b[7]; return SimReply::good(0);
    case 0x86: {
      if (length == 0) return SimReply::good(0);
      if (mode_ == Mode::Firmware && b[3] == 1 && be32(b + 4) == 0) {
        // The identity record: the booted first page as the download patched it.
        const auto& page = firmware_.usbPage.empty() ? firmware_.page : firmware_.usbPage;
        return giveIn(data, length, page.data(), page.size());
      }
      ramRead(b[3], be32(b + 4), data, length);
      return SimReply::good(length);
    }
    case 0x87: ramWrite(b[3], be32(b + 4), data, length); return SimReply::good(length);
    case 0x88: return flashId(b[3], b[4], data, length);
    case 0x89: return readPage(b + 3, data, length);
    case 0x8A: return writePage(b + 3, data, length);
    case 0x8B: return eraseBlock(b + 3);
    default: break;
  }
  switch (mode_) {
    case Mode::Loader:
    case Mode::Firmware:
      if (subop == 0x00) return badBlockList(data, length);
      return readFirmwarePages(b + 3, data, length);
    case Mode::Gdp:
      switch (subop) {
        case 0x00: return status(sataForm, data, length);
        case 0x05: return detection(data, length);
        case 0x06: return giveIn(data, length, record_.data(), record_.size());
        case 0x07: return blockList(data, length);
        default: startTask(subop, b[3]); return SimReply::good(0);
      }
    case Mode::Test:
      switch (subop) {
        case 0x00: return status(sataForm, data, length);
        case 0x01: return testResult(b[3], data, length);
        case 0x02: return testReport(data, length);
        case 0x03: return readArea(b[3], be32(b + 4), data, length);
        case 0x04:
          ramWrite(0x100u + b[3], be32(b + 4), data, length);
          ++areaWrites_[b[3]];
          return SimReply::good(length);
        default:  // 0x05: the DRAM test
          busyForever_ = spec_.faults.busy.count("dram") != 0;
          busyPolls_ = 1;
          status_ = static_cast<std::uint8_t>(spec_.faults.dramStatus >= 0 ? spec_.faults.dramStatus : 21);
          return SimReply::good(length);
      }
  }
  return SimReply::invalidField();
}

// Loader information (little-endian):
// 0 "QKLDRINF"  8 state (0 loader, 1 RAM program, 2 firmware)
// 9 channels  10 chip-enable slots  11 PageSectors  12 pages per block (16)  14 blocks per CE (16)
// 16 ID bytes of channel 0, slot 0 (5)
// 44 write sequence number (16)  46 system block count  48 system blocks (4 x 16)
SimReply Controller::loaderInfo(std::uint8_t* data, std::uint32_t length) {
  std::uint8_t r[104] = {};
  std::memcpy(r, "QKLDRINF", 8);
  r[8] = mode_ == Mode::Loader ? 0 : mode_ == Mode::Firmware ? 2 : 1;
  r[9] = static_cast<std::uint8_t>(flash_.shape().channels);
  r[10] = static_cast<std::uint8_t>(flash_.shape().slots);
  r[11] = static_cast<std::uint8_t>(type_.pageSectors());
  setLe16(r + 12, flash_.shape().pagesPerBlock);
  setLe16(r + 14, flash_.shape().blocks);
  flashId(0, type_.ceNumber(0), r + 16, 5);
  LoaderArea area;
  if (FindLoaderHeader(flash_, area)) {
    setLe16(r + 44, area.sequence);
    r[46] = static_cast<std::uint8_t>(area.systemBlocks.size());
    for (size_t i = 0; i < area.systemBlocks.size(); ++i) setLe16(r + 48 + 2 * i, area.systemBlocks[i]);
  }
  return giveIn(data, length, r, sizeof r);
}

void Controller::runProgram() {
  std::vector<std::uint8_t> image(kProgramSize);
  ramRead(kProgramArea, kProgramBase, image.data(), kProgramSize);
  const char* tag = reinterpret_cast<const char*>(image.data() + 64);
  if (std::memcmp(tag, "GDP_", 4) == 0) {
    mode_ = Mode::Gdp;
  } else if (std::memcmp(tag, "TST_", 4) == 0) {
    mode_ = Mode::Test;
  } else {
    debugPrintf("sim %s: RunRamCode on an untagged image; the ROM keeps running", spec_.name.c_str());
    return;
  }
  firmware_ = FirmwareInfo{};
  data_.setSectors(spec_.sectors);
  // Flash parameter record at 0x500: ID word +0, channels +3, banks +4, feature code +9 (bit 5 remap);
  // capacity record at 0x548: alternate block count +0x0E.
  recordIdWord_ = le16(image.data() + 0x500);
  recordChannels_ = image[0x503];
  recordBanks_ = image[0x504];
  remap_ = (image[0x509] & 0x20) != 0;
  altBlockCount_ = le16(image.data() + 0x548 + 0x0E);
  status_ = 0;
  busyPolls_ = 0;
  busyForever_ = false;
  areaWrites_.clear();
  clearRecord();
}

SimReply Controller::readRegister(std::uint32_t address, bool sataForm, std::uint8_t* data, std::uint32_t length) {
  auto it = registers_.find(address);
  std::uint8_t v = it == registers_.end() ? 0 : it->second;
  if (spec_.faults.dramRegister && address == kDramRegister) v ^= 0xFF;
  return statusSector(v, sataForm, data, length);
}

SimReply Controller::flashId(std::uint8_t channel, std::uint8_t ce, std::uint8_t* data, std::uint32_t length) {
  std::uint8_t id[5] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const int slot = type_.slotOf(ce, flash_.shape().slots);
  if (channel < flash_.shape().channels && slot >= 0) {
    std::memcpy(id, type_.idBytes.data(), 5);
    for (const auto& f : spec_.faults.flashId) {
      if (f.channel == channel && f.slot == slot) std::memcpy(id, f.id.data(), 5);
    }
  }
  return giveIn(data, length, id, 5);
}

// 0x89 parameters from byte 3: channel, chip enable, block (2), page (2), mode.
SimReply Controller::readPage(const std::uint8_t* p, std::uint8_t* data, std::uint32_t length) {
  const int slot = type_.slotOf(p[1], flash_.shape().slots);
  std::vector<std::uint8_t> page(flash_.shape().pageBytes);
  if (slot < 0 || flash_.read(p[0], slot, be16(p + 2), be16(p + 4), page.data()) != FlashResult::Ok) {
    return SimReply::outOfRange();
  }
  if (length == 0) return SimReply::good(0);
  std::memset(data, 0xFF, length);
  std::memcpy(data, page.data(), std::min<size_t>(length, page.size()));
  return SimReply::good(length);
}

SimReply Controller::writePage(const std::uint8_t* p, const std::uint8_t* data, std::uint32_t length) {
  const int slot = type_.slotOf(p[1], flash_.shape().slots);
  if (slot < 0) return SimReply::outOfRange();
  const std::uint32_t pageBytes = flash_.shape().pageBytes;
  const bool all = p[0] == 8;
  const int first = all ? 0 : p[0];
  const int count = all ? flash_.shape().channels : 1;
  if (length < static_cast<std::uint64_t>(count) * pageBytes) return SimReply::invalidField();
  FlashResult worst = FlashResult::Ok;
  for (int i = 0; i < count; ++i) {
    FlashResult r = flash_.program(first + i, slot, be16(p + 2), be16(p + 4), data + static_cast<size_t>(i) * pageBytes);
    if (r != FlashResult::Ok && worst == FlashResult::Ok) worst = r;
  }
  return worst == FlashResult::Ok ? SimReply::good(length) : flashFailure(worst, false);
}

SimReply Controller::eraseBlock(const std::uint8_t* p) {
  const int slot = type_.slotOf(p[1], flash_.shape().slots);
  if (slot < 0) return SimReply::outOfRange();
  const bool all = p[0] == 8;
  const int first = all ? 0 : p[0];
  const int count = all ? flash_.shape().channels : 1;
  FlashResult worst = FlashResult::Ok;
  for (int i = 0; i < count; ++i) {
    FlashResult r = flash_.erase(first + i, slot, be16(p + 2));
    if (r != FlashResult::Ok && worst == FlashResult::Ok) worst = r;
  }
  return flashFailure(worst, true);
}

void Controller::ramRead(std::uint32_t area, std::uint32_t address, std::uint8_t* out, std::uint32_t length) const {
  for (std::uint32_t done = 0; done < length;) {
    const std::uint64_t a = static_cast<std::uint64_t>(address) + done;
    const std::uint32_t inPage = static_cast<std::uint32_t>(a % kRamPage);
    const std::uint32_t n = std::min(length - done, kRamPage - inPage);
    auto it = ram_.find(static_cast<std::uint64_t>(area) << 40 | a / kRamPage);
    if (it == ram_.end()) std::memset(out + done, 0, n);
    else std::memcpy(out + done, it->second.data() + inPage, n);
    done += n;
  }
}

void Controller::ramWrite(std::uint32_t area, std::uint32_t address, const std::uint8_t* in, std::uint32_t length) {
  for (std::uint32_t done = 0; done < length;) {
    const std::uint64_t a = static_cast<std::uint64_t>(address) + done;
    const std::uint32_t inPage = static_cast<std::uint32_t>(a % kRamPage);
    const std::uint32_t n = std::min(length - done, kRamPage - inPage);
    auto& page = ram_[static_cast<std::uint64_t>(area) << 40 | a / kRamPage];
    if (page.empty()) page.assign(kRamPage, 0);
    std::memcpy(page.data() + inPage, in + done, n);
    done += n;
  }
}

// Bad-block list: 0 entry count (16-bit), 2..3 zero, 7-byte entries from 4:
// block (16-bit), kind, channel bits of slots 0..3.
SimReply Controller::badBlockList(std::uint8_t* data, std::uint32_t length) {
  std::vector<std::uint8_t> r(4 + 7 * spec_.faults.laterBad.size(), 0);
  setLe16(r.data(), static_cast<std::uint32_t>(spec_.faults.laterBad.size()));
  size_t at = 4;
  for (const auto& e : spec_.faults.laterBad) {
    setLe16(r.data() + at, e.block);
    r[at + 2] = e.kind;
    std::memcpy(r.data() + at + 3, e.channelBits.data(), 4);
    at += 7;
  }
  return giveIn(data, length, r.data(), r.size());
}

// 0x04 parameters from byte 3: channel mask, 0, block (2), page (2), mode.
// One 16 KiB slot per channel of the mask: page of block A, then of block B.
SimReply Controller::readFirmwarePages(const std::uint8_t* p, std::uint8_t* data, std::uint32_t length) {
  if (length == 0) return SimReply::good(0);
  std::memset(data, 0xFF, length);
  const std::uint32_t block = be16(p + 2), pageNo = be16(p + 4);
  std::uint32_t a = block & ~1u, b = block | 1u;
  if (mode_ == Mode::Firmware && !firmware_.groupedBlocks) {
    a = 2 * block;
    b = a + 1;
  }
  const std::uint32_t pageBytes = flash_.shape().pageBytes;
  std::vector<std::uint8_t> page(pageBytes);
  std::uint32_t slotAt = 0;
  for (int ch = 0; ch < 8 && slotAt < length; ++ch) {
    if (!(p[0] & (1u << ch))) continue;
    if (ch < flash_.shape().channels) {
      const std::uint32_t blocks[2] = {a, b};
      for (int k = 0; k < 2; ++k) {
        const std::uint32_t at = slotAt + static_cast<std::uint32_t>(k) * pageBytes;
        if (at >= length || (k + 1) * pageBytes > kFirmwareSlot) break;
        if (flash_.read(ch, 0, blocks[k], pageNo, page.data()) != FlashResult::Ok) continue;
        std::memcpy(data + at, page.data(), std::min(pageBytes, length - at));
      }
    }
    slotAt += kFirmwareSlot;
  }
  return SimReply::good(length);
}

SimReply Controller::status(bool sataForm, std::uint8_t* data, std::uint32_t length) {
  std::uint8_t v = status_;
  if (busyForever_) {
    v = kBusy;
  } else if (busyPolls_ > 0) {
    --busyPolls_;
    v = kBusy;
  }
  return statusSector(v, sataForm, data, length);
}

bool Controller::shapeMatches() const {
  return recordChannels_ == flash_.shape().channels && recordBanks_ == flash_.shape().slots &&
         DecodePageSectors(recordIdWord_) == type_.pageSectors();
}

void Controller::clearRecord() {
  record_.assign(kRecordBytes, 0);
  recordAt_ = 1;
}

// Step record: byte 0 entry count; entries from 1, 16 bytes (17 after kinds 0x80 and 0x82):
// kind, channel, bank, die, value (16-bit), ..., 13 detected channels, 14 detected banks.
void Controller::addRecordEntry(std::uint8_t kind, std::uint8_t channel, std::uint8_t bank, std::uint8_t die,
                                std::uint16_t value, std::uint8_t detectedChannels, std::uint8_t detectedBanks) {
  if (recordAt_ + 17 > record_.size()) return;
  std::uint8_t* e = record_.data() + recordAt_;
  e[0] = kind;
  e[1] = channel;
  e[2] = bank;
  e[3] = die;
  setLe16(e + 4, value);
  e[13] = detectedChannels;
  e[14] = detectedBanks;
  ++record_[0];
  recordAt_ += (kind == 0x80 || kind == 0x82) ? 17 : 16;
}

void Controller::startTask(int task, std::uint8_t flags) {
  const auto& faults = spec_.faults;
  clearRecord();
  busyForever_ = false;
  busyPolls_ = 0;
  if (!shapeMatches()) {
    debugPrintf("sim %s: GDP task %d with a flash shape of %d channels, %d banks, %u sectors per page",
                spec_.name.c_str(), task, recordChannels_, recordBanks_, DecodePageSectors(recordIdWord_));
    addRecordEntry(0x81, 0, 0, 0, 0, static_cast<std::uint8_t>(flash_.shape().channels),
                   static_cast<std::uint8_t>(flash_.shape().slots));
    addRecordEntry(6, 0, 0, 0, 0);
    status_ = kTaskFailed;
    return;
  }
  const auto systemBlocks = FindSystemBlocks(flash_);
  switch (task) {
    case 1:
      busyForever_ = faults.busy.count("erase") != 0;
      status_ = 14;
      if (flags & 0x01) {
        flash_.eraseAll();
      } else if (flags & 0x10) {
        for (auto block : systemBlocks) {
          for (int c = 0; c < flash_.shape().channels; ++c) flash_.erase(c, 0, block);
        }
      } else if (!HasFactoryTable(flash_, systemBlocks)) {
        status_ = 2;
      }
      return;
    case 3:
      busyForever_ = faults.busy.count("preformat") != 0;
      busyPolls_ = 2;
      if (!faults.preformat.empty()) {
        for (const auto& e : faults.preformat) {
          addRecordEntry(static_cast<std::uint8_t>(e[0]), static_cast<std::uint8_t>(e[1]),
                         static_cast<std::uint8_t>(e[2]), static_cast<std::uint8_t>(e[3]), e[4]);
        }
        status_ = kTaskFailed;
        return;
      }
      if (systemBlocks.size() < 4) {
        addRecordEntry(6, 0, 0, 0, 0);
        status_ = kTaskFailed;
        return;
      }
      {
        SystemAreaLayout layout;
        layout.systemBlocks = systemBlocks;
        layout.remap = remap_;
        layout.dies = type_.dies();
        layout.altBlockCount = altBlockCount_;
        WriteSystemArea(flash_, layout);
      }
      status_ = 10;
      return;
    case 4:
      busyForever_ = faults.busy.count("finish") != 0;
      busyPolls_ = 1;
      status_ = 18;
      if (!HasFactoryTable(flash_, systemBlocks)) {
        addRecordEntry(1, 0, 0, 0, 1);
        status_ = kTaskFailed;
      }
      return;
    default:
      status_ = kTaskFailed;
      return;
  }
}

// Detection record: 0..4 ID bytes of channel 0 slot 0, 5 chip enables per
// package, 7 channel count, 8 chip-enable slots per channel.
SimReply Controller::detection(std::uint8_t* data, std::uint32_t length) {
  std::uint8_t r[16] = {};
  flashId(0, type_.ceNumber(0), r, 5);
  r[5] = type_.cePerPackage;
  r[7] = static_cast<std::uint8_t>(flash_.shape().channels);
  r[8] = static_cast<std::uint8_t>(flash_.shape().slots);
  if (spec_.faults.detect) {
    r[7] = static_cast<std::uint8_t>((*spec_.faults.detect)[0]);
    r[8] = static_cast<std::uint8_t>((*spec_.faults.detect)[1]);
  }
  return giveIn(data, length, r, sizeof r);
}

SimReply Controller::blockList(std::uint8_t* data, std::uint32_t length) {
  auto found = FindSystemBlocks(flash_);
  if (found.size() < 4) {
    clearRecord();
    // The bad blocks that kept the search short, as block entries of slot 0.
    for (int c = 0; c < flash_.shape().channels; ++c) {
      for (auto block : flash_.badBlocks(c, 0)) {
        if (record_[0] < 100) addRecordEntry(7, static_cast<std::uint8_t>(c), 0, 0, static_cast<std::uint16_t>(block));
      }
    }
  }
  std::vector<std::uint16_t> list = spec_.faults.systemBlocks ? *spec_.faults.systemBlocks : found;
  std::uint8_t r[8];
  for (size_t i = 0; i < 4; ++i) setLe16(r + 2 * i, i < list.size() ? list[i] : 0xFFFF);
  return giveIn(data, length, r, sizeof r);
}

SimReply Controller::testResult(std::uint8_t test, std::uint8_t* data, std::uint32_t length) {
  std::uint8_t r[2] = {1, 0xFF};
  if (test == 1 && !spec_.faults.interfaceFail.empty()) r[1] = spec_.faults.interfaceFail.front()[0];
  return giveIn(data, length, r, 2);
}

// Flash-interface report: byte 0 entry count; 4-byte entries from 4
// (channel, bank, kind, 0), ended by FF FF FF FF.
SimReply Controller::testReport(std::uint8_t* data, std::uint32_t length) {
  const auto& entries = spec_.faults.interfaceFail;
  std::vector<std::uint8_t> r(8 + 4 * entries.size(), 0);
  r[0] = static_cast<std::uint8_t>(entries.size());
  size_t at = 4;
  for (const auto& e : entries) {
    r[at] = e[1];
    r[at + 1] = e[2];
    r[at + 2] = e[0];
    at += 4;
  }
  std::memset(r.data() + at, 0xFF, 4);
  return giveIn(data, length, r.data(), r.size());
}

SimReply Controller::readArea(std::uint8_t area, std::uint32_t address, std::uint8_t* data, std::uint32_t length) {
  if (length == 0) return SimReply::good(0);
  ramRead(0x100u + area, address, data, length);
  for (const auto& f : spec_.faults.bus) {
    if (f[0] == area && areaWrites_[area] == f[1] + 1 && length >= 202) {
      data[200] ^= 0xFF;
      data[201] ^= 0xFF;
    }
  }
  return SimReply::good(length);
}

}  // namespace qk::sim
