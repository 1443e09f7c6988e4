// qk-usb-gadget: serves one simulated drive of a bench file as a USB
// mass-storage device through FunctionFS, so a Linux kernel (its usb-storage
// driver, SCSI layer and block devices) talks to the simulated controller as
// to a real drive. Every command block goes to the drive, every reply back
// over USB.
//
//   qk-usb-gadget BENCH DRIVE FFS_DIR [--token TTTT]   serve (FFS_DIR: a mounted functionfs)
//   qk-usb-gadget BENCH DRIVE --identity [--token TTTT] print "VID PID SERIAL" for configfs
#include <endian.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/Bench.h"
#include "sim/BenchConfig.h"
#include "sim/BulkOnlyTarget.h"

using namespace qk;
using namespace qk::sim;

namespace {

// One interface of class 08 (mass storage), subclass 06 (SCSI), protocol 50
// (Bulk-Only), with a bulk IN (ep1) and a bulk OUT (ep2) endpoint, at full
// and high speed.
struct __attribute__((packed)) InterfaceDescriptors {
  usb_interface_descriptor intf;
  usb_endpoint_descriptor_no_audio in;
  usb_endpoint_descriptor_no_audio out;
};

struct __attribute__((packed)) Descriptors {
  usb_functionfs_descs_head_v2 header;
  __le32 fsCount;
  __le32 hsCount;
  InterfaceDescriptors fs;
  InterfaceDescriptors hs;
};

InterfaceDescriptors interfaceDescriptors(std::uint16_t maxPacket) {
  InterfaceDescriptors d{};
  d.intf.bLength = sizeof d.intf;
  d.intf.bDescriptorType = USB_DT_INTERFACE;
  d.intf.bNumEndpoints = 2;
  d.intf.bInterfaceClass = USB_CLASS_MASS_STORAGE;
  d.intf.bInterfaceSubClass = 0x06;
  d.intf.bInterfaceProtocol = 0x50;
  d.intf.iInterface = 1;
  d.in.bLength = d.out.bLength = sizeof d.in;
  d.in.bDescriptorType = d.out.bDescriptorType = USB_DT_ENDPOINT;
  d.in.bEndpointAddress = 1 | USB_DIR_IN;
  d.out.bEndpointAddress = 2 | USB_DIR_OUT;
  d.in.bmAttributes = d.out.bmAttributes = USB_ENDPOINT_XFER_BULK;
  d.in.wMaxPacketSize = d.out.wMaxPacketSize = htole16(maxPacket);
  return d;
}

struct __attribute__((packed)) Strings {
  usb_functionfs_strings_head header;
  __le16 language;
  char interface[sizeof "QK simulated drive"];
};

bool writeAll(int fd, const void* data, std::size_t length) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (length > 0) {
    ssize_t n = ::write(fd, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

bool readAll(int fd, std::uint8_t* p, std::size_t length) {
  while (length > 0) {
    ssize_t n = ::read(fd, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

bool writeDescriptors(int ep0) {
  Descriptors d{};
  d.header.magic = htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
  d.header.flags = htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
  d.header.length = htole32(sizeof d);
  d.fsCount = d.hsCount = htole32(3);
  d.fs = interfaceDescriptors(64);
  d.hs = interfaceDescriptors(512);
  Strings s{};
  s.header.magic = htole32(FUNCTIONFS_STRINGS_MAGIC);
  s.header.length = htole32(sizeof s);
  s.header.str_count = htole32(1);
  s.header.lang_count = htole32(1);
  s.language = htole16(0x0409);
  std::memcpy(s.interface, "QK simulated drive", sizeof s.interface);
  return writeAll(ep0, &d, sizeof d) && writeAll(ep0, &s, sizeof s);
}

// Control requests of the function: Get Max LUN and Bulk-Only Mass Storage Reset.
void serveControl(int ep0) {
  usb_functionfs_event events[4];
  for (;;) {
    ssize_t n = ::read(ep0, events, sizeof events);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof events[0]; ++i) {
      if (events[i].type != FUNCTIONFS_SETUP) continue;
      const usb_ctrlrequest& r = events[i].u.setup;
      const bool in = (r.bRequestType & USB_DIR_IN) != 0;
      if (r.bRequest == 0xFE && in) {  // Get Max LUN: one logical unit
        std::uint8_t maxLun = 0;
        (void)!::write(ep0, &maxLun, 1);
      } else if (r.bRequest == 0xFF && !in) {  // reset: acknowledged; the next wrapper starts afresh
        (void)!::read(ep0, nullptr, 0);
      } else if (in) {
        (void)!::read(ep0, nullptr, 0);  // reading on an IN request stalls it
      } else {
        (void)!::write(ep0, nullptr, 0);
      }
    }
  }
}

void serveBulk(BulkOnlyTarget& target, int epIn, int epOut) {
  std::vector<std::uint8_t> data;
  std::uint8_t wrapper[512];
  for (;;) {
    ssize_t n = ::read(epOut, wrapper, sizeof wrapper);
    if (n < 0 && (errno == EINTR || errno == ESHUTDOWN || errno == ECONNRESET)) {
      if (errno != EINTR) ::usleep(10000);
      continue;
    }
    if (n < 0) {
      std::perror("qk-usb-gadget: bulk OUT");
      return;
    }
    CommandBlockWrapper cbw;
    if (!BulkOnlyTarget::decodeCbw(wrapper, static_cast<std::size_t>(n), cbw)) {
      std::fprintf(stderr, "qk-usb-gadget: invalid command wrapper of %zd bytes ignored\n", n);
      continue;
    }
    data.assign(cbw.dataLength, 0);
    if (!cbw.dataIn && cbw.dataLength > 0 && !readAll(epOut, data.data(), data.size())) continue;
    const BulkOnlyResult r = target.execute(cbw, data.data());
    if (!r.answered) continue;  // the host times out and resets, as with a drive that hangs
    if (cbw.dataIn && cbw.dataLength > 0) {
      if (r.transferred > 0 && !writeAll(epIn, data.data(), r.transferred)) continue;
      // A short reply that ends on a packet boundary would leave the host
      // waiting for more: the halt tells it the data phase is over.
      if (r.transferred < cbw.dataLength && r.transferred % 512 == 0) (void)!::read(epIn, nullptr, 0);
    }
    std::uint8_t csw[kCswLength];
    BulkOnlyTarget::encodeCsw(cbw.tag, cbw.dataLength - r.transferred, r.status, csw);
    writeAll(epIn, csw, sizeof csw);
  }
}

int usage() {
  std::fprintf(stderr,
               "usage: qk-usb-gadget BENCH DRIVE FFS_DIR [--token TTTT]\n"
               "       qk-usb-gadget BENCH DRIVE --identity [--token TTTT]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return usage();
  const std::string benchFile = argv[1], driveName = argv[2], ffs = argv[3];
  std::string token;
  bool tokenSet = false;
  for (int i = 4; i < argc; ++i) {
    if (std::strcmp(argv[i], "--token") == 0 && i + 1 < argc) {
      token = argv[++i];
      tokenSet = true;
    } else {
      return usage();
    }
  }
  BenchConfig config;
  std::string error;
  if (!ParseBenchFile(benchFile, {}, config, error)) {
    std::fprintf(stderr, "qk-usb-gadget: %s\n", error.c_str());
    return 1;
  }
  for (auto& d : config.drives) {
    if (tokenSet && d.name == driveName) d.token = token;
  }
  config.tracePath.clear();
  auto bench = Bench::fromConfig(config, {}, error);
  SimDrive* drive = bench ? bench->drive(driveName) : nullptr;
  if (!drive) {
    std::fprintf(stderr, "qk-usb-gadget: %s\n", bench ? ("no drive " + driveName).c_str() : error.c_str());
    return 1;
  }
  if (ffs == "--identity") {
    const auto id = drive->usbIdentity();
    std::printf("%04x %04x %s\n", id.vendorId, id.productId, id.serial.c_str());
    return 0;
  }

  const int ep0 = ::open((ffs + "/ep0").c_str(), O_RDWR | O_CLOEXEC);
  if (ep0 < 0 || !writeDescriptors(ep0)) {
    std::fprintf(stderr, "qk-usb-gadget: %s/ep0: %s\n", ffs.c_str(), std::strerror(errno));
    return 1;
  }
  const int epIn = ::open((ffs + "/ep1").c_str(), O_RDWR | O_CLOEXEC);
  const int epOut = ::open((ffs + "/ep2").c_str(), O_RDWR | O_CLOEXEC);
  if (epIn < 0 || epOut < 0) {
    std::fprintf(stderr, "qk-usb-gadget: endpoints of %s: %s\n", ffs.c_str(), std::strerror(errno));
    return 1;
  }
  std::thread control(serveControl, ep0);
  control.detach();
  BulkOnlyTarget target(*drive);
  serveBulk(target, epIn, epOut);
  return 1;
}
