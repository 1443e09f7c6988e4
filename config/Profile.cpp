#include "config/Profile.h"

#include <sys/stat.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <iostream>
#include <optional>

#include "config/IniFile.h"

namespace qk {

namespace {

constexpr std::int32_t kMsPerMinute = 60000;
constexpr std::int32_t kDefaultTimeoutMs = 300000;

std::string format1(const char* fmt, const std::string& arg) {
  std::string out;
  const char* p = fmt;
  for (; *p; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      out += arg;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

// Relative names belong to the program folder, wherever the process was started from.
std::string logFolder(const std::string& value, const ProgramFolder& folder) {
  return value == "log" ? folder.path() + "log/" : folder.resolve(value);
}

void readSetting(const IniFile& ini, Profile& profile, const ProgramFolder& folder) {
  auto& s = profile.settings;
  const char* sec = "Setting";
  s.ShowTitle = ini.getInt(sec, "ShowTitle", 0);
  s.EnDumpFreeBlockInfo = ini.getInt(sec, "EnDumpFreeBlockInfo", 0);
  s.EnUpdateFirmwareMode = ini.getInt(sec, "EnUpdateFirmwareMode", 0);
  s.ProductModel = ini.getString(sec, "ProductModel", "QK");
  s.MPVersion = ini.getInt(sec, "MPVersion", 0);
  // An unlocked station stays unlocked only for a profile without a version lock.
  if (profile.settingsUnlocked) profile.settingsUnlocked = s.MPVersion == 0;
  std::int32_t minutes = ini.getInt(sec, "TimeOut", 10);
  if (minutes < 1) {
    s.TimeOut = kDefaultTimeoutMs;
  } else {
    // Minutes beyond what 32-bit milliseconds hold are cut to the largest that fits.
    s.TimeOut = minutes > INT32_MAX / kMsPerMinute ? (INT32_MAX / kMsPerMinute) * kMsPerMinute
                                                   : minutes * kMsPerMinute;
  }
  s.ConnectDevNum = ini.getInt(sec, "ConnectDevNum", 0);
  s.EnBarCode = ini.getInt(sec, "EnBarCode", 0);
  s.ContinuousMode = ini.getInt(sec, "ContinuousMode", 0) != 0 ? 1 : 0;
  profile.mirrors.enSaveDefectTable = ini.getInt(sec, "EnSaveDefectTable", 0);
  profile.logPath = logFolder(ini.getString(sec, "LogPath", "log"), folder);
  profile.stationName = ini.getString(sec, "StationName", "");
  profile.recordsUrl = ini.getString("Records", "Url", "");
}

void readTestItems(const IniFile& ini, Profile& profile) {
  auto& s = profile.settings;
  auto& t = s.TestItemEnabled;
  const char* sec = "TestItems";
  t[1] = ini.getInt(sec, "EnFlashModule", 1);
  s.CheckFlashMask = ini.getInt(sec, "CheckFlashMask", 31);
  profile.mirrors.checkFlashMask = s.CheckFlashMask;
  t[2] = ini.getInt(sec, "EnSataTest", 0);
  t[3] = ini.getInt(sec, "EnFlashTest", 0);
  t[4] = ini.getInt(sec, "EnDramTest", 0);
  t[5] = ini.getInt(sec, "EnPreFormat", 0);
  t[6] = ini.getInt(sec, "EnDownload", 0);
  s.DownloadType = ini.getInt(sec, "DownloadType", 1);
  s.SataLBA48 = ini.getInt(sec, "SataLBA48", 1);
  s.LEDLightMode = ini.getInt(sec, "LEDLightMode", 1);
  t[8] = ini.getInt(sec, "EnCheckTables", 0);
  t[7] = ini.getInt(sec, "EnRWTest", 0);
  t[9] = ini.getInt(sec, "EnFormat", 0);
  s.DiskLabel = ini.getString(sec, "DiskLabel", "SSD Disk");
  s.DiskFormat = ini.getInt(sec, "DiskFormat", 0);
  t[10] = ini.getInt(sec, "EnCopyImage", 0);
  s.CopyImagePath = ini.getString(sec, "CopyImagePath", "");
  s.EnGenImage = ini.getInt(sec, "EnGenImage", 0);
  t[11] = ini.getInt(sec, "EnCheckTemperature", 0);
  s.CheckMaxTemperatureValue = ini.getInt(sec, "CheckMaxTemperatureValue", 0);
  // Steps 12..23 have no key: they start off with every load.
  for (int i = 12; i <= kTestItemCount; ++i) t[static_cast<size_t>(i)] = 0;
  t[24] = ini.getInt(sec, "EnCapacityProbe", 0) ? 1 : 0;
}

void readDeviceSetting(const IniFile& ini, Profile& profile, Operator& op) {
  auto& s = profile.settings;
  const char* sec = "DeviceSetting";
  s.setSerialNum(ini.getString(sec, "SerialNum", "QK_0123456789"));
  s.ModelNum = ini.getString(sec, "ModelNum", "Talvery QKR2XX SSD");
  s.FirmwareVer = ini.getString(sec, "FirmwareVer", "12345678");
  s.SNAutoInc = ini.getInt(sec, "SNAutoInc", 0);
  s.SNDecimal = ini.getInt(sec, "SNDecimal", 0);
  s.SNMinLength = ini.getInt(sec, "SNMinLength", 12);
  if (s.SNDecimal != 0) {
    bool allDigits = true;
    for (char c : s.SerialNum) allDigits = allDigits && c >= '0' && c <= '9';
    if (!allDigits) {
      op.showMessage(
          "Please check the loading serial numbers, the format are not Hex.\n. Reset ther serial number to "
          "default value");
      s.SerialNum.assign(s.SerialNum.size(), '0');
    }
  }
  s.SNErrReuse = ini.getInt(sec, "SNErrReuse", 0);
  s.EncryptionEnable = ini.getInt(sec, "EncryptionEnable", 0);
  s.EncryptionString = ini.getString(sec, "EncryptionString", "Pelvane");
  s.IDE_UDMA5 = ini.getInt(sec, "IDE_UDMA5", 0);
  profile.mirrors.ideUdma5 = s.IDE_UDMA5;
}

void readFlashSetting(const IniFile& ini, Profile& profile) {
  auto& s = profile.settings;
  const char* sec = "FlashSetting";
  s.ExtFlashFile = ini.getString(sec, "ExtFlashFile", "Flash.ini");
  s.Capacity = ini.getInt(sec, "Capacity", 0);
  s.FlashUniName = ini.getString(sec, "FlashUniName", "WBG");
  s.Channel = ini.getInt(sec, "Channel", 8);
  s.Bank = ini.getInt(sec, "Bank", 2);
  s.DrvCurrent = ini.getInt(sec, "DrvCurrent", 1);
}

void readFwSetting(const IniFile& ini, Profile& profile) {
  auto& s = profile.settings;
  auto& m = profile.mirrors;
  const char* sec = "FwSetting";
  s.DefPercentage = ini.getInt(sec, "DefPercentage", 48);
  s.ResPercentage = ini.getInt(sec, "ResPercentage", 68);
  s.Bch16ReadErrorThreshold = ini.getInt(sec, "Bch16ReadErrorThreshold", 13);
  s.Bch24ReadErrorThreshold = ini.getInt(sec, "Bch24ReadErrorThreshold", 20);
  s.Bch16EccErrorCopyThreshold = ini.getInt(sec, "Bch16EccErrorCopyThreshold", 6);
  s.Bch24EccErrorCopyThreshold = ini.getInt(sec, "Bch24EccErrorCopyThreshold", 15);
  s.WearLevelFrequency = ini.getInt(sec, "WearLevelFrequency", 128);
  s.ScrambleEnable = ini.getInt(sec, "ScrambleEnable", 0);
  s.RemapEnable = ini.getInt(sec, "RemapEnable", 0);
  s.UsbRemovable = ini.getInt(sec, "UsbRemovable", 0);
  m.usbRemovable = s.UsbRemovable;
  s.UsbLedP14 = ini.getInt(sec, "UsbLedP14", 0);
  m.usbLedP14 = s.UsbLedP14;
  s.SecurityCounter = ini.getInt(sec, "SecurityCounter", 5);
  s.DirtyDepth = ini.getInt(sec, "DirtyDepth", 40);
  m.dirtyDepth = s.DirtyDepth;
  s.InterleaveWay = ini.getInt(sec, "InterleaveWay", 4);
  s.LEDControl = ini.getInt(sec, "LEDControl", 0);
  m.ledInterleave = static_cast<std::uint8_t>((s.LEDControl * 16 + s.InterleaveWay) & 0xFF);
  s.EnLaterBad = 1;  // always on; it has no key
  s.EnSkipEraseGood = ini.getInt(sec, "EnSkipEraseGood", 0);
  s.EnEarlyBad = ini.getInt(sec, "EnEarlyBad", 0);
  s.EnEraseReBuildBad = ini.getInt(sec, "EnEraseReBuildBad", 0);
  s.EnTrimCmd = ini.getInt(sec, "EnTrimCmd", 1);
  s.EnThermalSensor = ini.getInt(sec, "EnThermalSensor", 0);
  s.EnSizeAlignment = ini.getInt(sec, "EnSizeAlignment", 0);
  s.KeepPreviouseEraseCount = ini.getInt(sec, "KeepPreviouseEraseCount", 0);
  s.EnModifyTMCvalue = ini.getInt(sec, "EnModifyTMCvalue", 0);
  s.TMC0 = ini.getInt(sec, "TMC0", 17);
  s.TMC1 = ini.getInt(sec, "TMC1", 17);
}

void readRdSetting(const IniFile& ini, Profile& profile) {
  auto& s = profile.settings;
  const char* sec = "RDSetting";
  s.EnableGetPutTable = ini.getInt(sec, "EnableGetPutTable", 0);
  s.TableIn = ini.getString(sec, "TableIn", "");
  s.TableOut = ini.getString(sec, "TableOut", "");
  s.LaterTableIn = ini.getString(sec, "LaterTableIn", "");
  s.LaterTableOut = ini.getString(sec, "LaterTableOut", "");
  profile.mirrors.dumpDebugFile = ini.getInt(sec, "DumpDebugFile", 0);
}

}  // namespace

LoadResult LoadProfile(const std::string& path, Profile& profile, const ProgramFolder& folder, Operator& op) {
  profile.iniFilePath = path;
  std::string refused;
  IniFile ini = IniFile::load(path, &refused);
  if (!refused.empty()) {
    op.showMessage("The profile cannot be read: " + refused, "Error", MessageIcon::Error);
    return LoadResult::Failed;
  }
  if (!ini.loadedFromFile()) {
    op.showMessage(format1("The %s file cann't be found, and MP will create the file!\n", path), "Error",
                   MessageIcon::Error);
  }
  readSetting(ini, profile, folder);
  readTestItems(ini, profile);
  readDeviceSetting(ini, profile, op);
  readFlashSetting(ini, profile);
  readFwSetting(ini, profile);
  readRdSetting(ini, profile);

  const auto& s = profile.settings;
  if (s.ExtFlashFile.empty()) {
    op.showMessage(format1("Please make sure the flash file %s exist!\n", s.ExtFlashFile), "Error",
                   MessageIcon::Error);
    return LoadResult::Failed;
  }
  std::string flashError;
  FlashCatalogue catalogue;
  if (!ParseFlashList(folder.resolve(s.ExtFlashFile), catalogue, &flashError)) {
    std::cerr << "flash list " << s.ExtFlashFile << ": " << flashError << std::endl;
    op.showMessage(format1("Please make sure the flash file %s format correct!\n", s.ExtFlashFile), "Error",
                   MessageIcon::Error);
    return LoadResult::Failed;
  }
  profile.catalogue = std::move(catalogue);

  // One level only: the parent of the log folder must exist.
  if (!directoryExists(profile.logPath) && mkdir(profile.logPath.c_str(), 0775) != 0 &&
      !directoryExists(profile.logPath)) {
    return LoadResult::LogFolderFailed;
  }
  if (std::string problem = ReadYieldCounters(profile.logPath, profile.settings); !problem.empty()) {
    op.showMessage(problem, "Error", MessageIcon::Warning);
  }
  return LoadResult::Ok;
}

std::string ProfileLogFolder(const std::string& iniPath, const ProgramFolder& folder) {
  return logFolder(IniFile::load(iniPath).getString("Setting", "LogPath", "log"), folder);
}

bool SaveProfile(const std::string& path, const Profile& profile, const ProgramFolder& folder, std::string* error) {
  return SaveProfile(path, profile.settings, folder, profile.serialFloor.get(), error);
}

bool SaveProfile(const std::string& path, ProfileSettings s, const ProgramFolder& folder, const SerialFloor* floor,
                 std::string* error) {
  std::string target = folder.resolve(path);
  if (floor) s.SerialNum = floor->guard(s.SerialNum);
  IniFile ini = IniFile::load(target);
  const auto& t = s.TestItemEnabled;

  ini.setString("Setting", "ProductModel", s.ProductModel);
  ini.setInt("Setting", "MPVersion", s.MPVersion);
  ini.setInt("Setting", "TimeOut", s.TimeOut / kMsPerMinute);
  ini.setInt("Setting", "ConnectDevNum", s.ConnectDevNum);
  ini.setInt("Setting", "EnBarCode", s.EnBarCode);
  // Profiles that never chose continuous production keep their shape.
  if (s.ContinuousMode != 0 || ini.hasKey("Setting", "ContinuousMode")) ini.setInt("Setting", "ContinuousMode", s.ContinuousMode);

  ini.setInt("TestItems", "CheckFlashMask", s.CheckFlashMask);
  ini.setInt("TestItems", "EnSataTest", t[2]);
  ini.setInt("TestItems", "EnFlashTest", t[3]);
  ini.setInt("TestItems", "EnPreFormat", t[5]);
  ini.setInt("TestItems", "EnDownload", t[6]);
  ini.setInt("TestItems", "DownloadType", s.DownloadType);
  ini.setInt("TestItems", "SataLBA48", s.SataLBA48);
  ini.setInt("TestItems", "LEDLightMode", s.LEDLightMode);
  ini.setInt("TestItems", "EnCheckTables", t[8]);
  ini.setInt("TestItems", "EnRWTest", t[7]);
  ini.setInt("TestItems", "EnFormat", t[9]);
  ini.setInt("TestItems", "DiskFormat", s.DiskFormat);
  ini.setString("TestItems", "DiskLabel", s.DiskLabel);
  if (t[10] != 0) ini.setString("TestItems", "CopyImagePath", s.CopyImagePath);
  // Written once chosen, so profiles that never used the probe keep their keys.
  if (t[24] != 0 || ini.hasKey("TestItems", "EnCapacityProbe")) ini.setInt("TestItems", "EnCapacityProbe", t[24] ? 1 : 0);
  if (t[11] != 0) {
    ini.setInt("TestItems", "EnCheckTemperature", t[11]);
    ini.setInt("TestItems", "CheckMaxTemperatureValue", s.CheckMaxTemperatureValue);
  }

  ini.setString("DeviceSetting", "ModelNum", s.ModelNum);
  ini.setString("DeviceSetting", "FirmwareVer", s.FirmwareVer);
  ini.setString("DeviceSetting", "SerialNum", s.SerialNum);
  ini.setInt("DeviceSetting", "SNAutoInc", s.SNAutoInc);
  ini.setInt("DeviceSetting", "SNDecimal", s.SNDecimal);
  ini.setInt("DeviceSetting", "SNMinLength", s.SNMinLength);
  ini.setInt("DeviceSetting", "SNErrReuse", s.SNErrReuse);
  if (s.IDE_UDMA5 != 0) ini.setInt("DeviceSetting", "IDE_UDMA5", s.IDE_UDMA5);
  if (s.EncryptionEnable != 0 && !fileExists(folder.pcMarkerPath())) {
    ini.setString("DeviceSetting", "EncryptionString", s.EncryptionString);
  }

  if (!s.ExtFlashFile.empty()) ini.setString("FlashSetting", "ExtFlashFile", s.ExtFlashFile);
  ini.setInt("FlashSetting", "Capacity", s.Capacity);
  ini.setString("FlashSetting", "FlashUniName", s.FlashUniName);
  ini.setInt("FlashSetting", "Channel", s.Channel);
  ini.setInt("FlashSetting", "Bank", s.Bank);
  ini.setInt("FlashSetting", "DrvCurrent", s.DrvCurrent);

  ini.setInt("FwSetting", "DefPercentage", s.DefPercentage);
  ini.setInt("FwSetting", "ResPercentage", s.ResPercentage);
  ini.setInt("FwSetting", "Bch16ReadErrorThreshold", s.Bch16ReadErrorThreshold);
  ini.setInt("FwSetting", "Bch24ReadErrorThreshold", s.Bch24ReadErrorThreshold);
  ini.setInt("FwSetting", "Bch16EccErrorCopyThreshold", s.Bch16EccErrorCopyThreshold);
  ini.setInt("FwSetting", "Bch24EccErrorCopyThreshold", s.Bch24EccErrorCopyThreshold);
  ini.setInt("FwSetting", "ScrambleEnable", s.ScrambleEnable);
  ini.setInt("FwSetting", "RemapEnable", s.RemapEnable);
  ini.setInt("FwSetting", "SecurityCounter", s.SecurityCounter);
  ini.setInt("FwSetting", "DirtyDepth", s.DirtyDepth);
  ini.setInt("FwSetting", "EnTrimCmd", s.EnTrimCmd);
  if (s.EnThermalSensor != 0) ini.setInt("FwSetting", "EnThermalSensor", s.EnThermalSensor);

  if (s.EnableGetPutTable != 0) {
    ini.setString("RDSetting", "TableIn", s.TableIn);
    ini.setString("RDSetting", "TableOut", s.TableOut);
    ini.setString("RDSetting", "LaterTableIn", s.LaterTableIn);
    ini.setString("RDSetting", "LaterTableOut", s.LaterTableOut);
  }
  return ini.save(target, error);
}

namespace {

// A stored count: decimal digits only, from 0 to what 63 bits hold.
std::optional<std::int64_t> countValue(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i < text.size() && text[i] == '+') ++i;
  if (i == text.size()) return std::nullopt;
  std::int64_t n = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    if (n > (INT64_MAX - (c - '0')) / 10) return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

std::string ReadYieldCounters(const std::string& logPath, ProfileSettings& settings) {
  const std::string path = logPath + kYieldFileName;
  std::string refused;
  IniFile ini = IniFile::load(path, &refused);
  settings.TotalTestCount = 0;
  settings.NumberOfPass = 0;
  if (!refused.empty()) return "The yield counters cannot be read (" + refused + "); they start again from 0.";
  std::optional<std::int64_t> total = std::int64_t{0}, pass = std::int64_t{0};
  if (ini.hasKey("TestRecord", "TotalTestCount")) total = countValue(ini.getString("TestRecord", "TotalTestCount", ""));
  if (ini.hasKey("TestRecord", "NumberOfPass")) pass = countValue(ini.getString("TestRecord", "NumberOfPass", ""));
  if (!total || !pass || *pass > *total) {
    return "The yield counters in " + path + " cannot be read (TotalTestCount " +
           ini.getString("TestRecord", "TotalTestCount", "") + ", NumberOfPass " +
           ini.getString("TestRecord", "NumberOfPass", "") + "); they start again from 0.";
  }
  settings.TotalTestCount = *total;
  settings.NumberOfPass = *pass;
  return {};
}

bool WriteYieldCounters(const std::string& logPath, const ProfileSettings& settings, std::string* error) {
  std::string path = logPath + kYieldFileName;
  IniFile ini = IniFile::load(path);
  ini.setInt("TestRecord", "TotalTestCount", settings.TotalTestCount);
  ini.setInt("TestRecord", "NumberOfPass", settings.NumberOfPass);
  return ini.save(path, error);
}

std::string YieldText(const ProfileSettings& settings) {
  return std::to_string(settings.NumberOfPass) + " / " + std::to_string(settings.TotalTestCount);
}

}  // namespace qk

namespace qk {

bool SaveAtExit(const Profile& profile, const ProgramFolder& folder) {
  bool ok = SaveProfile(profile.iniFilePath, profile, folder);
  if (profile.iniFilePath.find(kDefaultProfileName) == std::string::npos) {
    ok = SaveProfile(kDefaultProfileName, profile, folder) && ok;
  }
  return WriteYieldCounters(profile.logPath, profile.settings) && ok;
}

}  // namespace qk
