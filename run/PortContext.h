#pragma once
// One record per port slot. Device discovery fills a scan table of this shape;
// the run start copies it over the live table, and the workers then write only
// their own record.
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace qk {

constexpr int SlotLimit = 50;

// Fixed-size NUL-terminated text: a longer value is cut to fit.
template <std::size_t N>
struct FixedText {
  char bytes[N] = {};

  void assign(std::string_view v) {
    std::size_t n = v.size() < N - 1 ? v.size() : N - 1;
    std::memcpy(bytes, v.data(), n);
    std::memset(bytes + n, 0, N - n);
  }
  void clear() { std::memset(bytes, 0, N); }
  bool empty() const { return bytes[0] == 0; }
  std::string str() const { return std::string(bytes, ::strnlen(bytes, N)); }
  bool operator==(const FixedText& o) const { return std::strncmp(bytes, o.bytes, N) == 0; }
};

struct PortContext {
  std::int32_t configured = 0;  // a non-hub USB device is on the port (hub walk)
  std::int32_t active = 0;      // a disk is bound and its bridge recognised
  std::uint8_t bridgeCode = 0;
  std::uint8_t pathKind = 0;    // 1 "ide", 2 "scsi", 3 "usbstor" in the device path
  std::uint16_t usbVendorId = 0;
  std::uint16_t usbProductId = 0;
  FixedText<82> usbSerial;
  FixedText<80> driverKey;
  FixedText<80> locationKey;    // the USB device on this port; lower-cased by the binding
  FixedText<260> devicePath;    // what every command to this drive opens
  // The drive's volume (its first partition's node), standing for a drive letter.
  FixedText<260> volume;
  std::int32_t capacityMB = 0;
  std::int32_t formatted = 0;
  std::int32_t resultCode = 0;
  std::int32_t interfaceSubCode = 0;
  std::int32_t yieldEvent = 0;
  std::int32_t shownCode = 0;
  std::int32_t failedUnit = 0;
  std::int32_t failedUnitCount = 0;
  std::uint8_t interfaceStatus = 0;
  FixedText<40> serialNumber;   // also where the scan's bar-code prompt stores its answer
  std::uint8_t temperature = 0;
  // Platform handles of the disk node and of its USB device (what safe removal ejects).
  FixedText<256> diskInstance;
  FixedText<256> usbInstance;
  std::array<std::int32_t, 26> stepStatus{};  // element 25 is the verdict
  // The bad-block column totals of the table check, when the run read them.
  std::array<std::uint32_t, 5> badBlockTotals{};
  bool badBlocksRead = false;

  void clear() { *this = PortContext{}; }
};

using PortTable = std::array<PortContext, SlotLimit>;

}  // namespace qk
