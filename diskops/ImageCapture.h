#pragma once
// The operator's image capture: asks for a file name, then takes the file
// system's fixed area and its used space from the first configured drive.
#include <functional>
#include <memory>
#include <string>

#include "diskops/SectorDevice.h"
#include "platform/Clock.h"
#include "platform/Operator.h"
#include "platform/Volumes.h"

namespace qk {

constexpr const char* kDumpImageFail = "Dump Image Fail";

struct CaptureSetup {
  Operator& op;
  Volumes& volumes;
  Clock& clock;
  std::function<std::unique_ptr<SectorDevice>(const std::string& path)> openDevice;
  std::string defaultFile;                              // the program folder's QKSSD.img
  std::function<std::string(const std::string&)> resolve;  // relative names: against the program folder
};

// Size of the capture in MiB from the boot sector (at 0, or at 63) and the
// used space in MiB: the sectors up to the end of the second FAT, plus the used space.
std::uint32_t CaptureSizeMiB(const std::uint8_t* bootSector, std::uint32_t usedMiB);

// Captures from the drive at `devicePath` (the first configured slot's; empty
// when there is none). Returns true when an image was written; `volume`
// receives the drive's volume (empty when it has none).
bool GenImageBnClick(const CaptureSetup& setup, const std::string& devicePath, std::string& volume);

}  // namespace qk
