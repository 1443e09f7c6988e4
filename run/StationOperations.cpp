#include "run/StationOperations.h"

#include <cstring>

#include "app/Station.h"
#include "diskops/CapacityProbe.h"
#include "diskops/DiskFormatStep.h"
#include "diskops/ImageCopy.h"
#include "diskops/RwFailureRecord.h"
#include "diskops/RwTests.h"
#include "platform/DebugOutput.h"
#include "protocol/DeviceDetail.h"
#include "protocol/FirmwareDownload.h"
#include "protocol/FlashTables.h"

namespace qk {

bool ControllerSectorDevice::readSectors(std::uint32_t lba, std::uint32_t count, std::uint8_t* buffer) {
  return ops_.standard().ReadUserSectors(path(), buffer, count, lba) == 1;
}

bool ControllerSectorDevice::writeSectors(std::uint32_t lba, std::uint32_t count, const std::uint8_t* buffer) {
  // The command only reads the buffer; its failure words go to a copy.
  return ops_.standard().WriteUserSectors(path(), const_cast<std::uint8_t*>(buffer), count, lba) == 1;
}

void ControllerSectorDevice::flushCache() { ops_.standard().FlushCache(path()); }

StationOperations::StationOperations(Station& station, int slot, ControllerContext& context, PortDisplay& display,
                                     int activeDrives, std::stop_token stop)
    : station_(station),
      slot_(slot),
      display_(display),
      ops_(station.transport(), context, stop),
      steps_(ops_),
      device_(ops_),
      job_{device_, station.volumes(), station.clock(), &station.op(), stop, activeDrives},
      drivePath_(context.devicePath) {}

bool StationOperations::isLoaderMode() { return ops_.IsLoaderMode(); }

bool StationOperations::identifyDevice(WorkBuffer b) {
  return ops_.standard().IdentifyDevice(ops_.context().devicePath, b.data()) == 1;
}

bool StationOperations::inquiry(WorkBuffer b) {
  return station_.transport().InquiryDevice(ops_.context().devicePath, b.data(), 36, nullptr) == 1;
}

bool StationOperations::sendBridgeSetup(int value) {
  return station_.transport().SendBridgeSetup(ops_.context().devicePath, static_cast<std::uint8_t>(value));
}

bool StationOperations::flashModuleTest(WorkBuffer b) { return steps_.FlashModuleTest(b.data()); }
bool StationOperations::finishTables(WorkBuffer b) { return steps_.FinishTables(b.data()); }
bool StationOperations::busInterfaceTest(WorkBuffer b) { return steps_.BusInterfaceTest(b.data()); }

bool StationOperations::flashInterfaceTest(WorkBuffer b, std::int32_t& subCode, std::uint8_t& status) {
  std::uint8_t code = 0;
  const bool ok = steps_.FlashInterfaceTest(b.data(), &code);
  subCode = code;
  status = code;
  return ok;
}

bool StationOperations::dramTest(WorkBuffer b) { return steps_.DramTest(b.data()); }
bool StationOperations::eraseSearch(WorkBuffer b) { return steps_.EraseSearch(b.data()); }
bool StationOperations::findSystemBlocks(WorkBuffer b) { return steps_.FindSystemBlocks(b.data()); }

bool StationOperations::preformat(WorkBuffer b, bool eraseSearch, bool laterBad, bool repairUsed) {
  return steps_.Preformat(b.data(), PreformatOptions{eraseSearch, laterBad, repairUsed});
}

bool StationOperations::downloadFirmware(WorkBuffer b, const GlobalParameter& parameters, const std::string& serial,
                                         const std::string& ebPath, int familyCode) {
  ops_.context().params = parameters;
  // The download verifies (and dumps) by itself when asked to.
  return DownloadFirmware(ops_, b.data(), serial, ebPath, familyCode);
}

bool StationOperations::checkTables(WorkBuffer b) { return CheckTables(ops_, b.data()); }

bool StationOperations::leaveLoaderMode(WorkBuffer b) { return ops_.LeaveLoaderMode(b.data()); }

bool StationOperations::countBadBlocks(WorkBuffer b, std::span<std::uint8_t> rows,
                                       std::array<std::uint32_t, 5>& totals) {
  return CountBadBlocks(ops_, b.data(), rows, totals);
}

bool StationOperations::checkTemperature(WorkBuffer b, std::uint8_t limit, std::uint8_t& temperature) {
  return steps_.CheckTemperature(b.data(), limit, temperature);
}

std::optional<UsbIdentity> StationOperations::readUsbIdentity(WorkBuffer b) {
  auto record = ReadUsbIdentityRecord(ops_, b.data());
  if (!record) return std::nullopt;
  return UsbIdentity{record->vendor, record->product, record->manufacturer, record->productString, record->serial};
}

std::uint64_t StationOperations::readCapacitySectors() { return ops_.ReadCapacitySectors(); }

bool StationOperations::readSmartData(WorkBuffer b) {
  return ops_.standard().SmartReadData(ops_.context().devicePath, b.data()) == 1;
}

bool StationOperations::diskFormat(const std::string& label, std::string& volume) {
  return RunDiskFormat(job_, label, &volume);
}

bool StationOperations::copyImage(const std::string& imagePath) {
  return FlushGhostImg(job_, station_.folder().resolve(imagePath));
}

bool StationOperations::readSectors(std::uint32_t lba, std::uint32_t count, WorkBuffer b) {
  return device_.readSectors(lba, count, b.data());
}

bool StationOperations::flushCache() {
  device_.flushCache();
  return true;
}

bool StationOperations::checkImage(const std::string&) { return CheckImgPattern(job_); }

bool StationOperations::quickRwTest(WorkBuffer b) { return QuickRwTest(job_, b.data()); }

bool StationOperations::rwTestPercentage(WorkBuffer b, int percent) {
  return RWTestPercentageWithProgress(job_, b.data(), static_cast<std::uint16_t>(percent), this);
}

bool StationOperations::resetDrive(PassThrough::ResetLevel level) {
  return station_.transport().ResetDrive(drivePath_, level) == 1;
}

bool StationOperations::eraseAllData(WorkBuffer b) {
  RwFailureRecord failure;
  const bool ok = EraseAllData(job_, &failure);
  if (!ok) failure.store(b.data());
  return ok;
}

bool StationOperations::capacityProbe(WorkBuffer b, const std::string& driveId, bool keepData) {
  CapacityProbeOptions options;
  options.driveId = driveId;
  options.nonce = NewProbeNonce();
  options.keepData = keepData;
  return CapacityProbe(job_, options, b.data()).passed;
}

void StationOperations::secondGauge(bool visible, int percent, GaugeColour colour) {
  display_.secondGauge(slot_, visible, percent, colour.red, colour.green, colour.blue);
}

}  // namespace qk
