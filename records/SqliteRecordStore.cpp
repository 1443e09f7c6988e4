#include <sqlite3.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "records/RecordStore.h"

namespace qk {

namespace {

// 2: record keys unique (a record rewritten with more known replaces itself).
constexpr int kSchemaVersion = 2;

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
DELETE FROM drive_record WHERE record_key <> '' AND id NOT IN
  (SELECT max(id) FROM drive_record WHERE record_key <> '' GROUP BY record_key);
CREATE UNIQUE INDEX IF NOT EXISTS drive_record_key ON drive_record(record_key) WHERE record_key <> '';
)";

constexpr const char* kColumns =
    "id, station, slot, serial, verdict, result_code, shown_code, short_code, failure_text, start_time, end_time, "
    "profile_file, profile_hash, firmware_files, firmware_versions, flash_type, flash_ids, channel, bank, "
    "bad_early, bad_later, bad_blocks, temperature, capacity_mb, step_status, run_log, failure_report, record_key";

class Statement {
 public:
  Statement() = default;
  Statement(sqlite3* db, const std::string& sql) { sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  void prepare(sqlite3* db, const std::string& sql) {
    finalize();
    sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr);
  }
  void finalize() {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
  void reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
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
  SqliteRecordStore(std::string path, bool queue) : path_(std::move(path)), asQueue_(queue) {}
  ~SqliteRecordStore() override { close(); }

  bool check(std::string* error) override {
    std::lock_guard lock(mutex_);
    if (!open(error)) return false;
    // A write lock taken and given back: the file and its folder accept writes.
    if (!exec("BEGIN IMMEDIATE", error)) return false;
    exec("ROLLBACK", nullptr);
    return true;
  }

  // Drives that end together share one commit (one flush): the first to come
  // commits what has queued up meanwhile, the others wait for it. Each returns
  // only once its own record is committed.
  bool write(const DriveRecord& r, std::string* error) override {
    Pending mine;
    mine.record = &r;
    std::unique_lock lock(groupMutex_);
    queue_.push_back(&mine);
    while (!mine.done) {
      if (committing_) {
        committed_.wait(lock);
        continue;
      }
      committing_ = true;
      std::vector<Pending*> group;
      group.swap(queue_);
      lock.unlock();
      commit(group);
      lock.lock();
      // Marked under the lock the waiters read it with.
      for (Pending* p : group) p->done = true;
      committing_ = false;
      committed_.notify_all();
    }
    if (!mine.ok && error) *error = mine.error;
    return mine.ok;
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

  struct Pending {
    const DriveRecord* record = nullptr;
    bool done = false;  // guarded by groupMutex_
    bool ok = false;    // set by the committing writer before `done`
    std::string error;
  };

  void commit(const std::vector<Pending*>& group) {
    std::lock_guard lock(mutex_);
    std::string error;
    auto finish = [&](Pending* p, bool ok, const std::string& why) {
      p->ok = ok;
      p->error = why;
    };
    if (!open(&error)) {
      for (Pending* p : group) finish(p, false, error);
      return;
    }
    // A single statement outside a transaction commits on its own.
    if (group.size() == 1) {
      const bool ok = insert(*group[0]->record, &error);
      finish(group[0], ok, error);
      return;
    }
    bool ok = exec("BEGIN IMMEDIATE", &error);
    for (std::size_t k = 0; ok && k < group.size(); ++k) ok = insert(*group[k]->record, &error);
    if (ok && exec("COMMIT", &error)) {
      for (Pending* p : group) finish(p, true, "");
      return;
    }
    exec("ROLLBACK", nullptr);
    // One record that cannot be stored leaves the others of its group alone: each on its own.
    for (Pending* p : group) {
      std::string why;
      const bool one = insert(*p->record, &why);
      finish(p, one, why);
    }
  }

  bool insert(const DriveRecord& r, std::string* error) {
    // Prepared once: a drive's end costs one step, not a parse.
    Statement& st = insert_;
    st.reset();
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
    const bool ok = sqlite3_step(st.get()) == SQLITE_DONE || fail(error);
    st.reset();
    return ok;
  }

  void close() {
    insert_.finalize();
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
  }

  std::string insertSql() const {
    std::string sql = std::string(asQueue_ ? "INSERT OR REPLACE" : "INSERT") + " INTO drive_record (" + (kColumns + 4) +
                      ") VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";
    if (asQueue_) return sql;
    // The record keeps its place (its id); what it says is the new version's.
    sql += " ON CONFLICT(record_key) WHERE record_key <> '' DO UPDATE SET ";
    std::string cols = kColumns + 4;
    bool first = true;
    for (std::size_t at = 0; at < cols.size();) {
      std::size_t end = cols.find(',', at);
      if (end == std::string::npos) end = cols.size();
      std::string name = cols.substr(at, end - at);
      name.erase(0, name.find_first_not_of(' '));
      if (name != "record_key") sql += (first ? "" : ", ") + name + " = excluded." + name, first = false;
      at = end + 1;
    }
    return sql;
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
    // NORMAL: a commit is in the operating system's hands when it returns, so it
    // survives the station's process dying at any point; it is flushed to the
    // disk at checkpoints, not per record (docs/records.md: the power-cut case).
    bool ok = exec("PRAGMA journal_mode=WAL", error) && exec("PRAGMA synchronous=NORMAL", error);
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
    if (ok) {
      insert_.prepare(db_, insertSql());
      if (!insert_) ok = fail(error);
    }
    if (!ok) close();
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
  bool asQueue_;
  std::mutex mutex_;  // the connection and its statement
  sqlite3* db_ = nullptr;
  Statement insert_;
  std::mutex groupMutex_;
  std::condition_variable committed_;
  std::vector<Pending*> queue_;  // guarded by groupMutex_: records waiting for the next commit
  bool committing_ = false;      // guarded by groupMutex_
};

}  // namespace

std::unique_ptr<RecordStore> OpenSqliteRecordStore(const std::string& path, bool queue) {
  return std::make_unique<SqliteRecordStore>(path, queue);
}

}  // namespace qk
