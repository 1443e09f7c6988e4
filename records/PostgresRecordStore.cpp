#include <libpq-fe.h>

#include <chrono>
#include <mutex>

#include "platform/DebugOutput.h"
#include "records/RecordStore.h"

namespace qk {

namespace {

constexpr int kSchemaVersion = 1;
// Stations of a line create the schema at the same moment: one at a time.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7340001)";
constexpr auto kRetryAfter = std::chrono::seconds(5);

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS qk_schema (version integer NOT NULL);
CREATE TABLE IF NOT EXISTS drive_record (
  id bigserial PRIMARY KEY,
  record_key text NOT NULL UNIQUE,
  station text NOT NULL, slot integer NOT NULL, serial text NOT NULL,
  verdict text NOT NULL, result_code integer NOT NULL, shown_code integer NOT NULL,
  short_code text NOT NULL, failure_text text NOT NULL,
  start_time text NOT NULL, end_time text NOT NULL,
  profile_file text NOT NULL, profile_hash text NOT NULL,
  firmware_files text NOT NULL, firmware_versions text NOT NULL,
  flash_type text NOT NULL, flash_ids text NOT NULL,
  channel integer NOT NULL, bank integer NOT NULL,
  bad_early integer, bad_later integer, bad_blocks text NOT NULL DEFAULT '',
  temperature integer NOT NULL, capacity_mb bigint NOT NULL,
  step_status text NOT NULL, run_log text NOT NULL, failure_report text NOT NULL);
CREATE INDEX IF NOT EXISTS drive_record_serial ON drive_record(serial);
CREATE INDEX IF NOT EXISTS drive_record_end ON drive_record(end_time);
CREATE TABLE IF NOT EXISTS line_serial (id integer PRIMARY KEY CHECK (id = 1), next_serial text NOT NULL);
)";

constexpr const char* kColumns =
    "station, slot, serial, verdict, result_code, shown_code, short_code, failure_text, start_time, end_time, "
    "profile_file, profile_hash, firmware_files, firmware_versions, flash_type, flash_ids, channel, bank, "
    "bad_early, bad_later, bad_blocks, temperature, capacity_mb, step_status, run_log, failure_report, record_key";

class Result {
 public:
  explicit Result(PGresult* r) : r_(r) {}
  ~Result() { PQclear(r_); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  bool ok() const {
    const auto s = PQresultStatus(r_);
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
  }
  int rows() const { return PQntuples(r_); }
  std::string text(int row, int col) const { return PQgetvalue(r_, row, col); }
  bool null(int row, int col) const { return PQgetisnull(r_, row, col) != 0; }
  std::int64_t integer(int row, int col) const { return std::stoll(text(row, col)); }

 private:
  PGresult* r_;
};

class PostgresRecordStore : public RecordStore {
 public:
  PostgresRecordStore(std::string url, const std::string& spoolPath)
      : url_(std::move(url)), spool_(OpenSqliteRecordStore(spoolPath)) {}
  ~PostgresRecordStore() override {
    if (conn_) PQfinish(conn_);
  }

  bool check(std::string* error) override {
    std::lock_guard lock(mutex_);
    retryAt_ = {};
    if (!connect(error)) return false;
    // Nothing starts before the local spool is writable too: it is where records wait.
    if (!spool_->check(error)) return false;
    sendSpool();
    return true;
  }

  bool write(const DriveRecord& record, std::string* error) override {
    std::lock_guard lock(mutex_);
    DriveRecord r = record;
    if (r.key.empty()) r.key = NewRecordKey();
    std::string why;
    if (std::chrono::steady_clock::now() >= retryAt_ && connect(&why) && insert(r, &why)) {
      sendSpool();
      return true;
    }
    // The line database is away: the record waits here and goes with the next one that gets through.
    debugPrintf("record of %s kept locally: %s", r.serial.c_str(), why.c_str());
    drop();
    return spool_->write(r, error);
  }

  std::vector<DriveRecord> query(const RecordFilter& f, std::string* error) override {
    std::lock_guard lock(mutex_);
    std::vector<DriveRecord> out;
    if (!connect(error)) return out;
    std::string sql = std::string("SELECT id, ") + kColumns + " FROM drive_record WHERE true";
    std::vector<std::string> values;
    if (f.serial) values.push_back(*f.serial), sql += " AND serial = $" + std::to_string(values.size());
    if (f.since) values.push_back(*f.since), sql += " AND end_time >= $" + std::to_string(values.size());
    if (f.verdict) values.push_back(*f.verdict), sql += " AND verdict = $" + std::to_string(values.size());
    sql += " ORDER BY id";
    Result res(exec(sql, values));
    if (!res.ok()) {
      fail(error);
      return out;
    }
    for (int i = 0; i < res.rows(); ++i) {
      DriveRecord r;
      int c = 0;
      r.id = res.integer(i, c++);
      r.station = res.text(i, c++);
      r.slot = static_cast<int>(res.integer(i, c++));
      r.serial = res.text(i, c++);
      r.verdict = res.text(i, c++);
      r.resultCode = static_cast<int>(res.integer(i, c++));
      r.shownCode = static_cast<int>(res.integer(i, c++));
      r.shortCode = res.text(i, c++);
      r.failureText = res.text(i, c++);
      r.startTime = res.text(i, c++);
      r.endTime = res.text(i, c++);
      r.profileFile = res.text(i, c++);
      r.profileHash = res.text(i, c++);
      r.firmwareFiles = res.text(i, c++);
      r.firmwareVersions = res.text(i, c++);
      r.flashType = res.text(i, c++);
      r.flashIds = res.text(i, c++);
      r.channel = static_cast<int>(res.integer(i, c++));
      r.bank = static_cast<int>(res.integer(i, c++));
      if (!res.null(i, c)) r.badEarly = static_cast<int>(res.integer(i, c));
      ++c;
      if (!res.null(i, c)) r.badLater = static_cast<int>(res.integer(i, c));
      ++c;
      r.badBlocks = res.text(i, c++);
      r.temperature = static_cast<int>(res.integer(i, c++));
      r.capacityMB = res.integer(i, c++);
      r.stepStatus = res.text(i, c++);
      r.runLog = res.text(i, c++);
      r.failureReport = res.text(i, c++);
      r.key = res.text(i, c++);
      out.push_back(std::move(r));
    }
    return out;
  }

  std::optional<RecordStats> stats(std::string* error) override {
    std::lock_guard lock(mutex_);
    if (!connect(error)) return std::nullopt;
    RecordStats s;
    const std::string counts =
        ", count(*) FILTER (WHERE verdict = 'Pass'), count(*) FILTER (WHERE verdict <> 'Pass') FROM drive_record "
        "GROUP BY 1 ORDER BY 1";
    const std::pair<std::string, std::vector<YieldRow>*> groups[] = {{"substr(end_time, 1, 10)", &s.perDay},
                                                                     {"result_code", &s.perResultCode},
                                                                     {"flash_type", &s.perFlashType}};
    for (const auto& [key, rows] : groups) {
      Result res(exec("SELECT " + key + counts, {}));
      if (!res.ok()) {
        fail(error);
        return std::nullopt;
      }
      for (int i = 0; i < res.rows(); ++i) rows->push_back({res.text(i, 0), res.integer(i, 1), res.integer(i, 2)});
    }
    return s;
  }

  bool remove(std::int64_t id, std::string* error) override {
    std::lock_guard lock(mutex_);
    if (!connect(error)) return false;
    Result res(exec("DELETE FROM drive_record WHERE id = $1", {std::to_string(id)}));
    return res.ok() || fail(error);
  }

  bool lineSerials() const override { return true; }

  bool takeSerials(const std::string& seed, const std::function<std::string(const std::string&)>& take,
                   std::string* error) override {
    std::lock_guard lock(mutex_);
    if (!connect(error)) return false;
    // The row lock holds every other station until this one has stored its new next serial.
    bool ok = Result(exec("BEGIN", {})).ok() &&
              Result(exec("INSERT INTO line_serial (id, next_serial) VALUES (1, $1) ON CONFLICT (id) DO NOTHING",
                          {seed}))
                  .ok();
    std::string next;
    if (ok) {
      Result res(exec("SELECT next_serial FROM line_serial WHERE id = 1 FOR UPDATE", {}));
      ok = res.ok() && res.rows() == 1;
      if (ok) next = res.text(0, 0);
    }
    if (ok) ok = Result(exec("UPDATE line_serial SET next_serial = $1 WHERE id = 1", {take(next)})).ok();
    if (ok) ok = Result(exec("COMMIT", {})).ok();
    if (!ok) {
      fail(error);
      Result(exec("ROLLBACK", {}));
      drop();
    }
    return ok;
  }

  std::string location() const override { return url_; }

 private:
  PGresult* exec(const std::string& sql, const std::vector<std::string>& values) {
    std::vector<const char*> params;
    for (const auto& v : values) params.push_back(v.c_str());
    return PQexecParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr, params.data(), nullptr,
                        nullptr, 0);
  }

  bool fail(std::string* error) {
    if (error) {
      std::string msg = conn_ ? PQerrorMessage(conn_) : "no connection";
      while (!msg.empty() && (msg.back() == '\n' || msg.back() == ' ')) msg.pop_back();
      *error = "the record database " + url_ + ": " + msg;
    }
    return false;
  }

  void drop() {
    if (conn_) PQfinish(conn_);
    conn_ = nullptr;
    retryAt_ = std::chrono::steady_clock::now() + kRetryAfter;
  }

  bool connect(std::string* error) {
    if (conn_ && PQstatus(conn_) == CONNECTION_OK) return true;
    if (conn_) PQfinish(conn_);
    // An unreachable server answers within seconds, not the system's minutes.
    const char* keys[] = {"dbname", "connect_timeout", nullptr};
    const char* values[] = {url_.c_str(), "3", nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    if (PQstatus(conn_) != CONNECTION_OK) {
      fail(error);
      drop();
      return false;
    }
    Result(PQexec(conn_, "SET client_min_messages = warning"));
    bool ok = Result(PQexec(conn_, "BEGIN")).ok() && Result(PQexec(conn_, kSchemaLock)).ok() &&
              Result(PQexec(conn_, kSchema)).ok();
    int version = -1;
    if (ok) {
      Result res(PQexec(conn_, "SELECT max(version) FROM qk_schema"));
      ok = res.ok();
      version = ok && !res.null(0, 0) ? static_cast<int>(res.integer(0, 0)) : 0;
    }
    if (ok && version == 0) {
      ok = Result(PQexec(conn_, ("INSERT INTO qk_schema VALUES (" + std::to_string(kSchemaVersion) + ")").c_str())).ok();
    }
    if (ok && version > kSchemaVersion) {
      Result(PQexec(conn_, "ROLLBACK"));
      if (error) *error = "the record database " + url_ + " was written by a newer station (schema " +
                          std::to_string(version) + ")";
      drop();
      return false;
    }
    if (ok) ok = Result(PQexec(conn_, "COMMIT")).ok();
    if (!ok) {
      fail(error);
      drop();
    }
    return ok;
  }

  bool insert(const DriveRecord& r, std::string* error) {
    auto opt = [](const std::optional<int>& v) { return v ? std::to_string(*v) : std::string(); };
    const std::vector<std::string> v = {r.station, std::to_string(r.slot), r.serial, r.verdict,
                                        std::to_string(r.resultCode), std::to_string(r.shownCode), r.shortCode,
                                        r.failureText, r.startTime, r.endTime, r.profileFile, r.profileHash,
                                        r.firmwareFiles, r.firmwareVersions, r.flashType, r.flashIds,
                                        std::to_string(r.channel), std::to_string(r.bank), opt(r.badEarly),
                                        opt(r.badLater), r.badBlocks, std::to_string(r.temperature), std::to_string(r.capacityMB),
                                        r.stepStatus, r.runLog, r.failureReport, r.key};
    std::vector<const char*> params;
    for (const auto& s : v) params.push_back(s.c_str());
    params[18] = r.badEarly ? params[18] : nullptr;
    params[19] = r.badLater ? params[19] : nullptr;
    std::string sql = std::string("INSERT INTO drive_record (") + kColumns + ") VALUES (";
    for (std::size_t i = 1; i <= v.size(); ++i) sql += (i > 1 ? ",$" : "$") + std::to_string(i);
    // A record sent again after a lost answer is the same record.
    sql += ") ON CONFLICT (record_key) DO NOTHING";
    Result res(PQexecParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr, params.data(), nullptr,
                            nullptr, 0));
    return res.ok() || fail(error);
  }

  // Records kept while the database was away, oldest first; each leaves the
  // spool only once the database has it.
  void sendSpool() {
    std::string error;
    for (const DriveRecord& r : spool_->query({}, &error)) {
      if (!insert(r, &error)) {
        drop();
        return;
      }
      if (!spool_->remove(r.id, &error)) debugPrintf("spooled record stays: %s", error.c_str());
    }
  }

  std::string url_;
  std::unique_ptr<RecordStore> spool_;
  std::mutex mutex_;
  PGconn* conn_ = nullptr;
  std::chrono::steady_clock::time_point retryAt_{};
};

}  // namespace

std::unique_ptr<RecordStore> OpenPostgresRecordStore(const std::string& url, const std::string& spoolPath) {
  return std::make_unique<PostgresRecordStore>(url, spoolPath);
}

}  // namespace qk
