#include "protocol/ControllerOps.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/DebugOutput.h"
#include "protocol/ProgramPatch.h"
#include "protocol/RawDump.h"
#include "protocol/WorkBuffers.h"

namespace qk {

namespace {
constexpr char kLoaderHeaderTag[16] = "LDBK BLOCKS V30";  // with its terminating zero
constexpr std::size_t kFirmwareCountOffset = 0x230;
constexpr char kUsbLoaderName[] = "Generic FCR USB Loader ";
constexpr const char* kSataLoaderNames[] = {"Generic FCR SATA Loader Loader Device",
                                            "Talvery QKR21X SATA SSD Loader Device"};
}  // namespace

std::string UnswapAtaText(const std::uint8_t* data, std::size_t length) {
  std::string s(length, ' ');
  for (std::size_t i = 0; i + 1 < length; i += 2) {
    s[i] = static_cast<char>(data[i + 1]);
    s[i + 1] = static_cast<char>(data[i]);
  }
  return s;
}

ControllerOps::ControllerOps(DeviceTransport& transport, ControllerContext& context, std::stop_token stop)
    : t_(transport), ctx_(context), stop_(std::move(stop)), vendor_(transport, context.devicePath),
      standard_(transport) {}

bool ControllerOps::wait(int ms) { return t_.clock().sleepFor(ms, stop_) && !stop_.stop_requested(); }

const std::string& ControllerOps::programPath(RamProgram program) const {
  return program == RamProgram::Gdp ? ctx_.programs.gdp : ctx_.programs.satatest;
}

bool ControllerOps::RestartController(std::uint8_t bootSource, std::uint8_t resetMode) {
  if (vendor_.ResetController(resetMode) != 1) return false;
  if (vendor_.SelectBootSource(bootSource) != 1) return false;
  if (!wait(kRestartWaitMs)) return false;
  standard_.SetBridgeMode(ctx_.devicePath, true);
  return true;
}

bool ControllerOps::LoadRamProgram(RamProgram program, std::uint32_t areaOffset, std::uint8_t* image,
                                   std::uint8_t& withFlag) {
  withFlag = 0;
  if (!RestartController(0, 0)) return false;
  std::span<std::uint8_t> buf(image, kProgramImageSize);
  std::fill(buf.begin(), buf.end(), 0x66);
  std::ifstream in(programPath(program), std::ios::binary);
  if (!in) {
    debugPrintf("RAM program %s cannot be opened", programPath(program).c_str());
    return false;
  }
  in.read(reinterpret_cast<char*>(image), static_cast<std::streamsize>(kProgramImageSize));
  PatchProgramImage(buf, ctx_.params, ctx_.loader);

  const std::uint32_t address = kRamProgramAddress | areaOffset;
  constexpr std::uint32_t sectors = kProgramImageSize / 512;
  if (vendor_.WriteRam(kRamProgramArea, address, image, sectors) != 1) return false;
  const bool dump = ctx_.params.DumpDebugFile != 0;
  WriteDump(dump, ctx_.dumpFolder, "11_RCO.raw", image, kProgramImageSize);
  // The read-back is kept for diagnosis only; it is not compared.
  vendor_.ReadRam(kRamProgramArea, address, image, sectors);
  WriteDump(dump, ctx_.dumpFolder, "12_RCI.raw", image, kProgramImageSize);

  if (vendor_.RunRamCode() != 1) return false;
  if (!wait(kRunRamCodeWaitMs)) return false;
  standard_.SetBridgeMode(ctx_.devicePath, true);
  if (program == RamProgram::Gdp && ctx_.params.TwoPlane != 0) withFlag = 2;
  return true;
}

bool ControllerOps::RunProgramTask(std::uint8_t task, std::uint8_t flags, std::uint8_t& status, bool waitForIt) {
  if (vendor_.StartTask(task, flags) != 1) return false;
  if (!wait(kFirstPollWaitMs)) return false;
  for (;;) {
    std::uint8_t s = 0;
    int r = vendor_.GetTaskStatus(s);
    if (r == 1 && s != kTaskBusy) {
      status = s;
      return true;
    }
    if (r == 3) return false;
    if (!wait(kTaskPollMs)) return false;
    if (!waitForIt) return false;
  }
}

bool ControllerOps::WaitTestStatus(std::uint8_t& status, bool waitForIt) {
  for (;;) {
    std::uint8_t s = 0;
    int r = vendor_.GetTestStatus(s);
    if (r == 1 && s != kTaskBusy) {
      status = s;
      return true;
    }
    if (r == 3) return false;
    if (!wait(kTestPollMs)) return false;
    standard_.SetBridgeMode(ctx_.devicePath, false);
    standard_.SetBridgeMode(ctx_.devicePath, true);
    if (!waitForIt) return false;
  }
}

bool ControllerOps::IsLoaderMode() {
  if (path() == TransportPath::UsbPath) {
    std::array<std::uint8_t, 36> inq{};
    std::uint32_t moved = 0;
    if (t_.InquiryDevice(ctx_.devicePath, inq.data(), inq.size(), &moved) != 1) return false;
    return std::memcmp(inq.data() + 8, kUsbLoaderName, 23) == 0;
  }
  std::array<std::uint8_t, 512> id{};
  if (standard_.IdentifyDevice(ctx_.devicePath, id.data()) != 1) return false;
  std::string model = UnswapAtaText(id.data() + 54, 40);
  for (const char* name : kSataLoaderNames) {
    if (model.compare(0, 36, name, 36) == 0) return true;
  }
  return false;
}

// The drive answers a one-sector WrappedIn at LBA low FF with E5 4A 4D once its firmware runs.
bool ControllerOps::probeBridge() {
  std::array<std::uint8_t, 512> sector{};
  auto cdb = WrappedCdb(WrapDirection::In, t_.state().ataWrapVariant(), 1, 0xFF);
  if (t_.SendCommand(ctx_.devicePath, true, cdb.data(), cdb.size(), sector.data(), 512) != 1) return false;
  return sector[0] == 0xE5 && sector[1] == 0x4A && sector[2] == 0x4D;
}

bool ControllerOps::LeaveLoaderMode(std::uint8_t* buffer) {
  if (!IsLoaderMode()) return true;
  std::uint8_t selector = 0;
  for (std::uint16_t block = 0; block < 4; ++block) {
    if (ReadPageAllChannels(8, block, 0, 0, buffer) &&
        std::memcmp(buffer, kLoaderHeaderTag, sizeof kLoaderHeaderTag) == 0) {
      selector = buffer[kFirmwareCountOffset];
      break;
    }
  }
  if (path() == TransportPath::UsbPath) {
    RestartController(selector == 2 ? 2 : 1, 0);
    std::array<std::uint8_t, 36> inq{};
    std::uint32_t moved = 0;
    for (int tries = 0; t_.InquiryDevice(ctx_.devicePath, inq.data(), inq.size(), &moved) != 1; ++tries) {
      if (tries >= kProbeRetries || !wait(kProbeIntervalMs)) break;
    }
    return true;
  }
  RestartController(1, 1);
  if (!wait(kLeaveLoaderSataWaitMs)) return true;
  for (int i = 0; i < kProbeRetries; ++i) {
    standard_.SetBridgeMode(ctx_.devicePath, true);
    if (probeBridge() || i + 1 == kProbeRetries || !wait(kProbeIntervalMs)) break;
  }
  // Callers find out by their next command whether the firmware came up.
  return true;
}

bool ControllerOps::ReadPageAllChannels(std::uint8_t selector, std::uint16_t block, std::uint16_t page,
                                        std::uint8_t mode, std::uint8_t* buffer) {
  const std::uint32_t size = pageBytes();
  const std::uint8_t sectors = ctx_.params.geometry.PageSectors;
  const unsigned channels = ctx_.params.Channel;
  if (size == 0 || static_cast<std::size_t>(channels) * size > WorkBuffers::kSmallSize) return false;
  if (selector < 8) {
    if (selector >= channels) return false;
    return vendor_.ReadFlashPage(selector, 0, block, page, mode, buffer + selector * size, sectors) == 1;
  }
  for (unsigned c = 0; c < channels; ++c) {
    if (vendor_.ReadFlashPage(static_cast<std::uint8_t>(c), 0, block, page, mode, buffer + c * size, sectors) != 1)
      return false;
  }
  return true;
}

bool ControllerOps::ReadFirmwarePages(std::uint16_t block, std::uint16_t parityBlock, std::uint16_t page,
                                      std::uint8_t mode, std::uint8_t* buffer, std::uint32_t sectors) {
  constexpr std::size_t kArea = WorkBuffers::kSmallSize;
  constexpr std::uint32_t kStep = 16 * 1024;  // one channel's share of the reply
  const std::uint32_t size = pageBytes();
  const std::uint32_t length = sectors * 512;
  if (size == 0 || length > kArea) return false;
  std::vector<std::uint8_t> collected(kArea, 0);
  std::size_t used = 0;
  const std::uint32_t skip = (parityBlock & 1) ? size : 0;
  for (std::uint8_t mask : {std::uint8_t{0x0F}, std::uint8_t{0xF0}}) {
    std::memset(buffer, 0, kArea);
    if (vendor_.ReadFirmwarePagesRaw(mask, block, page, mode, buffer, sectors) != 1) return false;
    for (std::uint32_t step = 0; step < length; step += kStep) {
      if (step + skip + size > kArea || used + size > kArea) break;
      std::memcpy(collected.data() + used, buffer + step + skip, size);
      used += size;
    }
  }
  std::memcpy(buffer, collected.data(), kArea);
  return true;
}

bool ControllerOps::WritePageBlockList(std::uint16_t page, std::uint8_t mode, const std::uint8_t* buffer,
                                       std::uint32_t sectors) {
  const SystemBlockList& list = ctx_.loader.systemBlocks;
  for (std::size_t i = 0; i < list.count && i < list.blocks.size(); ++i) {
    if (vendor_.WriteFlashPage(0, list.blocks[i], page, mode, buffer, sectors) != 1) return false;
  }
  return true;
}

bool ControllerOps::ReadFlashIdTable(std::uint8_t* buffer, std::uint8_t& withFlag) {
  if (!LoadRamProgram(RamProgram::Gdp, 0, buffer, withFlag)) return false;
  return vendor_.ReadTaskResult(subop::ReadDetectResult, buffer, 1) == 1;
}

bool ControllerOps::ReadIdentityStrings(std::string& serial, std::string& model) {
  std::array<std::uint8_t, 512> id{};
  if (standard_.IdentifyDevice(ctx_.devicePath, id.data()) != 1) return false;
  serial = UnswapAtaText(id.data() + 20, 20);
  model = UnswapAtaText(id.data() + 54, 40);
  return true;
}

}  // namespace qk
