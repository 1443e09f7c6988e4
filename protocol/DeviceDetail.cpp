#include "protocol/DeviceDetail.h"

#include "platform/LittleEndian.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "protocol/LoaderHeader.h"

namespace qk {

namespace {

// USB form of the identity area in a firmware page.
constexpr std::size_t kVidAt = 100, kPidAt = 102;
constexpr std::size_t kVendorAt = 118, kProductAt = 126;
constexpr std::size_t kManufacturerAt = 158, kProductStringAt = 192, kSerialAt = 242;
constexpr std::size_t kIdentityEnd = 0x11C;
constexpr std::size_t kFwInfoAt = 768;
constexpr std::size_t kFormAt = 0x30D;

std::string cutAtZero(const std::uint8_t* p, std::size_t n) {
  const auto* c = reinterpret_cast<const char*>(p);
  return std::string(c, ::strnlen(c, n));
}

// A string descriptor: length, type, then (length - 2) / 2 UTF-16 characters
// of which the low byte is kept; never more than the field holds.
std::string descriptorText(std::span<const std::uint8_t> page, std::size_t at, std::size_t maxChars) {
  const std::size_t length = page[at];
  std::size_t n = length >= 2 ? (length - 2) / 2 : 0;
  n = std::min(n, maxChars);
  std::string s;
  for (std::size_t i = 0; i < n && at + 2 + 2 * i < page.size(); ++i) s += static_cast<char>(page[at + 2 + 2 * i]);
  return s;
}

std::string hex4(std::uint16_t v) {
  char s[8];
  std::snprintf(s, sizeof s, "%04X", v);
  return s;
}


bool isUsbFirmwarePage(const std::uint8_t* page) {
  return std::memcmp(page + 0x300, "QKSS", 4) == 0 && page[kFormAt] == 'U';
}

}  // namespace

std::optional<UsbIdentityRecord> ParseUsbIdentityArea(std::span<const std::uint8_t> page) {
  if (page.size() < kIdentityEnd) return std::nullopt;
  UsbIdentityRecord r;
  r.vid = le16(page.data() + kVidAt);
  r.pid = le16(page.data() + kPidAt);
  r.vendor = cutAtZero(page.data() + kVendorAt, 8);
  r.product = cutAtZero(page.data() + kProductAt, 16);
  r.manufacturer = descriptorText(page, kManufacturerAt, 16);
  r.productString = descriptorText(page, kProductStringAt, 24);
  r.serial = descriptorText(page, kSerialAt, 20);
  return r;
}

std::optional<UsbIdentityRecord> ReadUsbIdentityRecord(ControllerOps& ops, std::uint8_t* buffer) {
  // The running firmware hands out its patched first page from RAM area 1;
  // otherwise the record is read from the loader area in flash.
  std::memset(buffer, 0, 1024);
  if (ops.vendor().ReadRam(1, 0, buffer, 2) == 1 && isUsbFirmwarePage(buffer))
    return ParseUsbIdentityArea({buffer, 1024});
  if (ReadLoaderHeader(ops, buffer, false) && isUsbFirmwarePage(buffer))
    return ParseUsbIdentityArea({buffer, WorkBuffers::kSmallSize});
  return std::nullopt;
}

DeviceDetail ReadDeviceDetail(ControllerOps& ops, std::uint8_t* buffer) {
  DeviceDetail d;
  const std::string& path = ops.context().devicePath;
  auto failed = [&] {
    d.model = d.serial = d.firmware = d.capacity = "Fail";
    return d;
  };
  auto capacity = [&] {
    d.capacityMB = ops.ReadCapacitySectors() / 2048;
    d.capacity = std::to_string(d.capacityMB) + " MB";
  };
  if (ops.path() == TransportPath::UsbPath) {
    std::array<std::uint8_t, 36> inq{};
    std::uint32_t moved = 0;
    if (ops.transport().InquiryDevice(path, inq.data(), inq.size(), &moved) != 1) return failed();
    d.answered = true;
    d.loaderMode = ops.IsLoaderMode();
    capacity();
    if (!d.loaderMode && ReadLoaderHeader(ops, buffer, false)) {
      std::span<const std::uint8_t> page(buffer, WorkBuffers::kSmallSize);
      auto r = ParseUsbIdentityArea(page);
      d.vendorName = r->vendor;
      d.productName = r->product;
      d.manufacturerString = r->manufacturer;
      d.productString = r->productString;
      d.serial = r->serial;
      d.vid = hex4(r->vid);
      d.pid = hex4(r->pid);
      d.fwInfo = cutAtZero(buffer + kFwInfoAt, 39);
    }
    return d;
  }
  std::array<std::uint8_t, 512> id{};
  if (ops.standard().IdentifyDevice(path, id.data()) != 1) return failed();
  d.answered = true;
  auto text = [&](std::size_t at, std::size_t n) {
    std::string s = UnswapAtaText(id.data() + at, n);
    return s.substr(0, s.find('\0'));
  };
  d.serial = text(20, 20);
  d.firmware = text(46, 8);
  d.model = text(54, 40);
  d.loaderMode = ops.IsLoaderMode();
  capacity();
  if (!d.loaderMode && ReadLoaderHeader(ops, buffer, true)) d.fwInfo = cutAtZero(buffer + kFwInfoAt, 47);
  return d;
}

}  // namespace qk
