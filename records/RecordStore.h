#pragma once
// Every drive that ends becomes one record: what happened to it, on which
// station, with which flash. One interface, one backend per kind of database.
#include <array>
#include <cstdint>
#include <functional>
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
  std::string badBlocks;  // the bad-block totals per kind, comma-separated; empty when not read
  int temperature = 0;
  std::int64_t capacityMB = 0;
  std::string stepStatus;  // 25 step statuses, comma-separated
  std::string runLog, failureReport;
  std::string key;  // unique per record: a record sent twice is stored once
  bool pending = false;  // still waiting in the station's spool for the line database
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
  // A record with the key of one already stored replaces it (same record, more known).
  virtual bool write(const DriveRecord& record, std::string* error) = 0;
  virtual std::vector<DriveRecord> query(const RecordFilter& filter, std::string* error) = 0;
  virtual std::optional<RecordStats> stats(std::string* error) = 0;
  virtual bool remove(std::int64_t id, std::string* error) = 0;
  // Serials handed out line-wide: in one transaction the store's next serial
  // (seeded with `seed` the first time) goes to `take`, which hands out what
  // it needs and returns the serial after them, stored as the new next.
  // False when this store has no line (nothing taken) or on failure (error set).
  virtual bool takeSerials(const std::string& seed, const std::function<std::string(const std::string&)>& take,
                           std::string* error) {
    (void)seed, (void)take, (void)error;
    return false;
  }
  virtual bool lineSerials() const { return false; }
  // Where the records go, for messages.
  virtual std::string location() const = 0;
};

constexpr const char* kRecordsFileName = "records.db";

// The embedded store of a log folder. As a queue (the line database's spool)
// a rewritten record becomes a new row at the end, so a sender holding the old
// row in hand removes only that one and the new version goes out after it.
std::unique_ptr<RecordStore> OpenSqliteRecordStore(const std::string& path, bool queue = false);

// A line database; records it cannot reach wait in `spoolPath` and are sent
// when it answers again.
std::unique_ptr<RecordStore> OpenPostgresRecordStore(const std::string& url, const std::string& spoolPath);

constexpr const char* kSpoolFileName = "records-spool.db";

// A random key for a record.
std::string NewRecordKey();

// The station's store: `url` ("postgresql://...") when set, else records.db in the log folder.
std::unique_ptr<RecordStore> OpenRecordStore(const std::string& url, const std::string& logPath,
                                             std::string* error);

// The step statuses 1..25 as the record keeps them.
std::string StepStatusField(const std::array<std::int32_t, 26>& steps);

}  // namespace qk
