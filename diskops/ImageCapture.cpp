#include "diskops/ImageCapture.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "diskops/DiskJob.h"
#include "diskops/ImageCopy.h"
#include "diskops/Partitioner.h"

namespace qk {

std::uint32_t CaptureSizeMiB(const std::uint8_t* boot, std::uint32_t usedMiB) {
  // exFAT: the 16-bit value at 88. FAT32: the whole FAT size at 36; its low
  // half alone would cut the second FAT of volumes above 32 MiB of FAT.
  const bool exfat = std::memcmp(boot + 3, "EXFAT", 5) == 0;
  const std::uint64_t f = exfat ? std::uint64_t{boot[88]} | std::uint64_t{boot[89]} << 8
                                : std::uint64_t{boot[36]} | std::uint64_t{boot[37]} << 8 |
                                      std::uint64_t{boot[38]} << 16 | std::uint64_t{boot[39]} << 24;
  return static_cast<std::uint32_t>((2 * f + 95) / 2048 + usedMiB);
}

bool GenImageBnClick(const CaptureSetup& setup, const std::string& devicePath, std::string& volumeOut) {
  auto answer = setup.op.askText("Image Path", "Please Input Path of Dump Image", setup.defaultFile, false);
  if (!answer) {
    setup.op.showMessage(kDumpImageFail);
    return false;
  }
  const std::string file = setup.resolve ? setup.resolve(*answer) : *answer;

  if (devicePath.empty()) return false;
  auto device = setup.openDevice(devicePath);
  DiskJob job{*device, setup.volumes, setup.clock, &setup.op};

  std::vector<std::uint8_t> boot(kImageChunkBytes);
  bool ok = device->readSectors(0, 128, boot.data());
  if (!ok || boot[0] != 0xEB) ok = device->readSectors(63, 128, boot.data());
  if (!ok) {
    setup.op.showMessage(kDumpImageFail);
    return false;
  }

  std::uint32_t usedMiB = 1;
  volumeOut.clear();
  if (auto volume = FindDriveLetter(job)) {
    volumeOut = volume->node;
    std::uint64_t total = 0, free = 0;
    if (setup.volumes.space(*volume, total, free)) usedMiB = static_cast<std::uint32_t>((total - free) / 1048576) + 1;
  }
  const std::uint32_t size = CaptureSizeMiB(boot.data(), usedMiB);
  if (!ReadGhostImg(job, file, size)) return false;
  char text[600];
  std::snprintf(text, sizeof text, "Dump %dMB image to %s successfully", static_cast<int>(usedMiB), file.c_str());
  setup.op.showMessage(text);
  return true;
}

}  // namespace qk
