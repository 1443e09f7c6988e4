#pragma once
// One simulated drive on a bench, driven with command blocks written out by
// hand: vendor blocks raw (native USB) or wrapped in ATA PASS-THROUGH(12).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "sim/Bench.h"

namespace qk::sim::test {

using Bytes = std::vector<std::uint8_t>;
using Block = std::array<std::uint8_t, 12>;

// FF 04 sub p3 p4 ...
inline Block vendorBlock(std::uint8_t sub, std::initializer_list<std::uint8_t> params = {}) {
  Block b{0xFF, 0x04, sub};
  size_t i = 3;
  for (auto p : params) b[i++] = p;
  return b;
}

inline std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

class Rig {
 public:
  // `keys`: lines of the drive's section besides At and Token.
  explicit Rig(const std::string& keys, const std::string& token = "R20X", const std::string& dir = "/tmp") {
    std::string text = "[Hub1]\nParent=root\nKind=usb2\nPorts=4\n[Drive1]\nAt=Hub1:1\nToken=" + token + "\n" + keys;
    BenchConfig cfg;
    cfg.file = "rig.bench";
    std::string error;
    if (!ParseBenchText(text, dir, {}, cfg, error)) {
      ADD_FAILURE() << error;
      return;
    }
    BenchOptions options;
    options.clock = &clock;
    bench = Bench::fromConfig(std::move(cfg), options, error);
    if (!bench) ADD_FAILURE() << error;
  }

  PassThroughResult send(const Bytes& cdb, DataDirection dir, std::uint8_t* data, std::uint32_t length,
                         std::uint32_t timeoutMs = 10000) {
    PassThroughRequest r;
    r.cdb = cdb.data();
    r.cdbLength = cdb.size();
    r.direction = dir;
    r.buffer = data;
    r.length = length;
    r.timeoutMs = timeoutMs;
    return bench->passThrough().execute(Bench::devicePathFor("Drive1"), r);
  }
  static bool good(const PassThroughResult& r) { return r.completed && r.scsiStatus == kScsiStatusGood; }

  // Native USB: the block is the CDB; data length = sectors x 512.
  bool usb(const Block& b, DataDirection dir = DataDirection::None, std::uint8_t* data = nullptr,
           std::uint32_t sectors = 0) {
    return good(send(Bytes(b.begin(), b.end()), dir, data, sectors * 512));
  }
  Bytes usbIn(const Block& b, std::uint32_t sectors = 1) {
    Bytes out(sectors * 512, 0xCC);
    lastOk = usb(b, DataDirection::In, out.data(), sectors);
    return out;
  }

  // Bridge path. Code sets (WrappedOut / WrappedIn):
  //   variant 2: A1 16 03 ... 88 / A1 14 0B ... 86
  //   variant 1: A1 0A 03 ... 8F / A1 08 0B ... 8A
  //   variant 0: A1 0A 03 ... C5 / A1 08 0B ... C4
  static Bytes wrapCdb(bool out, std::uint8_t sectors, std::uint8_t lbaLow, int variant) {
    static const std::uint8_t outByte1[3] = {0x0A, 0x0A, 0x16}, inByte1[3] = {0x08, 0x08, 0x14};
    static const std::uint8_t outAta[3] = {0xC5, 0x8F, 0x88}, inAta[3] = {0xC4, 0x8A, 0x86};
    return {0xA1, out ? outByte1[variant] : inByte1[variant], static_cast<std::uint8_t>(out ? 0x03 : 0x0B), 0x00,
            sectors, lbaLow, 0x34, 0x12, 0xE0, out ? outAta[variant] : inAta[variant], 0x00, 0x00};
  }
  bool sata(Block b, DataDirection dir = DataDirection::None, std::uint8_t* data = nullptr,
            std::uint8_t sectors = 0) {
    b[1] = 0xE5;
    std::uint8_t sector[512] = {};
    std::memcpy(sector, b.data(), 12);
    if (!good(send(wrapCdb(true, 1, 0xFF, variant), DataDirection::Out, sector, 512))) return false;
    if (sectors == 0) return true;
    return good(send(wrapCdb(dir == DataDirection::Out, sectors, b[2], variant), dir, data, sectors * 512u));
  }
  Bytes sataIn(const Block& b, std::uint8_t sectors = 1) {
    Bytes out(sectors * 512u, 0xCC);
    lastOk = sata(b, DataDirection::In, out.data(), sectors);
    return out;
  }

  // Either path, by the drive's kind.
  bool cmd(const Block& b, DataDirection dir = DataDirection::None, std::uint8_t* data = nullptr,
           std::uint32_t sectors = 0) {
    return bridged ? sata(b, dir, data, static_cast<std::uint8_t>(sectors)) : usb(b, dir, data, sectors);
  }
  Bytes in(const Block& b, std::uint32_t sectors = 1) {
    return bridged ? sataIn(b, static_cast<std::uint8_t>(sectors)) : usbIn(b, sectors);
  }
  // Status byte of a status sector: byte 0, or byte 1 after 0xE5 behind a bridge.
  int status(const Block& b) {
    Bytes s = in(b);
    if (!lastOk) return -1;
    if (!bridged) return s[0];
    return s[0] == 0xE5 ? s[1] : -2;
  }

  Bytes inquiry() {
    Bytes out(36, 0);
    lastOk = good(send({0x12, 0, 0, 0, 36, 0}, DataDirection::In, out.data(), 36));
    return out;
  }
  Bytes identify() {
    Bytes out(512, 0);
    lastOk = good(send({0xA1, 0x08, 0x0B, 0x00, 0x01, 0, 0, 0, 0xE0, 0xEC, 0, 0}, DataDirection::In, out.data(), 512));
    return out;
  }
  // READ CAPACITY(10): the last LBA.
  std::uint32_t lastLba() {
    std::uint8_t d[8] = {};
    lastOk = good(send({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, DataDirection::In, d, 8));
    return static_cast<std::uint32_t>(d[0]) << 24 | d[1] << 16 | d[2] << 8 | d[3];
  }
  static std::string ataText(const Bytes& id, int firstWord, int words) {
    std::string s;
    for (int i = 0; i < words; ++i) {
      s += static_cast<char>(id[(firstWord + i) * 2 + 1]);
      s += static_cast<char>(id[(firstWord + i) * 2]);
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  }

  VirtualClock clock;
  std::unique_ptr<Bench> bench;
  bool bridged = false;
  int variant = 2;
  bool lastOk = false;
};

// A rig whose drive sits behind a bridge.
inline std::unique_ptr<Rig> bridgedRig(const std::string& keys, const std::string& token = "k404") {
  auto r = std::make_unique<Rig>(keys, token);
  r->bridged = true;
  return r;
}
inline std::unique_ptr<Rig> usbRig(const std::string& keys) { return std::make_unique<Rig>(keys, "R20X"); }

}  // namespace qk::sim::test
