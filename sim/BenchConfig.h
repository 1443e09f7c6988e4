#pragma once
// The plain description a bench file gives: hubs, what sits on their ports,
// timed events. Parsing checks every reference, so a Bench built from it is
// consistent.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/DriveFaults.h"

namespace qk::sim {

enum class HubKind { Usb1, Usb2, Usb3, Vendor };

struct HubSpec {
  int number = 0;          // K of [HubK]
  int parentHub = 0;       // 0: a root hub
  int parentPort = 0;      // port on the parent hub (external hubs)
  HubKind kind = HubKind::Usb2;
  int ports = 0;
};

enum class DriveState { Blank, Formatted, Ready };

struct FactoryBadBlock {
  int channel = 0, slot = 0;
  std::uint32_t block = 0;
};

struct DriveSpec {
  std::string name;        // section name as written, e.g. "Drive1"
  int number = 0;
  int hub = 0, port = 0;   // At=HubK:P
  std::string token;       // 0 or 4 characters
  std::string flash;       // unique flash type name
  int channel = 4, bank = 1;
  DriveState state = DriveState::Blank;
  int temperature = 40;
  std::string usbSerial;
  std::uint16_t vendorId = 0x1234, productId = 0x5678;
  std::uint32_t sectors = 250069680;  // user capacity
  std::string storePath;   // empty: memory; else absolute path of a sparse file
  std::string persistPath; // empty: nothing survives the bench; else absolute path
  std::vector<FactoryBadBlock> factoryBad;
  bool plugged = true;     // present when the bench starts
  // User-data transfer rate in MB/s on the bench clock (READ/WRITE take their
  // time); 0: at once.
  double speedMBps = 0;
  DriveFaults faults;
};

struct DeviceSpec {
  std::string name;        // e.g. "Device1"
  int number = 0;
  int hub = 0, port = 0;
  std::string usbSerial;
  std::uint16_t vendorId = 0x1234, productId = 0x0001;
  bool plugged = true;
};

struct EventSpec {
  std::int64_t atMs = 0;   // unscaled milliseconds after start
  bool plug = false;       // false: unplug
  std::string target;      // a drive or device name
};

// The line feeder: the operator who swaps finished drives for new ones.
struct FeedSpec {
  int drives = 0;                      // Drives=N: how many drives in all; 0: no feed
  std::int64_t swapMs = 0;             // Swap=MS: pulling a finished drive and plugging the next
  std::vector<std::string> templates;  // TemplateK=DriveN, in K order
};

struct BenchConfig {
  std::string file;        // the bench file
  double timeScale = 1.0;
  std::string tracePath;   // absolute; empty: no trace
  std::vector<HubSpec> hubs;       // by increasing number
  std::vector<DriveSpec> drives;   // by increasing number
  std::vector<DeviceSpec> devices; // by increasing number
  std::vector<EventSpec> events;   // by time, then file order
  FeedSpec feed;
};

struct BenchParseOptions {
  // Tells whether a flash type name exists in the flash list; unset: not checked.
  std::function<bool(const std::string&)> flashKnown;
};

// Reads and checks a bench file. On failure returns false and `error` names
// the file, section and key at fault.
bool ParseBenchFile(const std::string& path, const BenchParseOptions& options, BenchConfig& out,
                    std::string& error);
bool ParseBenchText(const std::string& text, const std::string& baseDir, const BenchParseOptions& options,
                    BenchConfig& out, std::string& error);

}  // namespace qk::sim
