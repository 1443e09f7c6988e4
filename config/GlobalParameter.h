#pragma once
// The station-wide record of what the controller firmware is told about the
// flash array and the product identity, and the two writers that lay it into a
// firmware page or a RAM program image.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "config/FlashList.h"
#include "config/Profile.h"

namespace qk {

struct FlashGeometry {
  std::uint16_t TotalBlock = 0;     // blocks per chip enable
  std::uint16_t HalfDieBlocks = 0;  // TotalBlock / 2 / Die
  std::uint16_t BlockPage = 0;      // pages per block (halved for two-plane types)
  std::uint8_t Die = 0;             // dies per chip enable
  std::uint8_t PageSectors = 0;     // 512-byte sectors per page
  std::array<std::uint8_t, 8> CEMap{};
};

struct GlobalParameter {
  FlashGeometry geometry;
  std::uint16_t ExtraWordA = 0;
  std::uint16_t AltBlockCount = 0;
  std::uint8_t TableSelect = 0;
  std::array<std::uint8_t, 7> ControlBytesA{};
  std::array<std::uint8_t, 7> TmcBytes{};
  std::array<std::uint8_t, 8> FeatureBytes{};
  std::array<std::uint8_t, 6> OptionBytes{};

  // Flash descriptor.
  std::uint16_t FlashIdWord = 0;
  std::uint8_t Channel = 0;
  std::uint8_t Bank = 0;
  std::uint8_t CECount = 0;
  std::uint8_t EccMode = 0;
  std::uint8_t TwoPlane = 0;
  std::uint8_t Column12Flag = 0;
  std::uint16_t CapacityGB = 0;
  std::uint8_t BlockCode = 0;
  std::string PartNumber;  // 20-byte field: 19 characters at most

  // Firmware parameters.
  std::uint8_t DriveCurrent = 0;
  std::uint8_t Bch16ReadThreshold = 0;
  std::uint8_t Bch24ReadThreshold = 0;
  std::uint8_t Bch16EccCopyThreshold = 0;
  std::uint8_t Bch24EccCopyThreshold = 0;
  std::uint8_t DefectRatio = 0;
  std::uint16_t ReservedRatio = 0;
  std::uint8_t WearLevelFrequency = 0;
  std::uint8_t SecurityCounter = 0;
  std::uint16_t DirtyDepth = 0;
  std::uint8_t LedInterleave = 0;
  std::uint8_t FeatureFlags = 0;
  std::uint8_t KeepEraseCount = 0;
  std::array<std::uint8_t, 5> FlashExtra{};

  // Identity strings.
  std::uint16_t UsbVendorId = 0;
  std::uint16_t UsbProductId = 0;
  std::string InquiryVendor;    // 8 characters used
  std::string InquiryProduct;   // 16 used
  std::string UsbManufacturer;  // 16 used
  std::string UsbProduct;       // 24 used
  std::string FirmwareRevision; // 8
  std::string ModelNumber;      // 40
  std::string EncryptionText;   // 24
  std::uint8_t UsbRemovable = 0;
  std::uint8_t IdeUdma5 = 0;
  std::uint8_t DumpDebugFile = 0;
  std::uint8_t EnSaveDefectTable = 0;
  std::uint8_t CheckFlashMask = 0;
  std::uint8_t LedLightMode = 0;
  std::uint8_t BridgeOneSeen = 0;  // set by the scan for a drive behind bridge code 1
  std::vector<std::string> TableFiles;           // the firmware files of the run: SATA first, then USB
  std::vector<std::uint32_t> TableFileSizesKiB;  // their sizes, rounded up

  int familyCode() const { return (FlashIdWord >> 12) & 0xF; }
};

// Inputs of the parameter block that come from the firmware file check.
struct FirmwareTexts {
  std::string family;      // two characters at offset 809 of the image read last
  std::string sataVersion; // SATA firmware version text
};

// Copies the values a profile load mirrors into the block at once.
void ApplyLoadTimeMirrors(const LoadTimeMirrors& m, GlobalParameter& gp);

// Fills the block from the profile and the selected flash type; normalises the
// profile's serial number and sets its DrvCurrent back. Returns the lines of
// the flash details box.
std::vector<std::string> GetGlobalParameter(ProfileSettings& settings, const FlashCatalogue& catalogue,
                                            const FirmwareTexts& firmware, GlobalParameter& gp);

// Geometry from the flash ID word, the two-plane flag, chip enables and banks.
FlashGeometry DeriveGeometry(std::uint16_t flashIdWord, std::uint8_t twoPlane, std::uint8_t ceCount,
                             std::uint8_t bank);

// What makes a decoded geometry unusable ("a page size of 0", ...), or nothing
// when every value can describe real flash.
std::optional<std::string> UnusableFlashGeometry(const FlashGeometry& geometry);

enum class ParameterVariant { Firmware, RamProgram };
constexpr std::size_t kFlashParameterOffset = 0x500;

// The 40-byte record at 0x500 (and the CE map behind it; the RAM-program
// variant adds the sector table at 0x530). The buffer must reach 0x548.
void WriteFlashParameterRecord(std::span<std::uint8_t> image, const GlobalParameter& gp,
                               const std::array<std::uint16_t, 4>& systemBlocks, ParameterVariant variant);

enum class IdentityForm { Sata, Usb };
// The ATA IDENTIFY texts (SATA) or the USB descriptors and inquiry texts (USB).
// The buffer must reach 0x11C.
void WriteIdentityArea(std::span<std::uint8_t> image, const GlobalParameter& gp, IdentityForm form,
                       const std::string& serial);

}  // namespace qk
