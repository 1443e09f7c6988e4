#pragma once
// A simulated drive. It sees only command blocks and data, as a real drive
// does, and answers them through one dispatcher per command family; the
// controller's vendor commands join later as further families.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/PassThrough.h"
#include "sim/BenchConfig.h"
#include "sim/UserData.h"

namespace qk::sim {

struct SimCommand {
  const std::uint8_t* cdb = nullptr;
  std::size_t cdbLength = 0;
  DataDirection direction = DataDirection::None;
  std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
};

struct SimReply {
  enum class Outcome {
    Completed,  // the device answered with `status`
    Dropped,    // the link lost the command: a transport error at once
    NoAnswer,   // nothing comes back; the host gives up at its time-out
    Pulled,     // the cable was pulled during the command
  };
  Outcome outcome = Outcome::Completed;
  std::uint8_t status = kScsiStatusGood;
  std::uint32_t transferred = 0;
  std::uint8_t senseKey = 0, asc = 0, ascq = 0;

  static SimReply good(std::uint32_t transferred) { return {Outcome::Completed, kScsiStatusGood, transferred}; }
  static SimReply checkCondition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq,
                                 std::uint32_t transferred = 0) {
    return {Outcome::Completed, kScsiStatusCheckCondition, transferred, key, asc, ascq};
  }
  static SimReply invalidOpcode() { return checkCondition(0x05, 0x20, 0x00); }
  static SimReply invalidField() { return checkCondition(0x05, 0x24, 0x00); }
};

class SimDrive;

class SimCommandFamily {
 public:
  virtual ~SimCommandFamily() = default;
  virtual bool accepts(const SimDrive& drive, const SimCommand& command) const = 0;
  // Runs under the drive's lock.
  virtual SimReply execute(SimDrive& drive, const SimCommand& command) = 0;
};

class SimDrive {
 public:
  SimDrive(DriveSpec spec, std::unique_ptr<UserData> data);
  SimDrive(const SimDrive&) = delete;
  SimDrive& operator=(const SimDrive&) = delete;

  const DriveSpec& spec() const { return spec_; }
  const std::string& name() const { return spec_.name; }
  // Answers native USB (the controller itself) or through a USB-to-SATA bridge.
  bool nativeUsb() const { return nativeUsb_; }

  bool present() const { return present_.load(); }
  void setPresent(bool on) { present_.store(on); }

  // Runs one command under the drive's lock. Faults of the drive apply here.
  SimReply execute(const SimCommand& command);
  // Later families are asked first, so they can take over a command.
  void addFamily(std::unique_ptr<SimCommandFamily> family);

  // State the families share; touched only under the drive's lock.
  UserData& userData() { return *data_; }
  bool bridgeMode = false;       // SET FEATURES DC 4A / 4D
  std::uint32_t flushCount = 0;

 private:
  DriveSpec spec_;
  bool nativeUsb_;
  std::unique_ptr<UserData> data_;
  std::vector<std::unique_ptr<SimCommandFamily>> families_;
  std::atomic<bool> present_{true};
  std::mutex mutex_;
  std::uint32_t commandCount_ = 0;
};

}  // namespace qk::sim
