#include "sim/WrappedFamily.h"

#include <algorithm>
#include <cstring>

namespace qk::sim {

namespace {

// ATA commands of the three code sets and the CDB byte 1 (protocol) each needs.
//   set 2: out 88 (byte 1 0x16), in 86 (0x14)
//   set 1: out 8F (0x0A),        in 8A (0x08)
//   set 0: out C5 (0x0A),        in C4 (0x08)
struct Wrap {
  std::uint8_t ata;
  bool out;
  std::uint8_t protocol;
};
constexpr Wrap kWraps[] = {{0x88, true, 0x16}, {0x8F, true, 0x0A}, {0xC5, true, 0x0A},
                           {0x86, false, 0x14}, {0x8A, false, 0x08}, {0xC4, false, 0x08}};

const Wrap* findWrap(std::uint8_t ata) {
  for (const auto& w : kWraps) {
    if (w.ata == ata) return &w;
  }
  return nullptr;
}

constexpr std::uint8_t kCommandSector = 0xFF;

}  // namespace

bool WrappedFamily::accepts(const SimDrive&, const SimCommand& c) const {
  return c.cdb[0] == 0xA1 && c.cdbLength >= 12 && findWrap(c.cdb[9]) != nullptr;
}

// CDB: 0 A1, 1 protocol, 2 transfer flags, 4 sector count, 5 LBA low, 9 ATA command.
SimReply WrappedFamily::execute(SimDrive& drive, const SimCommand& c) {
  Controller& ctl = drive.controller();
  const Wrap& w = *findWrap(c.cdb[9]);
  if (c.cdb[1] != w.protocol) return SimReply::ataAbort();
  const std::uint32_t count = c.cdb[4];
  const std::uint8_t lbaLow = c.cdb[5];
  const std::uint32_t bytes = std::min<std::uint32_t>(count * 512, c.data ? c.length : 0);
  const DataDirection want = w.out ? DataDirection::Out : DataDirection::In;
  if (count > 0 && c.direction != want) return SimReply::ataAbort();

  if (lbaLow == kCommandSector && w.out) {
    ctl.pending.reset();
    if (count < 1 || bytes < 512) return SimReply::ataAbort();
    if (c.data[0] != 0xFF || c.data[1] != 0xE5) return SimReply::ataAbort();
    auto phase = ctl.dataPhase(c.data[2]);
    if (!phase) return SimReply::ataAbort();
    if (*phase == DataDirection::None) {
      SimReply r = ctl.vendor(c.data, true, DataDirection::None, nullptr, 0);
      return r.isGood() ? SimReply::good(512) : r;
    }
    std::array<std::uint8_t, 12> block;
    std::memcpy(block.data(), c.data, 12);
    ctl.pending = block;
    return SimReply::good(512);
  }
  if (lbaLow == kCommandSector) {
    // The probe: the controller is up and answers its signature.
    const std::uint8_t probe[3] = {0xE5, 0x4A, 0x4D};
    if (bytes == 0) return SimReply::good(0);
    std::memset(c.data, 0, bytes);
    std::memcpy(c.data, probe, std::min<std::uint32_t>(3, bytes));
    return SimReply::good(bytes);
  }
  if (!ctl.pending || (*ctl.pending)[2] != lbaLow || ctl.dataPhase(lbaLow) != want) {
    ctl.pending.reset();
    return SimReply::ataAbort();
  }
  const auto block = *ctl.pending;
  ctl.pending.reset();
  return ctl.vendor(block.data(), true, want, c.data, bytes);
}

}  // namespace qk::sim
