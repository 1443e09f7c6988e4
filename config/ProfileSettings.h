#pragma once
// The production profile: one flat record, loaded from and saved to an INI file.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

namespace qk {

constexpr int kTestItemCount = 24;      // production steps 1..24 (24: the capacity probe)
constexpr size_t kSerialNumSize = 80;   // fixed buffer, zero-terminated: 79 characters at most

struct ProfileSettings {
  // Yield counters (kept in QKSSD.log, not in the profile file).
  // 64-bit: a line's counts pass 2^31 long before the station is retired.
  std::int64_t TotalTestCount = 0;
  std::int64_t NumberOfPass = 0;

  std::string ProductModel;
  std::int32_t MPVersion = 0;
  std::int32_t ShowTitle = 0;
  std::int32_t TimeOut = 0;  // milliseconds
  std::int32_t ConnectDevNum = 0;
  std::int32_t EnBarCode = 0;
  std::int32_t EnDumpFreeBlockInfo = 0;
  std::int32_t EnUpdateFirmwareMode = 0;
  std::int32_t Reserved1 = 0;

  std::array<std::int32_t, kTestItemCount + 1> TestItemEnabled{};  // index 0 carries no item
  std::int32_t Reserved2 = 0;
  std::int32_t Reserved3 = 0;
  std::int32_t CheckFlashMask = 0;
  std::int32_t DownloadType = 0;
  std::int32_t SataLBA48 = 0;
  std::int32_t LEDLightMode = 0;
  std::int32_t DiskFormat = 0;
  std::string DiskLabel;
  std::string CopyImagePath;
  std::int32_t EnGenImage = 0;
  std::int32_t CheckMaxTemperatureValue = 0;

  std::string SerialNum;  // at most kSerialNumSize - 1 characters
  std::string FirmwareVer;
  std::string ModelNum;
  std::int32_t SNAutoInc = 0;
  std::int32_t SNDecimal = 0;
  std::int32_t SNErrReuse = 0;
  std::int32_t SNMinLength = 0;

  // Edited on the device page only; never stored.
  std::string VendorID, ProductID, VendorName, ProductName, ManufStr, ProdStr;

  std::int32_t EncryptionEnable = 0;
  std::string EncryptionString;
  std::int32_t IDE_UDMA5 = 0;

  std::string ExtFlashFile;
  std::int32_t Capacity = 0;
  std::string FlashUniName;
  std::int32_t Channel = 0;
  std::int32_t Bank = 0;
  std::int32_t DrvCurrent = 0;
  std::string ReservedText;

  std::int32_t DefPercentage = 0;
  std::int32_t ResPercentage = 0;
  std::int32_t Bch16ReadErrorThreshold = 0;
  std::int32_t Bch24ReadErrorThreshold = 0;
  std::int32_t Bch16EccErrorCopyThreshold = 0;
  std::int32_t Bch24EccErrorCopyThreshold = 0;
  std::int32_t WearLevelFrequency = 0;

  std::int32_t SMARTEnable = 0;
  std::int32_t SecurityEnable = 0;
  std::int32_t SlumberEnable = 0;
  std::int32_t InterleaveEnable = 0;
  std::int32_t ScrambleEnable = 0;
  std::int32_t RemapEnable = 0;
  std::int32_t ParallelMemory = 0;
  std::int32_t SecurityErase = 0;

  std::int32_t UsbRemovable = 0;
  std::int32_t UsbLedP14 = 0;
  std::int32_t SecurityCounter = 0;
  std::int32_t DirtyDepth = 0;
  std::int32_t InterleaveWay = 0;
  std::int32_t LEDControl = 0;
  std::int32_t EnSkipEraseGood = 0;
  std::int32_t EnEarlyBad = 0;
  std::int32_t EnLaterBad = 0;
  std::int32_t EnEraseReBuildBad = 0;
  std::int32_t EnTrimCmd = 0;
  std::int32_t EnThermalSensor = 0;
  std::int32_t EnSizeAlignment = 0;
  std::int32_t KeepPreviouseEraseCount = 0;
  std::int32_t EnModifyTMCvalue = 0;
  std::int32_t TMC0 = 0;
  std::int32_t TMC1 = 0;

  std::int32_t EnableGetPutTable = 0;
  std::string TableIn, TableOut, LaterTableIn, LaterTableOut;

  std::int32_t IDEMACapacity = 0;
  std::int32_t RWTestPercentage = 0;
  std::int32_t Reserved4 = 0;
  std::int32_t LBACapacity = 0;
  std::int32_t SpecialMode = 0;
  // The window's "Continuous" box: START begins continuous production.
  std::int32_t ContinuousMode = 0;

  // Serial numbers live in a fixed buffer: overlong values are cut, never overflow.
  void setSerialNum(const std::string& s) { SerialNum = s.substr(0, std::min(s.size(), kSerialNumSize - 1)); }
};

// Names of the production steps 1..23, in step order (index 0 is empty).
extern const std::array<const char*, kTestItemCount + 1> kTestItemNames;

}  // namespace qk
