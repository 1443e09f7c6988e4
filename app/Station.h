#pragma once
// The station as the front ends see it: the profile, the data files, the
// devices (real or bench), the scan and the start-up sequence. The GUI and the
// CLI hold one Station and talk to nothing else.
#include <memory>
#include <string>

#include "app/LogFileChoice.h"
#include "config/DataFiles.h"
#include "config/GlobalParameter.h"
#include "config/Profile.h"
#include "diskops/SectorDevice.h"
#include "discovery/Scanner.h"
#include "discovery/TransportProbe.h"
#include "platform/Clock.h"
#include "platform/DeviceTree.h"
#include "platform/Hotplug.h"
#include "platform/Operator.h"
#include "platform/PassThrough.h"
#include "platform/ProgramFolder.h"
#include "platform/Removal.h"
#include "platform/Volumes.h"
#include "sim/Bench.h"
#include "transport/DeviceTransport.h"
#include "transport/TransportState.h"

namespace qk {

class Station {
 public:
  Station(ProgramFolder folder, Operator& op);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  enum class StartResult {
    Ok,
    BenchFailed,      // the bench file cannot be used (message shown)
    ProfileFailed,    // the profile load failed (message shown)
    LogFolderFailed,  // "Cannot create log directory." (shown)
    TooManyPorts,     // more hub ports than slots (limit message shown)
  };

  // The start-up sequence: data files, profile, devices (the bench when
  // benchFile is set, else the real ones), first scan with the slot limit, the
  // day's log file. profilePath empty: QKMassProd.ini in the program folder.
  StartResult startUp(const std::string& profilePath, const std::string& benchFile, Clock* clock = nullptr);

  // The firmware choice as the pages stand now: the parameter block, then the
  // data-file check and the firmware selection.
  void checkFirmwareFiles();
  // The flash details box of the last parameter block.
  const std::vector<std::string>& flashDetails() const { return flashDetails_; }

  const ProgramFolder& folder() const { return folder_; }
  Operator& op() { return op_; }
  Profile& profile() { return profile_; }
  DataFileState& files() { return files_; }
  const FirmwareSelection& firmware() const { return firmware_; }
  GlobalParameter& globalParameter() { return gp_; }
  TransportState& transportState() { return transportState_; }
  DeviceTransport& transport() { return *transport_; }
  Scanner& scanner() { return *scanner_; }
  HotplugSource& hotplug() { return *hotplug_; }
  Removal& removal() { return *removal_; }
  Volumes& volumes() { return *volumes_; }
  // The disk operations' view of the drive at a device path.
  std::unique_ptr<SectorDevice> openSectorDevice(const std::string& devicePath);
  // The "GenImage" capture of the first configured drive; true when an image
  // was written. `op` (optional) stands in for the station's operator.
  bool captureImage(Operator* op = nullptr);
  Clock& clock();
  sim::Bench* bench() { return bench_.get(); }
  LogFileChoice& logFile() { return logFile_; }

  // The window caption with the current bus word.
  std::string caption() const;

 private:
  bool openDevices(const std::string& benchFile, Clock* clock);

  ProgramFolder folder_;
  Operator& op_;
  Profile profile_;
  DataFileState files_;
  FirmwareSelection firmware_;
  GlobalParameter gp_;
  LogFileChoice logFile_;
  std::vector<std::string> flashDetails_;

  RealClock realClock_;
  Clock* clock_ = &realClock_;
  std::unique_ptr<sim::Bench> bench_;
  std::unique_ptr<PassThrough> passThrough_;
  TransportState transportState_;
  std::unique_ptr<DeviceTransport> transport_;
  std::unique_ptr<TransportProbe> probe_;
  std::unique_ptr<DeviceTree> tree_;
  std::unique_ptr<HotplugSource> hotplug_;
  std::unique_ptr<Removal> removal_;
  std::unique_ptr<Volumes> volumes_;
  std::unique_ptr<Scanner> scanner_;
};

}  // namespace qk
