#pragma once
// The composed controller operations of one port: restarts, RAM program
// loads, task polling, loader-mode detection and exit, multi-channel page
// reads and writes. Every fixed wait goes through the clock with the port's
// stop token; a stop ends the operation with false.
#include <cstdint>
#include <stop_token>
#include <string>

#include "protocol/ControllerContext.h"
#include "protocol/StandardCommands.h"
#include "protocol/VendorCommands.h"
#include "transport/DeviceTransport.h"

namespace qk {

enum class RamProgram { Gdp, Test };

class ControllerOps {
 public:
  // Fixed waits in milliseconds.
  static constexpr int kRestartWaitMs = 2000;
  static constexpr int kRunRamCodeWaitMs = 500;
  static constexpr int kFirstPollWaitMs = 30;
  static constexpr int kTaskPollMs = 3000;
  static constexpr int kTestPollMs = 300;
  static constexpr int kLeaveLoaderSataWaitMs = 10000;
  static constexpr int kProbeIntervalMs = 1000;
  static constexpr int kProbeRetries = 11;
  static constexpr std::uint32_t kRamProgramAddress = 0x40000000;
  static constexpr std::uint8_t kRamProgramArea = 3;

  ControllerOps(DeviceTransport& transport, ControllerContext& context, std::stop_token stop = {});

  VendorCommands& vendor() { return vendor_; }
  StandardCommands& standard() { return standard_; }
  ControllerContext& context() { return ctx_; }
  DeviceTransport& transport() { return t_; }
  const GlobalParameter& params() const { return ctx_.params; }
  TransportPath path() const { return t_.state().transportPath(); }
  std::uint32_t pageBytes() const { return ctx_.params.geometry.PageSectors * 512U; }
  // The page-command mode byte: 1 when the flash uses BCH 24.
  std::uint8_t pageMode() const { return ctx_.params.EccMode == 2 ? 1 : 0; }
  std::int64_t nowMs() const { return t_.clock().nowMs(); }
  // Waits ms on the clock; false when the port was stopped.
  bool wait(int ms);

  bool RestartController(std::uint8_t bootSource, std::uint8_t resetMode);
  // Loads GDP.bin or satatest.bin into controller RAM through `image` (at least
  // 64512 bytes, which then holds the image as read back). withFlag: 2 for
  // GDP.bin with a two-plane flash, else 0.
  bool LoadRamProgram(RamProgram program, std::uint32_t areaOffset, std::uint8_t* image, std::uint8_t& withFlag);
  bool RunProgramTask(std::uint8_t task, std::uint8_t flags, std::uint8_t& status, bool waitForIt);
  bool WaitTestStatus(std::uint8_t& status, bool waitForIt);
  bool IsLoaderMode();
  // Boots the firmware when the drive sits in loader mode. buffer: 64 KiB.
  bool LeaveLoaderMode(std::uint8_t* buffer);
  // Selector 8: one page per channel at channel x page size; below 8 only that channel.
  bool ReadPageAllChannels(std::uint8_t selector, std::uint16_t block, std::uint16_t page, std::uint8_t mode,
                           std::uint8_t* buffer);
  // buffer: 64 KiB; returns the pages of both channel halves, the 0x0F half first.
  bool ReadFirmwarePages(std::uint16_t block, std::uint16_t parityBlock, std::uint16_t page, std::uint8_t mode,
                         std::uint8_t* buffer, std::uint32_t sectors);
  bool WritePageBlockList(std::uint16_t page, std::uint8_t mode, const std::uint8_t* buffer, std::uint32_t sectors);
  // GDP.bin, then its detection record (one sector) into buffer.
  bool ReadFlashIdTable(std::uint8_t* buffer, std::uint8_t& withFlag);
  // Serial (20) and model (40) from IDENTIFY, byte-swapped back; bridge path only.
  bool ReadIdentityStrings(std::string& serial, std::string& model);
  std::uint32_t ReadCapacitySectors() { return standard_.ReadCapacitySectors(ctx_.devicePath); }

 private:
  bool probeBridge();
  const std::string& programPath(RamProgram program) const;

  DeviceTransport& t_;
  ControllerContext& ctx_;
  std::stop_token stop_;
  VendorCommands vendor_;
  StandardCommands standard_;
};

// ATA strings come with the two bytes of every word swapped.
std::string UnswapAtaText(const std::uint8_t* data, std::size_t length);

}  // namespace qk
