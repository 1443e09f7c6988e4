#pragma once
// The record of a drive that ends, written before its verdict is counted.
#include <string>

#include "platform/Clock.h"
#include "records/RecordStore.h"
#include "run/PortContext.h"

namespace qk {

class Station;

// What every drive of one run shares.
struct RecordContext {
  std::string station;
  std::string startTime;
  std::string profileFile, profileHash;
  std::string firmwareFiles, firmwareVersions;
  std::string flashType, flashIds;
  int channel = 0, bank = 0;
  std::string runLog;
};

// Taken at START from the station as it stands.
RecordContext RunRecordContext(Station& station, const LocalTime& start);

std::string RecordTime(const LocalTime& t);

DriveRecord MakeDriveRecord(const RecordContext& context, int slot, const PortContext& port, const LocalTime& end);

// The one call at a drive's end: one record, one transaction. False with the
// reason when the record was not stored. `written` receives the record as
// stored, for what the run adds to it later. Call it without the port-table
// lock: it waits for the store.
bool RecordDriveEnd(RecordStore& store, const RecordContext& context, int slot, const PortContext& port,
                    const LocalTime& end, std::string* error, DriveRecord* written = nullptr);

// The failure report written at the run's end, and the shown code its builder
// refined, into the drive's stored record.
bool RecordFailureReport(RecordStore& store, DriveRecord& record, const std::string& reportPath, int shownCode,
                         std::string* error);

}  // namespace qk
