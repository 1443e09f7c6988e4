#include <sqlite3.h>

#include <mutex>

#include "records/RecordStore.h"

namespace qk {

namespace {

constexpr int kSchemaVersion = 1;

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS drive_record (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  station TEXT NOT NULL, slot INTEGER NOT NULL, serial TEXT NOT NULL,
  verdict TEXT NOT NULL, result_code INTEGER NOT NULL, shown_code INTEGER NOT NULL,
  short_code TEXT NOT NULL, failure_text TEXT NOT NULL,
  start_time TEXT NOT NULL, end_time TEXT NOT NULL,
  profile_file TEXT NOT NULL, profile_hash TEXT NOT NULL,
  firmware_files TEXT NOT NULL, firmware_versions TEXT NOT NULL,
  flash_type TEXT NOT NULL, flash_ids TEXT NOT NULL,
  channel INTEGER NOT NULL, bank INTEGER NOT NULL,
  bad_early INTEGER, bad_later INTEGER, bad_blocks TEXT NOT NULL DEFAULT '',
  temperature INTEGER NOT NULL, capacity_mb INTEGER NOT NULL,
  step_status TEXT NOT NULL, run_log TEXT NOT NULL, failure_report TEXT NOT NULL,
  record_key TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS drive_record_serial ON drive_record(serial);
CREATE INDEX IF NOT EXISTS drive_record_end ON drive_record(end_time);
)";

constexpr const char* kColumns =
    "id, station, slot, serial, verdict, result_code, shown_code, short_code, failure_text, start_time, end_time, "
    "profile_file, profile_hash, firmware_files, firmware_versions, flash_type, flash_ids, channel, bank, "
    "bad_early, bad_later, bad_blocks, temperature, capacity_mb, step_status, run_log, failure_report, record_key";

class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) { sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  explicit operator bool() const { return stmt_ != nullptr; }
  sqlite3_stmt* get() { return stmt_; }
  void text(int i, const std::string& v) { sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT); }
  void integer(int i, std::int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
  void optional(int i, const std::optional<int>& v) { v ? integer(i, *v) : (void)sqlite3_bind_null(stmt_, i); }
  std::string columnText(int i) {
    const auto* p = sqlite3_column_text(stmt_, i);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(sqlite3_column_bytes(stmt_, i)))
             : std::string();
  }
  std::int64_t columnInt(int i) { return sqlite3_column_int64(stmt_, i); }
  std::optional<int> columnOptional(int i) {
    if (sqlite3_column_type(stmt_, i) == SQLITE_NULL) return std::nullopt;
    return static_cast<int>(sqlite3_column_int64(stmt_, i));
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

class SqliteRecordStore : public RecordStore {
 public:
  explicit SqliteRecordStore(std::string path) : path_(std::move(path)) {}
  ~SqliteRecordStore() override {
    if (db_) sqlite3_close_v2(db_);
  }

  bool check(std::string* error) override {
    std::lock_guard lock(mutex_);
    if (!open(error)) return false;
    // A write lock taken and given back: the file and its folder accept writes.
    if (!exec("BEGIN IMMEDIATE", error)) return false;
    exec("ROLLBACK", nullptr);
    return true;
  }

  bool write(const DriveRecord& r, std::string* error) override {
    std::lock_guard lock(mutex_);
    if (!open(error)) return false;
    Statement st(db_, std::string("INSERT INTO drive_record (") + (kColumns + 4) +
                          ") VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    if (!st) return fail(error);
    int i = 0;
    st.text(++i, r.station);
    st.integer(++i, r.slot);
    st.text(++i, r.serial);
    st.text(++i, r.verdict);
    st.integer(++i, r.resultCode);
    st.integer(++i, r.shownCode);
    st.text(++i, r.shortCode);
    st.text(++i, r.failureText);
    st.text(++i, r.startTime);
    st.text(++i, r.endTime);
    st.text(++i, r.profileFile);
    st.text(++i, r.profileHash);
    st.text(++i, r.firmwareFiles);
    st.text(++i, r.firmwareVersions);
    st.text(++i, r.flashType);
    st.text(++i, r.flashIds);
    st.integer(++i, r.channel);
    st.integer(++i, r.bank);
    st.optional(++i, r.badEarly);
    st.optional(++i, r.badLater);
    st.text(++i, r.badBlocks);
    st.integer(++i, r.temperature);
    st.integer(++i, r.capacityMB);
    st.text(++i, r.stepStatus);
    st.text(++i, r.runLog);
    st.text(++i, r.failureReport);
    st.text(++i, r.key);
    // A single statement outside a transaction commits on its own.
    if (sqlite3_step(st.get()) != SQLITE_DONE) return fail(error);
    return true;
  }

  std::vector<DriveRecord> query(const RecordFilter& f, std::string* error) override {
    std::lock_guard lock(mutex_);
    std::vector<DriveRecord> out;
    if (!open(error)) return out;
    std::string sql = std::string("SELECT ") + kColumns + " FROM drive_record WHERE 1=1";
    if (f.serial) sql += " AND serial = ?";
    if (f.since) sql += " AND end_time >= ?";
    if (f.verdict) sql += " AND verdict = ?";
    sql += " ORDER BY id";
    Statement st(db_, sql);
    if (!st) {
      fail(error);
      return out;
    }
    int i = 0;
    if (f.serial) st.text(++i, *f.serial);
    if (f.since) st.text(++i, *f.since);
    if (f.verdict) st.text(++i, *f.verdict);
    int rc;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
      DriveRecord r;
      int c = 0;
      r.id = st.columnInt(c++);
      r.station = st.columnText(c++);
      r.slot = static_cast<int>(st.columnInt(c++));
      r.serial = st.columnText(c++);
      r.verdict = st.columnText(c++);
      r.resultCode = static_cast<int>(st.columnInt(c++));
      r.shownCode = static_cast<int>(st.columnInt(c++));
      r.shortCode = st.columnText(c++);
      r.failureText = st.columnText(c++);
      r.startTime = st.columnText(c++);
      r.endTime = st.columnText(c++);
      r.profileFile = st.columnText(c++);
      r.profileHash = st.columnText(c++);
      r.firmwareFiles = st.columnText(c++);
      r.firmwareVersions = st.columnText(c++);
      r.flashType = st.columnText(c++);
      r.flashIds = st.columnText(c++);
      r.channel = static_cast<int>(st.columnInt(c++));
      r.bank = static_cast<int>(st.columnInt(c++));
      r.badEarly = st.columnOptional(c++);
      r.badLater = st.columnOptional(c++);
      r.badBlocks = st.columnText(c++);
      r.temperature = static_cast<int>(st.columnInt(c++));
      r.capacityMB = st.columnInt(c++);
      r.stepStatus = st.columnText(c++);
      r.runLog = st.columnText(c++);
      r.failureReport = st.columnText(c++);
      r.key = st.columnText(c++);
      out.push_back(std::move(r));
    }
    if (rc != SQLITE_DONE) fail(error);
    return out;
  }

  std::optional<RecordStats> stats(std::string* error) override {
    std::lock_guard lock(mutex_);
    if (!open(error)) return std::nullopt;
    RecordStats s;
    const char* pass = "SUM(verdict = 'Pass'), SUM(verdict <> 'Pass')";
    if (!yield(std::string("SELECT substr(end_time, 1, 10), ") + pass + " FROM drive_record GROUP BY 1 ORDER BY 1",
               s.perDay, error) ||
        !yield(std::string("SELECT result_code, ") + pass + " FROM drive_record GROUP BY 1 ORDER BY 1",
               s.perResultCode, error) ||
        !yield(std::string("SELECT flash_type, ") + pass + " FROM drive_record GROUP BY 1 ORDER BY 1",
               s.perFlashType, error)) {
      return std::nullopt;
    }
    return s;
  }

  bool remove(std::int64_t id, std::string* error) override {
    std::lock_guard lock(mutex_);
    if (!open(error)) return false;
    Statement st(db_, "DELETE FROM drive_record WHERE id = ?");
    if (!st) return fail(error);
    st.integer(1, id);
    return sqlite3_step(st.get()) == SQLITE_DONE || fail(error);
  }

  std::string location() const override { return path_; }

 private:
  bool fail(std::string* error) {
    if (error) *error = path_ + ": " + (db_ ? sqlite3_errmsg(db_) : "cannot be opened");
    return false;
  }

  bool exec(const char* sql, std::string* error) {
    char* msg = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &msg) == SQLITE_OK) return true;
    if (error) *error = path_ + ": " + (msg ? msg : "error");
    sqlite3_free(msg);
    return false;
  }

  bool open(std::string* error) {
    if (db_) return true;
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
      fail(error);
      sqlite3_close_v2(db_);
      db_ = nullptr;
      return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    // WAL: a crash loses at most the transaction under way, never a committed record.
    // FULL: a committed record survives a power cut too.
    bool ok = exec("PRAGMA journal_mode=WAL", error) && exec("PRAGMA synchronous=FULL", error);
    if (ok) {
      Statement v(db_, "PRAGMA user_version");
      int version = v && sqlite3_step(v.get()) == SQLITE_ROW ? static_cast<int>(v.columnInt(0)) : -1;
      if (version > kSchemaVersion) {
        if (error) *error = path_ + ": written by a newer station (schema " + std::to_string(version) + ")";
        ok = false;
      } else if (version < kSchemaVersion) {
        ok = exec("BEGIN IMMEDIATE", error) && exec(kSchema, error) &&
             exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str(), error) && exec("COMMIT", error);
        if (!ok) exec("ROLLBACK", nullptr);
      }
    }
    if (!ok) {
      sqlite3_close_v2(db_);
      db_ = nullptr;
    }
    return ok;
  }

  bool yield(const std::string& sql, std::vector<YieldRow>& rows, std::string* error) {
    Statement st(db_, sql);
    if (!st) return fail(error);
    int rc;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) rows.push_back({st.columnText(0), st.columnInt(1), st.columnInt(2)});
    return rc == SQLITE_DONE || fail(error);
  }

  std::string path_;
  std::mutex mutex_;
  sqlite3* db_ = nullptr;
};

}  // namespace

std::unique_ptr<RecordStore> OpenSqliteRecordStore(const std::string& path) {
  return std::make_unique<SqliteRecordStore>(path);
}

}  // namespace qk
