#pragma once
// One SCSI command block executed on a device path: the seam between the
// transport and the operating system (or the simulated bench).
#include <cstddef>
#include <cstdint>
#include <string>

namespace qk {

enum class DataDirection { None, In, Out };

struct PassThroughRequest {
  const std::uint8_t* cdb = nullptr;
  std::size_t cdbLength = 0;          // 6..16
  DataDirection direction = DataDirection::None;
  std::uint8_t* buffer = nullptr;     // read for Out, written for In
  std::uint32_t length = 0;           // bytes
  std::uint32_t timeoutMs = 0;        // already scaled by the caller's clock
};

constexpr std::uint8_t kScsiStatusGood = 0x00;
constexpr std::uint8_t kScsiStatusCheckCondition = 0x02;

// Outcome in layers, lowest first.
struct PassThroughResult {
  bool sent = false;           // the device could be opened and the request issued
  bool completed = false;      // came back without an OS or transport error (time-out included)
  std::uint8_t scsiStatus = 0; // what the device said; meaningful only when completed
  std::uint32_t transferred = 0;  // bytes the system reports as moved
  int osError = 0;             // errno of a failed open or request
};

// Identity of a device node, the counterpart of a storage device number.
struct DeviceNumber {
  bool blockDevice = false;
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
};

class PassThrough {
 public:
  virtual ~PassThrough() = default;
  // Issues one request to the drive at `path`. Safe to call from many threads
  // at once, for the same path or different ones.
  virtual PassThroughResult execute(const std::string& path, const PassThroughRequest& request) = 0;
  // Queries the device number without opening the device for I/O.
  virtual bool deviceNumber(const std::string& path, DeviceNumber& out) = 0;
  // Resets a drive that stopped answering so that commands blocked on it
  // return. True when the reset was issued.
  enum class ResetLevel { Device, UsbPort };
  virtual bool reset(const std::string& /*path*/, ResetLevel /*level*/) { return false; }
};

}  // namespace qk
