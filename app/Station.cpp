#include "app/Station.h"

#include <algorithm>

#include "diskops/ImageCapture.h"
#include "platform/DebugOutput.h"
#include "platform/bench/BenchDeviceTree.h"
#include "platform/bench/BenchVolumes.h"
#include "protocol/ControllerOps.h"
#include "platform/linux/LinuxPassThrough.h"
#include "platform/linux/LinuxVolumes.h"
#include "platform/linux/SysfsDeviceTree.h"
#include "platform/linux/SysfsRemoval.h"
#include "platform/linux/UdevHotplug.h"

namespace qk {

Station::Station(ProgramFolder folder, Operator& op) : folder_(std::move(folder)), op_(op) {}

Station::~Station() {
  if (hotplug_) hotplug_->stop();
  if (bench_) bench_->stopEvents();
}

Clock& Station::clock() { return bench_ ? bench_->clock() : *clock_; }

std::string Station::caption() const { return ShowCaptionString(transportState_.busWord()); }

void Station::checkFirmwareFiles() {
  firmware_ = SelectFirmware(folder_, FirmwareChoiceFor(profile_.settings, transportState_.busWord()), op_, files_);
  // The parameter block follows the firmware texts just read.
  flashInfo_ = flashInfoChange();
}

bool Station::openDevices(const std::string& benchFile, Clock* clock) {
  if (clock) clock_ = clock;
  if (!benchFile.empty()) {
    sim::BenchOptions options;
    const FlashCatalogue& catalogue = profile_.catalogue;
    options.flashKnown = [&catalogue](const std::string& name) { return catalogue.findUnique(name) >= 0; };
    options.clock = clock;
    // The drives' chips are the types of the program folder's flash list.
    ReadWholeFile(folder_.resolve(profile_.settings.ExtFlashFile), options.flashList);
    std::string error;
    bench_ = sim::Bench::load(benchFile, options, error);
    if (!bench_) {
      op_.showMessage(error, "Bench", MessageIcon::Error);
      return false;
    }
    tree_ = std::make_unique<BenchDeviceTree>(*bench_);
    hotplug_ = std::make_unique<BenchHotplug>(*bench_);
    removal_ = std::make_unique<BenchRemoval>(*bench_);
    volumes_ = std::make_unique<BenchVolumes>(bench_->passThrough());
    transport_ = std::make_unique<DeviceTransport>(bench_->passThrough(), bench_->clock(), transportState_);
  } else {
    passThrough_ = std::make_unique<LinuxPassThrough>(&accessProblems_);
    tree_ = std::make_unique<SysfsDeviceTree>();
    hotplug_ = std::make_unique<UdevHotplug>();
    removal_ = std::make_unique<SysfsRemoval>();
    volumes_ = std::make_unique<LinuxVolumes>();
    transport_ = std::make_unique<DeviceTransport>(*passThrough_, *clock_, transportState_);
  }
  probe_ = std::make_unique<TransportProbe>(*transport_);
  scanner_ = std::make_unique<Scanner>(*tree_, *probe_, op_, this->clock(), folder_.path());
  return true;
}

std::unique_ptr<SectorDevice> Station::openSectorDevice(const std::string& devicePath) {
  return MakeSectorDevice(*transport_, devicePath);
}

bool Station::captureImage(Operator* op) {
  CaptureSetup setup{op ? *op : op_, *volumes_, clock(),
                     [this](const std::string& path) { return openSectorDevice(path); },
                     folder_.defaultImagePath(),
                     [this](const std::string& name) { return folder_.resolve(name); }};
  // The first configured slot's drive; its record keeps the volume.
  PortContext* port = nullptr;
  for (int i = 0; i < std::min(scanner_->slotCount(), SlotLimit) && !port; ++i) {
    if (scanner_->ports()[static_cast<std::size_t>(i)].configured) port = &scanner_->ports()[static_cast<std::size_t>(i)];
  }
  std::string volume;
  const bool ok = GenImageBnClick(setup, port ? port->devicePath.str() : std::string(), volume);
  if (port) port->volume.assign(volume);
  return ok;
}

Station::StartResult Station::loadSettings(const std::string& profilePath) {
  files_ = DataFileState{};
  transportState_.setAtaWrapVariant(2);
  profile_ = Profile{};
  const std::string path = profilePath.empty() ? folder_.resolve(kDefaultProfileName) : profilePath;
  switch (LoadProfile(path, profile_, folder_, op_)) {
    case LoadResult::Ok:
      break;
    case LoadResult::Failed:
      return StartResult::ProfileFailed;
    case LoadResult::LogFolderFailed:
      op_.showMessage(kCannotCreateLogDirectory, "Error", MessageIcon::Error);
      return StartResult::LogFolderFailed;
  }
  ApplyLoadTimeMirrors(profile_.mirrors, gp_);
  CheckProgramImages(folder_, op_, files_);
  checkFirmwareFiles();
  return StartResult::Ok;
}

LoadResult Station::reloadProfile(const std::string& path) {
  profile_.iniFilePath = path;
  const LoadResult r = LoadProfile(path, profile_, folder_, op_);
  // The settings hold the new values even when the log folder failed.
  if (r != LoadResult::Failed) ApplyLoadTimeMirrors(profile_.mirrors, gp_);
  return r;
}

bool Station::holdRecords(const std::string& profilePath, const std::string& logPath) {
  // What this station holds already stays held (a second lock of our own would fail).
  auto take = [](std::unique_ptr<PathLock>& held, const std::string& path) {
    if (held && held->key() == PathLock::keyOf(path)) return std::move(held);
    return PathLock::fileInUse(path);
  };
  auto profile = take(profileLock_, profilePath);
  if (!profile->acquired()) {
    op_.showMessage("The profile " + profilePath + " is in use by another station.", "Error", MessageIcon::Error);
    return false;
  }
  auto log = take(logLock_, logPath);
  if (!log->acquired()) {
    if (!profileLock_) profileLock_ = std::move(profile);  // the one we had, given back
    op_.showMessage("The log folder " + logPath + " is in use by another station.", "Error", MessageIcon::Error);
    return false;
  }
  profileLock_ = std::move(profile);
  logLock_ = std::move(log);
  return true;
}

Station::StartResult Station::startUp(const std::string& profilePath, const std::string& benchFile, Clock* clock) {
  if (StartResult r = loadSettings(profilePath); r != StartResult::Ok) return r;
  // Two stations on one profile would hand out the same serials; on one log
  // folder they would lose each other's counts.
  if (!holdRecords(profile_.iniFilePath, profile_.logPath)) return StartResult::InUse;
  // Every port gets its own buffers once, before any worker runs.
  for (auto& c : controllers_) {
    if (!c) c = std::make_unique<ControllerContext>();
  }

  if (!openDevices(benchFile, clock)) return StartResult::BenchFailed;
  ScanSettings settings;
  settings.connectDevNum = profile_.settings.ConnectDevNum;
  settings.enBarCode = profile_.settings.EnBarCode != 0;
  settings.filesReady = files_.ProgramImagesPresent;
  scanner_->setSettings(settings);
  if (!scanner_->startUp()) return StartResult::TooManyPorts;

  logFile_ = ChooseLogFile(profile_.logPath, clock_->localTime());
  return StartResult::Ok;
}

FlashInfo Station::flashInfoChange() {
  return FlashInfoChange(profile_.settings, profile_.catalogue, firmwareTexts(), gp_);
}

ControllerContext& Station::controller(int slot) {
  auto& c = controllers_.at(static_cast<std::size_t>(slot));
  if (!c) c = std::make_unique<ControllerContext>();
  c->devicePath = scanner_ ? scanner_->ports()[static_cast<std::size_t>(slot)].devicePath.str() : std::string();
  c->params = gp_;
  c->programs = {files_.gdpPath.empty() ? folder_.resolve(kGdpImageName) : files_.gdpPath,
                 files_.satatestPath.empty() ? folder_.resolve(kTestImageName) : files_.satatestPath};
  c->dumpFolder = folder_.path();
  return *c;
}

Station::AutoDetectResult Station::flashAutoDetect(std::stop_token stop, const FlashChooser& choose) {
  AutoDetectResult result;
  if (scanner_) {
    for (int i = 0; i < SlotLimit; ++i) {
      if (scanner_->ports()[static_cast<std::size_t>(i)].active) {
        result.slot = i;
        break;
      }
    }
  }
  if (result.slot < 0) {
    op_.showMessage(kNoDeviceForDetecting, "", MessageIcon::Warning);
    return result;
  }
  gp_.DriveCurrent = 2;
  gp_.Bank = 0;
  ControllerContext& ctx = controller(result.slot);
  // A real drive is read by this process alone.
  const auto node = bench_ ? nullptr : PathLock::deviceNode(ctx.devicePath);
  if (node && node->busy()) {
    op_.showMessage("The drive " + ctx.devicePath + " is in use by another program.", "Error", MessageIcon::Error);
    return result;
  }
  ControllerOps ops(*transport_, ctx, stop);
  std::uint8_t withFlag = 0;
  std::uint8_t* buffer = ctx.buffers.first();
  result.readOk = ops.ReadFlashIdTable(buffer, withFlag);
  if (result.readOk) {
    result.reading = ParseDetectionRecord(buffer);
    result.matches = MatchFlashTypes(profile_.catalogue, result.reading);
  }
  ProfileSettings& s = profile_.settings;
  const std::string mainProfile = folder_.resolve(kDefaultProfileName);
  for (const FlashMatch& m : result.matches) {
    ApplyFlashMatch(s, profile_.catalogue, m, result.reading);
    flashInfoChange();
    if (!WriteDetectedFlashKeys(mainProfile, s)) debugPrintf("auto-detect: %s not written", mainProfile.c_str());
  }
  if (result.matches.empty()) {
    result.outcome = AutoDetectResult::Outcome::NotFound;
    op_.showMessage(kFlashNotFound, "", MessageIcon::Warning);
    op_.showMessage(NotFoundDetails(result.reading), "", MessageIcon::Information);
    return result;
  }
  result.outcome = AutoDetectResult::Outcome::Found;
  const FlashDetectView view = MakeFlashDetectView(profile_.catalogue, s, result.matches);
  result.chosen = choose ? choose(view, result.matches) : ChooseFlashMatch(op_, view);
  if (result.chosen && *result.chosen >= result.matches.size()) result.chosen.reset();
  if (result.chosen) {
    s.FlashUniName = profile_.catalogue.types[static_cast<std::size_t>(result.matches[*result.chosen].type)].uniqueName;
    flashInfoChange();
  }
  checkFirmwareFiles();
  return result;
}

}  // namespace qk
