#include "sim/SimDrive.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sys/stat.h>

#include "platform/DebugOutput.h"
#include "sim/AtaFamily.h"
#include "sim/ReadyDrive.h"
#include "sim/SampleData.h"
#include "sim/ScsiFamily.h"
#include "sim/StreamIo.h"
#include "sim/VendorFamily.h"
#include "sim/WrappedFamily.h"

namespace qk::sim {

namespace {
// Tokens with which the controller itself answers on USB; all others are bridges.
bool isNativeToken(const std::string& t) {
  return t == "R20X" || t == "R21X" || t == "q21x" || t == "ice " || t == "k409";
}

FlashType sampleType(const std::string& name) {
  FlashType t;
  FindFlashType(SampleFlashList(), name, t);
  return t;
}

FlashShape shapeOf(const DriveSpec& cfg, const FlashType& t) {
  FlashShape s;
  s.channels = cfg.channel;
  s.slots = cfg.bank;
  s.blocks = t.blocksPerCe();
  s.pagesPerBlock = t.pagesPerBlock();
  s.pageBytes = t.pageBytes();
  return s;
}

constexpr char kStateMagic[] = "QKSIMDRIVE1\n";
}  // namespace

SimDrive::SimDrive(DriveSpec cfg, std::unique_ptr<UserData> data)
    : SimDrive(cfg, std::move(data), sampleType(cfg.flash)) {}

SimDrive::SimDrive(DriveSpec cfg, std::unique_ptr<UserData> data, FlashType type)
    : spec_(std::move(cfg)), type_(std::move(type)), nativeUsb_(isNativeToken(spec_.token)), data_(std::move(data)) {
  present_.store(spec_.plugged);
  flash_ = std::make_unique<FlashArray>(shapeOf(spec_, type_));
  for (const auto& b : spec_.factoryBad) flash_->markBad(b.channel, b.slot, b.block);
  controller_ = std::make_unique<Controller>(spec_, type_, *flash_, *data_, nativeUsb_);
  families_.push_back(std::make_unique<ScsiFamily>());
  if (!nativeUsb_) families_.push_back(std::make_unique<AtaFamily>());
  families_.push_back(std::make_unique<VendorFamily>());
  if (!nativeUsb_) families_.push_back(std::make_unique<WrappedFamily>());

  struct stat st{};
  const bool persisted = !spec_.persistPath.empty() && ::stat(spec_.persistPath.c_str(), &st) == 0;
  if (persisted) {
    loadState(loadError_);
  } else if (spec_.state == DriveState::Formatted) {
    SeedFormatted(*flash_, type_);
  } else if (spec_.state == DriveState::Ready) {
    SeedReady(*flash_, type_, ReadySerial(spec_.name), nativeUsb_);
  }
  controller_->powerOn();
}

SimDrive::~SimDrive() { powerOff(); }

void SimDrive::addFamily(std::unique_ptr<SimCommandFamily> family) {
  std::lock_guard lock(mutex_);
  families_.push_back(std::move(family));
}

void SimDrive::powerOff() {
  if (spec_.persistPath.empty() || !loadError_.empty()) return;
  std::string error;
  if (!saveState(error)) debugPrintf("sim %s: %s", spec_.name.c_str(), error.c_str());
}

void SimDrive::powerOn() {
  std::lock_guard lock(mutex_);
  hung_ = false;
  vendorCount_ = 0;
  bridgeMode = false;
  controller_->powerOn();
}

// State file: the magic line, the flash array, a byte telling whether the
// user data follows, then the user data store.
bool SimDrive::saveState(std::string& error) {
  std::lock_guard lock(mutex_);
  const std::string temp = spec_.persistPath + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return error = "cannot write " + temp, false;
    out.write(kStateMagic, sizeof kStateMagic - 1);
    flash_->save(out);
    const bool withData = !data_->savesItself();
    out.put(withData ? 1 : 0);
    if (withData) data_->save(out);
    out.flush();
    if (!out) return error = "cannot write " + temp, false;
  }
  if (std::rename(temp.c_str(), spec_.persistPath.c_str()) != 0) {
    std::remove(temp.c_str());
    return error = "cannot replace " + spec_.persistPath, false;
  }
  return true;
}

bool SimDrive::loadState(std::string& error) {
  std::ifstream in(spec_.persistPath, std::ios::binary);
  char magic[sizeof kStateMagic - 1];
  if (!in || !in.read(magic, sizeof magic) || std::string(magic, sizeof magic) != kStateMagic) {
    return error = spec_.persistPath + " is not a simulated drive's state", false;
  }
  if (!flash_->load(in)) return error = spec_.persistPath + " holds another flash shape or is damaged", false;
  char withData = 0;
  if (!in.get(withData)) return error = spec_.persistPath + " is damaged", false;
  if (withData && !data_->savesItself() && !data_->load(in)) return error = spec_.persistPath + " is damaged", false;
  return true;
}

// USB form of the identity area: IDs at 0x64 and 0x66, the serial string
// descriptor at 0xF2 (length byte, type, UTF-16LE characters).
SimDrive::UsbIdentity SimDrive::usbIdentity() const {
  UsbIdentity id{spec_.vendorId, spec_.productId, spec_.usbSerial};
  std::lock_guard lock(mutex_);
  const FirmwareInfo* fw = controller_->firmware();
  if (!nativeUsb_ || !fw || fw->usbPage.empty()) return id;
  const std::uint8_t* p = fw->usbPage.data();
  if (le16(p + 0x64) != 0) id.vendorId = le16(p + 0x64);
  if (le16(p + 0x66) != 0) id.productId = le16(p + 0x66);
  std::string serial;
  const int chars = p[0xF2] >= 2 ? std::min((p[0xF2] - 2) / 2, 20) : 0;
  for (int i = 0; i < chars; ++i) serial += static_cast<char>(p[0xF4 + 2 * i]);
  if (!serial.empty()) id.serial = serial;
  return id;
}

bool SimDrive::hangStarts(const SimCommand& c) const {
  const std::string& h = spec_.faults.hang;
  if (h.empty()) return false;
  const std::uint8_t op = c.cdb[0];
  if (h == "inquiry") return op == 0x12;
  if (h == "identify") return op == 0xA1 && c.cdbLength >= 10 && c.cdb[9] == 0xEC;
  if (h == "rw") return op == 0x28 || op == 0x2A;
  if (h == "vendor") return vendorCount_ == spec_.faults.hangAtVendor;
  if (h == "format") {
    return op == 0x2A && c.cdbLength >= 10 && be32(c.cdb + 2) == 0 && c.data && c.length >= 512 &&
           c.data[510] == 0x55 && c.data[511] == 0xAA;
  }
  // download: the first flash page program, raw or as a wrapped command sector
  if (op == 0xFF && c.cdbLength >= 3) return c.cdb[2] == 0x8A;
  return op == 0xA1 && c.cdbLength >= 6 && c.cdb[5] == 0xFF && c.direction == DataDirection::Out && c.data &&
         c.length >= 3 && c.data[0] == 0xFF && c.data[2] == 0x8A;
}

SimReply SimDrive::execute(const SimCommand& command) {
  std::lock_guard lock(mutex_);
  if (!present_.load()) return {SimReply::Outcome::Dropped};
  ++commandCount_;
  const auto& faults = spec_.faults;
  if (faults.pullAtCommand != 0 && commandCount_ == faults.pullAtCommand) {
    present_.store(false);
    return {SimReply::Outcome::Pulled};
  }
  auto hit = [&](const std::vector<CommandSelector>& list) {
    return std::any_of(list.begin(), list.end(),
                       [&](const CommandSelector& s) { return s.matches(command.cdb, command.cdbLength); });
  };
  if (hit(faults.fail)) return {SimReply::Outcome::Dropped};
  if (hit(faults.noAnswer)) return {SimReply::Outcome::NoAnswer};
  if (command.cdbLength == 0) return SimReply::invalidOpcode();
  // Vendor and ATA PASS-THROUGH commands come from the station only, never
  // from the system's own probing: their count marks a point in a run.
  if (command.cdb[0] == 0xFF || command.cdb[0] == 0xA1 || command.cdb[0] == 0x85) ++vendorCount_;
  if (!hung_ && hangStarts(command)) hung_ = true;
  if (hung_) return {SimReply::Outcome::NoAnswer};
  for (auto it = families_.rbegin(); it != families_.rend(); ++it) {
    if ((*it)->accepts(*this, command)) return (*it)->execute(*this, command);
  }
  return SimReply::invalidOpcode();
}

}  // namespace qk::sim
