#pragma once
// The controller of a simulated drive: its boot ROM, the two RAM programs the
// station loads (GDP_ and TST_) and the firmware booted from flash, answering
// 12-byte vendor command blocks. Runs under the drive's lock.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

#include "sim/BenchConfig.h"
#include "sim/FlashArray.h"
#include "sim/FlashType.h"
#include "sim/Firmware.h"
#include "sim/SimReply.h"
#include "sim/UserData.h"

namespace qk::sim {

class Controller {
 public:
  enum class Mode { Loader, Gdp, Test, Firmware };

  Controller(const DriveSpec& spec, const FlashType& type, FlashArray& flash, UserData& data, bool nativeUsb);

  Mode mode() const { return mode_; }
  // Power-on: RAM, registers and programs gone; boots when the loader area is valid.
  void powerOn();

  // One vendor block. `sataForm`: it came wrapped from a bridge, so status
  // sectors start with 0xE5.
  SimReply vendor(const std::uint8_t* block, bool sataForm, DataDirection direction, std::uint8_t* data,
                  std::uint32_t length);
  // The data phase of a sub-operation in the current state; nullopt when the
  // state does not know it.
  std::optional<DataDirection> dataPhase(std::uint8_t subop) const;

  const FirmwareInfo* firmware() const { return mode_ == Mode::Firmware ? &firmware_ : nullptr; }

  // A wrapped command block waiting for its data phase (bridge path).
  std::optional<std::array<std::uint8_t, 12>> pending;
  std::uint8_t bridgeSetupValue = 0;

 private:
  // Flash and memory of every state.
  SimReply loaderInfo(std::uint8_t* data, std::uint32_t length);
  void enterLoader();
  void boot();
  void runProgram();
  SimReply readRegister(std::uint32_t address, bool sataForm, std::uint8_t* data, std::uint32_t length);
  SimReply flashId(std::uint8_t channel, std::uint8_t ce, std::uint8_t* data, std::uint32_t length);
  SimReply readPage(const std::uint8_t* p, std::uint8_t* data, std::uint32_t length);
  SimReply writePage(const std::uint8_t* p, const std::uint8_t* data, std::uint32_t length);
  SimReply eraseBlock(const std::uint8_t* p);
  void ramRead(std::uint32_t area, std::uint32_t address, std::uint8_t* out, std::uint32_t length) const;
  void ramWrite(std::uint32_t area, std::uint32_t address, const std::uint8_t* in, std::uint32_t length);
  // Loader and firmware.
  SimReply badBlockList(std::uint8_t* data, std::uint32_t length);
  SimReply readFirmwarePages(const std::uint8_t* p, std::uint8_t* data, std::uint32_t length);
  // GDP program.
  SimReply status(bool sataForm, std::uint8_t* data, std::uint32_t length);
  void startTask(int task, std::uint8_t flags);
  bool shapeMatches() const;
  SimReply detection(std::uint8_t* data, std::uint32_t length);
  SimReply blockList(std::uint8_t* data, std::uint32_t length);
  void clearRecord();
  void addRecordEntry(std::uint8_t kind, std::uint8_t channel, std::uint8_t bank, std::uint8_t die,
                      std::uint16_t value, std::uint8_t detectedChannels = 0, std::uint8_t detectedBanks = 0);
  // Test program.
  SimReply testResult(std::uint8_t test, std::uint8_t* data, std::uint32_t length);
  SimReply testReport(std::uint8_t* data, std::uint32_t length);
  SimReply readArea(std::uint8_t area, std::uint32_t address, std::uint8_t* data, std::uint32_t length);

  const DriveSpec& spec_;
  const FlashType& type_;
  FlashArray& flash_;
  UserData& data_;
  bool nativeUsb_;

  Mode mode_ = Mode::Loader;
  FirmwareInfo firmware_;
  std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> ram_;  // 4 KiB pages by area and address
  std::unordered_map<std::uint32_t, std::uint8_t> registers_;

  // The running program, as patched.
  std::uint16_t recordIdWord_ = 0;
  std::uint8_t recordChannels_ = 0, recordBanks_ = 0;
  bool remap_ = false;
  std::uint16_t altBlockCount_ = 0;

  std::uint8_t status_ = 0;
  int busyPolls_ = 0;
  bool busyForever_ = false;
  std::vector<std::uint8_t> record_;
  size_t recordAt_ = 1;
  std::map<std::uint8_t, int> areaWrites_;
};

}  // namespace qk::sim
