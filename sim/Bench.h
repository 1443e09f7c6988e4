#pragma once
// The simulated bench: hubs, the drives and other USB devices on their ports,
// timed plug/unplug events, the bench's clock and the command trace.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/PassThrough.h"
#include "platform/bench/BenchPassThrough.h"
#include "sim/BenchConfig.h"
#include "sim/SimDrive.h"

namespace qk::sim {

class Trace;

enum class AttachmentKind { Drive, Device };

// What sits on a hub port, as the device tree sees it.
struct Attachment {
  std::string name;
  AttachmentKind kind = AttachmentKind::Drive;
  int hub = 0, port = 0;
  std::uint16_t vendorId = 0, productId = 0;
  std::string usbSerial;
  bool present = false;
  std::string devicePath;  // drives only
};

struct BenchEvent {
  bool plug = false;
  std::string name;
  AttachmentKind kind = AttachmentKind::Drive;
  std::int64_t atMs = 0;   // bench clock time when it happened
};

struct BenchOptions {
  // Checks Flash= names against the flash list; unset: not checked.
  std::function<bool(const std::string&)> flashKnown;
  // The flash list (INI text) the drives take their chips from; empty: the sample list.
  std::string flashList;
  // A clock to use instead of the bench's own (tests pass a VirtualClock);
  // it then also times the drives' unanswered commands.
  Clock* clock = nullptr;
};

class Bench {
 public:
  // nullptr and a message naming the file, section and key at fault.
  static std::unique_ptr<Bench> load(const std::string& path, const BenchOptions& options, std::string& error);
  static std::unique_ptr<Bench> fromConfig(BenchConfig config, const BenchOptions& options, std::string& error);
  ~Bench();
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  // The clock the whole station uses on this bench (TimeScale applied).
  Clock& clock() { return *clock_; }
  const BenchConfig& config() const { return config_; }
  const std::vector<HubSpec>& hubs() const { return config_.hubs; }
  // Every drive and device with its present state, drives first, by number.
  std::vector<Attachment> attachments() const;

  // A new drive on the line, made from `desc` (its name unused so far, its
  // port in At=), unplugged, with fresh user data in memory. Null (reason in
  // `error`) when the name is taken or the description cannot be simulated.
  SimDrive* addDrive(DriveSpec desc, std::string& error);

  // A drive's device path: "/dev/bench/<name>".
  static std::string devicePathFor(const std::string& driveName);
  SimDrive* drive(const std::string& name);
  SimDrive* driveByPath(const std::string& path);

  // Plug state; listeners hear of every change. False for an unknown name.
  bool plug(const std::string& name);
  bool unplug(const std::string& name);
  bool isPresent(const std::string& name) const;

  // Listeners run on the thread that made the change (the event thread, a
  // worker whose drive was pulled, or the caller of plug/unplug).
  int addListener(std::function<void(const BenchEvent&)> listener);
  void removeListener(int id);

  // Plays the [Events] on the bench clock from its start; ends early on stop.
  void runEvents(std::stop_token stop);
  // The same on a thread of the bench's own, stopped by the destructor.
  void startEvents();
  void stopEvents();

  // The pass-through backend bound to this bench.
  PassThrough& passThrough() { return passThrough_; }
  PassThroughResult execute(const std::string& path, const PassThroughRequest& request);
  bool deviceNumber(const std::string& path, DeviceNumber& out) const;
  // A reset of a drive (device or USB port): a command waiting out its
  // time-out on the drive returns at once. False for an unknown path.
  bool reset(const std::string& path);

 private:
  Bench();
  bool setPresent(const std::string& name, bool present);
  std::unique_ptr<SimDrive> makeDrive(const DriveSpec& cfg, std::string& error) const;
  // The bench clock's share of a user-data transfer at the drive's speed.
  void takeTransferTime(SimDrive& drive, const PassThroughRequest& request, std::uint32_t transferred);
  // Another present drive sits on the hub port of drive `name` (the lock is held).
  bool portTaken(const std::string& name) const;
  void notify(BenchEvent event);

  BenchConfig config_;
  std::unique_ptr<Clock> ownClock_;
  Clock* clock_ = nullptr;
  Clock* timeoutClock_ = nullptr;  // real time-outs even when fixed waits are scaled
  RealClock realClock_;
  std::int64_t startMs_ = 0;
  std::string flashList_;  // empty: the sample list
  // The drives by lower-cased name, and in the order they came: drives are
  // added while the bench runs (the feeder), never removed.
  mutable std::shared_mutex drivesMutex_;
  std::map<std::string, std::unique_ptr<SimDrive>, std::less<>> drives_;
  std::vector<SimDrive*> driveOrder_;
  std::map<std::string, bool> devicePresent_;                // lower-cased name of [DeviceN]
  mutable std::mutex mutex_;
  std::map<int, std::function<void(const BenchEvent&)>> listeners_;
  int nextListener_ = 1;
  std::unique_ptr<Trace> trace_;
  std::mutex resetMutex_;
  std::map<SimDrive*, std::stop_source> resets_;  // ends the waits of unanswered commands
  std::map<SimDrive*, double> owedMs_;            // transfer time not yet waited (under resetMutex_)
  BenchPassThrough passThrough_;
  std::jthread eventThread_;
};

}  // namespace qk::sim
