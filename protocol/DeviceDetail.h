#pragma once
// What the device detail view shows of one drive, read straight from it, and
// the USB identity record the run's identity checks compare against.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "protocol/ControllerOps.h"

namespace qk {

// The USB identity form of a patched firmware page.
struct UsbIdentityRecord {
  std::string vendor;         // inquiry vendor identification, 8 characters
  std::string product;        // inquiry product identification, 16 characters
  std::string manufacturer;   // string descriptors, low byte of each character
  std::string productString;
  std::string serial;
  std::uint16_t vid = 0;
  std::uint16_t pid = 0;
};

// Decodes the record from the first page of a firmware file (at least 0x11C
// bytes); nullopt when the page is shorter.
std::optional<UsbIdentityRecord> ParseUsbIdentityArea(std::span<const std::uint8_t> page);

// The record of the running firmware. buffer: 64 KiB. nullopt when the drive
// has no readable identity record (e.g. in loader mode).
std::optional<UsbIdentityRecord> ReadUsbIdentityRecord(ControllerOps& ops, std::uint8_t* buffer);

struct DeviceDetail {
  bool answered = false;  // INQUIRY (USB) or IDENTIFY (bridge) succeeded
  bool loaderMode = false;
  std::string model, serial, firmware;
  std::string capacity;   // "<MB> MB", or "Fail"
  std::uint32_t capacityMB = 0;
  std::string fwInfo;     // firmware information text of the loader area
  // USB path only, when the loader area could be read.
  std::string vendorName, productName, manufacturerString, productString, vid, pid;
};

// Reads the detail of the port's drive on the station's current path.
DeviceDetail ReadDeviceDetail(ControllerOps& ops, std::uint8_t* buffer);

}  // namespace qk
