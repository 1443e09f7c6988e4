#pragma once
// The production steps that run on the controller's own code. Each takes the
// port's 64 KiB work buffer, returns pass (true) or fail, and leaves on
// failure the record that the failure report is built from.
#include <cstdint>

#include "protocol/ControllerOps.h"

namespace qk {

// Flash module report.
inline constexpr std::size_t kModuleEntriesOffset = 18;
inline constexpr std::size_t kModuleEntrySize = 16;
inline constexpr std::uint8_t kReportComparing = 0x82;
inline constexpr std::uint8_t kReportDetectChecked = 0x80;
inline constexpr std::uint8_t kEntryWrongId = 0x83;
inline constexpr std::uint8_t kEntryLayoutDiffers = 0x81;

// Result codes of the flash interface test.
inline constexpr std::uint8_t kInterfaceFirstCheck = 0x40;
inline constexpr std::uint8_t kInterfaceSecondCheck = 0x41;
inline constexpr std::uint8_t kInterfaceNoSetting = 0x42;

// GDP task flags.
namespace taskflag {
inline constexpr std::uint8_t EraseSearch = 0x01;
inline constexpr std::uint8_t TwoPlane = 0x02;
inline constexpr std::uint8_t FactoryAndNewBad = 0x04;
inline constexpr std::uint8_t Preformat = 0x08;
inline constexpr std::uint8_t RepairUsed = 0x10;
}  // namespace taskflag

// Status values the GDP tasks and the DRAM test promise.
inline constexpr std::uint8_t kEraseSearchDone = 14;
inline constexpr std::uint8_t kPreformatDone = 10;
inline constexpr std::uint8_t kFinishTablesDone = 18;
inline constexpr std::uint8_t kDramTestDone = 21;

struct PreformatOptions {
  bool eraseSearch = false;      // "Erase Search"
  bool factoryAndNewBad = false; // "Factory + New BB"
  bool repairUsed = false;       // "Repair Used Module"
};

class ProductionSteps {
 public:
  explicit ProductionSteps(ControllerOps& ops) : ops_(ops) {}

  bool FlashModuleTest(std::uint8_t* work);
  bool BusInterfaceTest(std::uint8_t* work);
  // interfaceCode: 0 on pass, else 0x40, 0x41 or 0x42 (the test report is then in work).
  bool FlashInterfaceTest(std::uint8_t* work, std::uint8_t* interfaceCode = nullptr);
  bool DramTest(std::uint8_t* work);
  bool EraseSearch(std::uint8_t* work);
  bool FindSystemBlocks(std::uint8_t* work);
  bool Preformat(std::uint8_t* work, const PreformatOptions& options);
  bool FinishTables(std::uint8_t* work);
  bool CheckTemperature(std::uint8_t* work, std::uint8_t limit, std::uint8_t& temperature);

 private:
  ControllerOps& ops_;
};

}  // namespace qk
