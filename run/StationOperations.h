#pragma once
// The station's own PortOperations: the controller protocol and the disk
// operations on one port's drive, as the run engine hands them to a worker.
#include <memory>
#include <stop_token>

#include "diskops/DiskJob.h"
#include "diskops/ProgressObserver.h"
#include "protocol/ControllerOps.h"
#include "protocol/ProductionSteps.h"
#include "run/PortOperations.h"
#include "run/PortWorker.h"

namespace qk {

class Station;

// The disk operations' view of a drive through the controller protocol: user
// data reads and writes judged strictly, and a real loader-mode exit.
class ControllerSectorDevice : public SectorDevice {
 public:
  explicit ControllerSectorDevice(ControllerOps& ops) : ops_(ops) {}
  const std::string& path() const override { return ops_.context().devicePath; }
  bool readSectors(std::uint32_t lba, std::uint32_t count, std::uint8_t* buffer) override;
  bool writeSectors(std::uint32_t lba, std::uint32_t count, const std::uint8_t* buffer) override;
  std::uint32_t capacitySectors() override { return ops_.ReadCapacitySectors(); }
  void flushCache() override;
  bool leaveLoaderMode(std::uint8_t* work) override { return ops_.LeaveLoaderMode(work); }

 private:
  ControllerOps& ops_;
};

class StationOperations : public PortOperations, private ProgressObserver {
 public:
  // `context` is the port's own controller state; `display` shows the second gauge.
  StationOperations(Station& station, int slot, ControllerContext& context, PortDisplay& display,
                    int activeDrives, std::stop_token stop);

  bool isLoaderMode() override;
  bool identifyDevice(WorkBuffer buffer) override;
  bool inquiry(WorkBuffer buffer) override;
  bool sendBridgeSetup(int value) override;
  bool flashModuleTest(WorkBuffer buffer) override;
  bool finishTables(WorkBuffer buffer) override;
  bool busInterfaceTest(WorkBuffer buffer) override;
  bool flashInterfaceTest(WorkBuffer buffer, std::int32_t& subCode, std::uint8_t& status) override;
  bool dramTest(WorkBuffer buffer) override;
  bool eraseSearch(WorkBuffer buffer) override;
  bool findSystemBlocks(WorkBuffer buffer) override;
  bool preformat(WorkBuffer buffer, bool eraseSearch, bool laterBad, bool repairUsed) override;
  bool downloadFirmware(WorkBuffer buffer, const GlobalParameter& parameters, const std::string& serial,
                        const std::string& ebPath, int familyCode) override;
  bool checkTables(WorkBuffer buffer) override;
  bool leaveLoaderMode(WorkBuffer buffer) override;
  bool countBadBlocks(WorkBuffer buffer, std::span<std::uint8_t> rows, std::array<std::uint32_t, 5>& totals) override;
  bool checkTemperature(WorkBuffer buffer, std::uint8_t limit, std::uint8_t& temperature) override;
  std::optional<UsbIdentity> readUsbIdentity(WorkBuffer buffer) override;
  std::uint64_t readCapacitySectors() override;
  bool readSmartData(WorkBuffer buffer) override;
  bool diskFormat(const std::string& label, std::string& volume) override;
  bool copyImage(const std::string& imagePath) override;
  bool readSectors(std::uint32_t lba, std::uint32_t count, WorkBuffer buffer) override;
  bool flushCache() override;
  bool checkImage(const std::string& imagePath) override;
  bool quickRwTest(WorkBuffer buffer) override;
  bool rwTestPercentage(WorkBuffer buffer, int percent) override;
  bool eraseAllData(WorkBuffer buffer) override;
  bool capacityProbe(WorkBuffer buffer, const std::string& driveId, bool keepData) override;
  bool resetDrive(PassThrough::ResetLevel level) override;

 private:
  void secondGauge(bool visible, int percent, GaugeColour colour) override;

  Station& station_;
  int slot_;
  PortDisplay& display_;
  ControllerOps ops_;
  ProductionSteps steps_;
  ControllerSectorDevice device_;
  DiskJob job_;
  const std::string drivePath_;  // copied: the reset comes from another thread
};

}  // namespace qk
