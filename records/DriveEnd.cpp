#include "records/DriveEnd.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "app/Station.h"
#include "config/DataFiles.h"
#include "run/ResultCodes.h"

namespace qk {

namespace {

std::string hostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "station";
  return name;
}

// FNV-1a: tells profiles apart, not a protection.
std::string contentHash(const std::string& path) {
  std::string data;
  if (!ReadWholeFile(path, data)) return "";
  std::uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : data) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

std::string joined(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + ";" + b;
}

}  // namespace

std::string RecordTime(const LocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return text;
}

RecordContext RunRecordContext(Station& station, const LocalTime& start) {
  const Profile& profile = station.profile();
  const ProfileSettings& s = profile.settings;
  const FirmwareSelection& fw = station.firmware();
  RecordContext c;
  c.station = profile.stationName.empty() ? hostName() : profile.stationName;
  c.startTime = RecordTime(start);
  c.profileFile = profile.iniFilePath;
  c.profileHash = contentHash(profile.iniFilePath);
  c.firmwareFiles = joined(fw.sata.selected ? fw.sata.path : "", fw.usb.selected ? fw.usb.path : "");
  c.firmwareVersions = joined(station.files().sataVersion, station.files().usbVersion);
  c.flashType = s.FlashUniName;
  for (std::uint8_t b : station.globalParameter().FlashExtra) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", b);
    c.flashIds += hex;
  }
  c.channel = s.Channel;
  c.bank = s.Bank;
  c.runLog = station.logFile().name;
  return c;
}

DriveRecord MakeDriveRecord(const RecordContext& c, int slot, const PortContext& port, const LocalTime& end) {
  DriveRecord r;
  r.station = c.station;
  r.slot = slot + 1;
  // Drives report their serial padded with blanks; the operator asks without them.
  r.serial = port.serialNumber.str();
  r.serial.erase(r.serial.find_last_not_of(' ') + 1);
  r.serial.erase(0, r.serial.find_first_not_of(' '));
  r.verdict = port.stepStatus[25] == 1 ? "Pass" : "Fail";
  r.resultCode = port.resultCode;
  r.shownCode = port.shownCode;
  // The short code the slot shows: the refined one.
  r.shortCode = ResultCodeInfo(port.shownCode).shortCode;
  r.failureText = port.resultCode == kNoError ? "" : ResultCodeInfo(port.resultCode).failureText;
  r.startTime = c.startTime;
  r.endTime = RecordTime(end);
  r.profileFile = c.profileFile;
  r.profileHash = c.profileHash;
  r.firmwareFiles = c.firmwareFiles;
  r.firmwareVersions = c.firmwareVersions;
  r.flashType = c.flashType;
  r.flashIds = c.flashIds;
  r.channel = c.channel;
  r.bank = c.bank;
  if (port.badBlocksRead) {
    // Column 0 counts the factory (early) table; columns 1 to 4 are the kinds
    // of the firmware's own (later) list.
    std::int64_t later = 0;
    for (std::size_t k = 0; k < port.badBlockTotals.size(); ++k) {
      r.badBlocks += (k ? "," : "") + std::to_string(port.badBlockTotals[k]);
      if (k) later += port.badBlockTotals[k];
    }
    r.badEarly = static_cast<int>(std::min<std::int64_t>(port.badBlockTotals[0], INT32_MAX));
    r.badLater = static_cast<int>(std::min<std::int64_t>(later, INT32_MAX));
  }
  r.temperature = port.temperature;
  r.capacityMB = port.capacityMB;
  r.stepStatus = StepStatusField(port.stepStatus);
  r.runLog = c.runLog;
  // Known from the start: what the run learns later (the failure report) rewrites this record.
  r.key = NewRecordKey();
  return r;
}

bool RecordDriveEnd(RecordStore& store, const RecordContext& context, int slot, const PortContext& port,
                    const LocalTime& end, std::string* error, DriveRecord* written) {
  DriveRecord r = MakeDriveRecord(context, slot, port, end);
  if (!store.write(r, error)) return false;
  if (written) *written = std::move(r);
  return true;
}

bool RecordFailureReport(RecordStore& store, DriveRecord& record, const std::string& reportPath, int shownCode,
                         std::string* error) {
  record.failureReport = reportPath;
  record.shownCode = shownCode;
  record.shortCode = ResultCodeInfo(shownCode).shortCode;
  return store.write(record, error);
}

}  // namespace qk
