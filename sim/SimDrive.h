#pragma once
// A simulated drive. It sees only command blocks and data, as a real drive
// does, and answers them through one dispatcher per command family: standard
// SCSI, standard ATA behind a bridge, and the controller's vendor commands
// raw or wrapped.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/PassThrough.h"
#include "sim/BenchConfig.h"
#include "sim/Controller.h"
#include "sim/FlashArray.h"
#include "sim/FlashType.h"
#include "sim/SimReply.h"
#include "sim/UserData.h"

namespace qk::sim {

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
  // Seeds the flash from the persisted state (Persist=) when there is one,
  // else from State=, and powers on. A persisted file that cannot be read is
  // reported by loadError().
  SimDrive(DriveSpec cfg, std::unique_ptr<UserData> data, FlashType type);
  // With the flash type of the sample flash list.
  SimDrive(DriveSpec cfg, std::unique_ptr<UserData> data);
  ~SimDrive();
  SimDrive(const SimDrive&) = delete;
  SimDrive& operator=(const SimDrive&) = delete;

  const DriveSpec& cfg() const { return spec_; }
  const std::string& name() const { return spec_.name; }
  const std::string& loadError() const { return loadError_; }
  // Answers native USB (the controller itself) or through a USB-to-SATA bridge.
  bool nativeUsb() const { return nativeUsb_; }
  const FlashType& flashType() const { return type_; }

  bool present() const { return present_.load(); }
  void setPresent(bool on) { present_.store(on); }
  // Power goes off (unplug, bench end): the persisted state is written.
  void powerOff();
  // Power comes back (plug): a hang ends, the controller boots from flash.
  void powerOn();

  // Runs one command under the drive's lock. Faults of the drive apply here.
  SimReply execute(const SimCommand& command);
  // Later families are asked first, so they can take over a command.
  void addFamily(std::unique_ptr<SimCommandFamily> family);

  // State the families share; touched only under the drive's lock.
  UserData& userData() { return *data_; }
  const UserData& userData() const { return *data_; }
  Controller& controller() { return *controller_; }
  const Controller& controller() const { return *controller_; }
  FlashArray& flash() { return *flash_; }
  bool bridgeMode = false;       // SET FEATURES DC 4A / 4D
  std::uint32_t flushCount = 0;

  // What the drive's USB descriptors say: the bench values, or once the
  // firmware runs natively on USB, the IDs and serial string it was given
  // (each only when the download set it).
  struct UsbIdentity {
    std::uint16_t vendorId = 0, productId = 0;
    std::string serial;
  };
  UsbIdentity usbIdentity() const;

  // Writes the persisted state now; false when it cannot.
  bool saveState(std::string& error);

 private:
  bool loadState(std::string& error);
  bool hangStarts(const SimCommand& command) const;

  DriveSpec spec_;
  FlashType type_;
  bool nativeUsb_;
  std::unique_ptr<UserData> data_;
  std::unique_ptr<FlashArray> flash_;
  std::unique_ptr<Controller> controller_;
  std::vector<std::unique_ptr<SimCommandFamily>> families_;
  std::atomic<bool> present_{true};
  mutable std::mutex mutex_;
  std::uint32_t commandCount_ = 0;
  std::uint32_t vendorCount_ = 0;  // vendor and ATA commands since power-on
  bool hung_ = false;
  std::string loadError_;
};

}  // namespace qk::sim
