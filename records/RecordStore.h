#pragma once
// Every drive that ends becomes one record: what happened to it, on which
// station, with which flash. One interface, one backend per kind of database.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qk {

struct DriveRecord {
  std::int64_t id = 0;  // given by the store
  std::string station;
  int slot = 0;  // 1-based, as the slots are shown
  std::string serial;
  std::string verdict;  // "Pass" or "Fail"
  int resultCode = 0;
  int shownCode = 0;
  std::string shortCode;
  std::string failureText;
  std::string startTime, endTime;  // "YYYY-MM-DD hh:mm:ss"
  std::string profileFile, profileHash;
  std::string firmwareFiles, firmwareVersions;
  std::string flashType, flashIds;
  int channel = 0, bank = 0;
  std::optional<int> badEarly, badLater;  // absent when the run did not read them
  int temperature = 0;
  std::int64_t capacityMB = 0;
  std::string stepStatus;  // 25 step statuses, comma-separated
  std::string runLog, failureReport;
};

struct RecordFilter {
  std::optional<std::string> serial;
  std::optional<std::string> since;  // records that ended at or after this time
  std::optional<std::string> verdict;
};

struct YieldRow {
  std::string key;  // the day, the result code or the flash type
  std::int64_t pass = 0, fail = 0;
};

struct RecordStats {
  std::vector<YieldRow> perDay, perResultCode, perFlashType;
};

class RecordStore {
 public:
  virtual ~RecordStore() = default;
  // Makes sure a record can be written now (schema in place, database
  // writable). False with the reason when not.
  virtual bool check(std::string* error) = 0;
  // One record in one transaction; false with the reason when it is not stored.
  virtual bool write(const DriveRecord& record, std::string* error) = 0;
  virtual std::vector<DriveRecord> query(const RecordFilter& filter, std::string* error) = 0;
  virtual std::optional<RecordStats> stats(std::string* error) = 0;
  // Where the records go, for messages.
  virtual std::string location() const = 0;
};

constexpr const char* kRecordsFileName = "records.db";

// The embedded store of a log folder.
std::unique_ptr<RecordStore> OpenSqliteRecordStore(const std::string& path);

// The station's store: `url` ("postgresql://...") when set, else records.db in the log folder.
std::unique_ptr<RecordStore> OpenRecordStore(const std::string& url, const std::string& logPath,
                                             std::string* error);

// The step statuses 1..25 as the record keeps them.
std::string StepStatusField(const std::array<std::int32_t, 26>& steps);

}  // namespace qk
