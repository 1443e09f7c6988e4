#pragma once
// The station as the front ends see it: the profile, the data files, the
// devices (real or bench), the scan and the start-up sequence. The GUI and the
// CLI hold one Station and talk to nothing else.
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>
#include <string>

#include "app/LogFileChoice.h"
#include "config/DataFiles.h"
#include "config/FlashAutoDetect.h"
#include "config/FlashInfo.h"
#include "diskops/SectorDevice.h"
#include "config/GlobalParameter.h"
#include "config/Profile.h"
#include "discovery/Scanner.h"
#include "discovery/TransportProbe.h"
#include "platform/AccessProblems.h"
#include "platform/Clock.h"
#include "platform/DeviceTree.h"
#include "platform/Hotplug.h"
#include "platform/Locks.h"
#include "platform/Operator.h"
#include "platform/PassThrough.h"
#include "platform/ProgramFolder.h"
#include "platform/Removal.h"
#include "platform/Volumes.h"
#include "protocol/ControllerContext.h"
#include "records/RecordStore.h"
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
    InUse,            // another station holds the profile or the log folder (message shown)
  };

  // The start-up sequence: data files, profile, devices (the bench when
  // benchFile is set, else the real ones), first scan with the slot limit, the
  // day's log file. profilePath empty: QKMassProd.ini in the program folder.
  StartResult startUp(const std::string& profilePath, const std::string& benchFile, Clock* clock = nullptr);
  // The part of the start-up that needs no devices: data files and profile.
  StartResult loadSettings(const std::string& profilePath);
  // "Load INI": another profile into the settings, its load-time values into
  // the parameter block as at start-up. Messages are the caller's to show.
  LoadResult reloadProfile(const std::string& path);
  // Takes the profile file and the log folder for this station alone, for as
  // long as it runs. False (message shown) when another station has either.
  bool holdRecords(const std::string& profilePath, const std::string& logPath);

  // The firmware texts the parameter block depends on, from the last file check.
  FirmwareTexts firmwareTexts() const { return {files_.familyText, files_.sataVersion}; }
  // Rebuilds the parameter block from the profile and the selected flash type.
  FlashInfo flashInfoChange();

  // A port's controller context, made ready for commands to the drive bound
  // to that slot: its device path, a copy of the parameter block, the RAM
  // program files. Its loader state and buffers stay the port's own.
  ControllerContext& controller(int slot);

  struct AutoDetectResult {
    enum class Outcome { NoDevice, NotFound, Found } outcome = Outcome::NoDevice;
    int slot = -1;
    bool readOk = false;
    FlashIdReading reading;
    std::vector<FlashMatch> matches;
    std::optional<std::size_t> chosen;  // the operator's pick among the matches
  };
  // The operator's pick among the matches; the default asks through op().
  using FlashChooser =
      std::function<std::optional<std::size_t>(const FlashDetectView&, const std::vector<FlashMatch>&)>;
  // Reads the flash IDs of the first connected drive and takes the matching
  // flash types into the profile (and into QKMassProd.ini of the program folder).
  AutoDetectResult flashAutoDetect(std::stop_token stop = {}, const FlashChooser& choose = {});

  // The firmware choice as the pages stand now: data-file check, firmware
  // selection, then the parameter block from the texts just read.
  void checkFirmwareFiles();

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
  // Permission failures of the real devices, one report per drive.
  AccessProblems& accessProblems() { return accessProblems_; }
  Clock& clock();
  sim::Bench* bench() { return bench_.get(); }
  LogFileChoice& logFile() { return logFile_; }
  // The flash information of the last parameter block (details box, capacity).
  const FlashInfo& flashInfo() const { return flashInfo_; }
  Volumes& volumes() { return *volumes_; }
  // The disk operations' view of the drive at a device path.
  std::unique_ptr<SectorDevice> openSectorDevice(const std::string& devicePath);
  // The "GenImage" capture of the first configured drive; true when an image
  // was written. `op` (optional) stands in for the station's operator.
  bool captureImage(Operator* op = nullptr);

  // The drive records: the database named by setRecordsUrl, else the
  // profile's, else records.db in the log folder. Null (reason in `error`)
  // when it cannot be opened or written.
  RecordStore* openRecords(std::string* error);
  void setRecordsUrl(std::string url) { recordsUrl_ = std::move(url); }
  // A store of the caller's in place of the one the settings name, until they change.
  void setRecordStore(std::unique_ptr<RecordStore> store);

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

  RealClock realClock_;
  Clock* clock_ = &realClock_;
  std::unique_ptr<sim::Bench> bench_;
  AccessProblems accessProblems_;
  std::unique_ptr<PassThrough> passThrough_;
  TransportState transportState_;
  std::unique_ptr<DeviceTransport> transport_;
  std::unique_ptr<TransportProbe> probe_;
  std::unique_ptr<DeviceTree> tree_;
  std::unique_ptr<HotplugSource> hotplug_;
  std::unique_ptr<Removal> removal_;
  std::unique_ptr<Scanner> scanner_;
  std::unique_ptr<Volumes> volumes_;
  std::array<std::unique_ptr<ControllerContext>, SlotLimit> controllers_;
  FlashInfo flashInfo_;
  std::unique_ptr<PathLock> profileLock_, logLock_;
  std::string recordsUrl_, recordsKey_;
  std::unique_ptr<RecordStore> records_;
};

}  // namespace qk
