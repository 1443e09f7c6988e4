#pragma once
// The only road to a drive: one pass-through request per command, each
// command independent of the others (the pass-through keeps the drive's
// handle). Outcomes are numbers: primitives 1/0, entry points 1/-2/-1.
#include <cstdint>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "platform/Clock.h"
#include "platform/PassThrough.h"
#include "transport/BridgeCode.h"
#include "transport/TransportState.h"

namespace qk {

// Whether the device's SCSI status and the transferred count decide the outcome.
// Only reads and writes of sectors use Strict; every other command is judged by
// transport completion alone and its callers check the returned bytes.
enum class StatusRule { TransportOnly, Strict };

class DeviceTransport {
 public:
  // Time-outs in seconds, before scaling by the clock.
  static constexpr std::uint32_t kUsbReadTimeoutS = 300;
  static constexpr std::uint32_t kSataCommandReadTimeoutS = 10;
  static constexpr std::uint32_t kSataShortReadTimeoutS = 5;
  static constexpr std::uint32_t kWriteTimeoutS = 10;

  DeviceTransport(PassThrough& passThrough, Clock& clock, TransportState& state)
      : pt_(passThrough), clock_(clock), state_(state) {}

  TransportState& state() { return state_; }
  const TransportState& state() const { return state_; }
  Clock& clock() { return clock_; }

  // One data-in (or, with length 0, no-data) request. 1 when it completed, else 0.
  // `transferred` (may be null) receives the count the system reports.
  int ScsiDataIn(const std::string& path, const std::uint8_t* cdb, std::size_t cdbLength, std::uint8_t* buffer,
                 std::uint32_t length, std::uint32_t* transferred, std::uint32_t timeoutSeconds,
                 StatusRule rule = StatusRule::TransportOnly);
  // The same towards the device; commands without data go this way with length 0.
  int ScsiDataOut(const std::string& path, const std::uint8_t* cdb, std::size_t cdbLength,
                  const std::uint8_t* buffer, std::uint32_t length, std::uint32_t* transferred,
                  std::uint32_t timeoutSeconds, StatusRule rule = StatusRule::TransportOnly);

  // Vendor and ATA commands: -1 empty path, 1 success, -2 failure.
  int SendCommand(const std::string& path, bool dataIn, const std::uint8_t* cdb, std::size_t cdbLength,
                  std::uint8_t* buffer, std::uint32_t length, StatusRule rule = StatusRule::TransportOnly);
  // Plain SCSI commands (short read time-out): -1, 1, -2.
  int SendScsiCommand(const std::string& path, bool dataIn, const std::uint8_t* cdb, std::size_t cdbLength,
                      std::uint8_t* buffer, std::uint32_t length, StatusRule rule = StatusRule::TransportOnly);

  // INQUIRY with allocation length `length` (low byte): 1 or 0.
  int InquiryDevice(const std::string& path, std::uint8_t* buffer, std::uint32_t length,
                    std::uint32_t* transferred);
  // BridgeCode from a 40-byte INQUIRY; 0 when it fails or the token is unknown.
  std::uint8_t IdentifyBridge(const std::string& path);
  static bool IsBridgeCode(std::uint8_t code) { return qk::IsBridgeCode(code); }

  // READ(10)/WRITE(10) of length / 512 sectors: 1 or 0. A CHECK CONDITION or a
  // short transfer counts as failure.
  int ReadSectors(const std::string& path, std::uint8_t* buffer, std::uint32_t lba, std::uint32_t length);
  int WriteSectors(const std::string& path, const std::uint8_t* buffer, std::uint32_t lba, std::uint32_t length);

  // Resets the drive at `path` (a hung one): 1 when the reset was issued, else 0.
  int ResetDrive(const std::string& path, PassThrough::ResetLevel level);

  // Commands to `path` end by `atMs` (the clock's time): a command's own
  // time-out is cut to what is left then (at least kLastCommandMs), and
  // from then on none is sent (they fail at once). A hung drive's command
  // can only be ended by the system's own time-out (its resets wait for the
  // command), so a port's deadline must bound it.
  void limitCommands(const std::string& path, std::int64_t atMs);
  void unlimitCommands(const std::string& path);
  static constexpr std::int64_t kLastCommandMs = 100;

  // The device node's major/minor: 1 or 0.
  int GetDeviceNumber(const std::string& path, DeviceNumber& out);

  // Identifies the drive and lets it decide the station-wide path; returns its code.
  std::uint8_t SelectTransportPath(const std::string& path);
  // FF 04 32 V: true when sent successfully.
  bool SendBridgeSetup(const std::string& path, std::uint8_t value);

  // Time-out (seconds) of each entry point on the current path.
  std::uint32_t sendCommandTimeout(bool dataIn) const;
  std::uint32_t shortReadTimeout() const;

 private:
  int execute(const std::string& path, DataDirection dir, const std::uint8_t* cdb, std::size_t cdbLength,
              std::uint8_t* buffer, std::uint32_t length, std::uint32_t* transferred, std::uint32_t timeoutSeconds,
              StatusRule rule);
  // The time-out to send with, or -1 when the path's commands are over.
  std::int64_t commandTimeoutMs(const std::string& path, std::int64_t ownMs) const;

  PassThrough& pt_;
  Clock& clock_;
  TransportState& state_;
  // Read by every command of every port, written once a port: readers must not queue.
  mutable std::shared_mutex limitsMutex_;
  std::map<std::string, std::int64_t> limits_;  // path -> the clock's time its commands end by
};

}  // namespace qk
