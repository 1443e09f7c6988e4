#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <stop_token>
#include <thread>

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

// The line database's records, read back.
std::vector<DriveRecord> RecordsOf(const Result& res) {
  std::vector<DriveRecord> out;
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

std::string ErrorOf(const std::string& url, PGconn* conn) {
  std::string msg = conn ? PQerrorMessage(conn) : "no connection";
  while (!msg.empty() && (msg.back() == '\n' || msg.back() == ' ')) msg.pop_back();
  return "the record database " + url + ": " + msg;
}

// A connection with the schema in place; null with the reason when there is none.
PGconn* ConnectLine(const std::string& url, std::string* error) {
  // An unreachable server answers within seconds, not the system's minutes, and
  // one that vanishes mid-command lets go within seconds too.
  const char* keys[] = {"dbname", "connect_timeout", "keepalives_idle", "keepalives_interval", "keepalives_count",
                        "tcp_user_timeout", nullptr};
  const char* values[] = {url.c_str(), "3", "5", "2", "2", "10000", nullptr};
  PGconn* conn = PQconnectdbParams(keys, values, 1);
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    PQfinish(conn);
    return nullptr;
  };
  if (PQstatus(conn) != CONNECTION_OK) return fail(ErrorOf(url, conn));
  Result(PQexec(conn, "SET client_min_messages = warning"));
  bool ok = Result(PQexec(conn, "BEGIN")).ok() && Result(PQexec(conn, kSchemaLock)).ok() &&
            Result(PQexec(conn, kSchema)).ok();
  int version = -1;
  if (ok) {
    Result res(PQexec(conn, "SELECT max(version) FROM qk_schema"));
    ok = res.ok();
    version = ok && !res.null(0, 0) ? static_cast<int>(res.integer(0, 0)) : 0;
  }
  if (ok && version > kSchemaVersion) {
    return fail("the record database " + url + " was written by a newer station (schema " +
                std::to_string(version) + ")");
  }
  if (ok && version == 0) {
    ok = Result(PQexec(conn, ("INSERT INTO qk_schema VALUES (" + std::to_string(kSchemaVersion) + ")").c_str())).ok();
  }
  if (ok) ok = Result(PQexec(conn, "COMMIT")).ok();
  if (!ok) return fail(ErrorOf(url, conn));
  return conn;
}

// One record into the line database. A record sent again (an answer lost, or
// rewritten with its failure report) is the same record: its newest version stands.
bool Upsert(PGconn* conn, const DriveRecord& r) {
  auto opt = [](const std::optional<int>& v) { return v ? std::to_string(*v) : std::string(); };
  const std::vector<std::string> v = {r.station, std::to_string(r.slot), r.serial, r.verdict,
                                      std::to_string(r.resultCode), std::to_string(r.shownCode), r.shortCode,
                                      r.failureText, r.startTime, r.endTime, r.profileFile, r.profileHash,
                                      r.firmwareFiles, r.firmwareVersions, r.flashType, r.flashIds,
                                      std::to_string(r.channel), std::to_string(r.bank), opt(r.badEarly),
                                      opt(r.badLater), r.badBlocks, std::to_string(r.temperature),
                                      std::to_string(r.capacityMB), r.stepStatus, r.runLog, r.failureReport, r.key};
  std::vector<const char*> params;
  for (const auto& s : v) params.push_back(s.c_str());
  params[18] = r.badEarly ? params[18] : nullptr;
  params[19] = r.badLater ? params[19] : nullptr;
  static const std::string sql = [] {
    const std::string cols = kColumns;
    std::string values, update;
    int n = 0;
    for (std::size_t at = 0; at < cols.size();) {
      std::size_t end = cols.find(',', at);
      if (end == std::string::npos) end = cols.size();
      std::string name = cols.substr(at, end - at);
      name.erase(0, name.find_first_not_of(' '));
      ++n;
      values += (n > 1 ? ",$" : "$") + std::to_string(n);
      if (name != "record_key") update += (update.empty() ? "" : ", ") + name + " = EXCLUDED." + name;
      at = end + 1;
    }
    return "INSERT INTO drive_record (" + cols + ") VALUES (" + values + ") ON CONFLICT (record_key) DO UPDATE SET " +
           update;
  }();
  return Result(PQexecParams(conn, sql.c_str(), static_cast<int>(params.size()), nullptr, params.data(), nullptr,
                             nullptr, 0))
      .ok();
}

// Yield rows with the pending records added; keys in the order the database gives them.
void AddYield(std::vector<YieldRow>& rows, const std::string& key, bool pass, bool numeric) {
  auto less = [numeric](const std::string& a, const std::string& b) {
    return numeric ? std::stoll(a) < std::stoll(b) : a < b;
  };
  auto at = std::find_if(rows.begin(), rows.end(), [&](const YieldRow& y) { return !less(y.key, key); });
  if (at == rows.end() || at->key != key) at = rows.insert(at, YieldRow{key, 0, 0});
  ++(pass ? at->pass : at->fail);
}

class PostgresRecordStore : public RecordStore {
 public:
  PostgresRecordStore(std::string url, std::string spoolPath)
      : url_(std::move(url)), spoolPath_(std::move(spoolPath)), spool_(OpenSqliteRecordStore(spoolPath_, true)) {}
  ~PostgresRecordStore() override {
    // The sender makes its last attempt and leaves before the spool goes.
    if (sender_.joinable()) {
      sender_.request_stop();
      sender_.join();
    }
    if (conn_) PQfinish(conn_);
  }

  bool check(std::string* error) override {
    std::lock_guard lock(mutex_);
    if (!connect(error)) return false;
    // Nothing starts before the local spool is writable too: it is where records wait.
    if (!spool_->check(error)) return false;
    wakeSender(true);  // what waited goes now, not at the next retry
    return true;
  }

  // The record is stored once it is in the spool, a local file: a drive never
  // waits for the network. The sender takes it to the line database.
  bool write(const DriveRecord& record, std::string* error) override {
    DriveRecord r = record;
    if (r.key.empty()) r.key = NewRecordKey();
    if (!spool_->write(r, error)) return false;
    wakeSender(false);
    return true;
  }

  // The line database's records and those still waiting in the spool (marked
  // pending). With the database away, the pending ones and the reason.
  std::vector<DriveRecord> query(const RecordFilter& f, std::string* error) override {
    std::lock_guard lock(mutex_);
    std::vector<DriveRecord> out;
    std::string why;
    if (connect(&why)) {
      std::string sql = std::string("SELECT id, ") + kColumns + " FROM drive_record WHERE true";
      std::vector<std::string> values;
      if (f.serial) values.push_back(*f.serial), sql += " AND serial = $" + std::to_string(values.size());
      if (f.since) values.push_back(*f.since), sql += " AND end_time >= $" + std::to_string(values.size());
      if (f.verdict) values.push_back(*f.verdict), sql += " AND verdict = $" + std::to_string(values.size());
      sql += " ORDER BY id";
      Result res(exec(sql, values));
      if (res.ok()) {
        out = RecordsOf(res);
      } else {
        fail(&why);
      }
    }
    for (DriveRecord& p : pending(f)) {
      auto same = std::find_if(out.begin(), out.end(), [&](const DriveRecord& r) { return r.key == p.key; });
      if (same != out.end()) {
        *same = std::move(p);
      } else {
        out.push_back(std::move(p));
      }
    }
    if (!why.empty() && error) *error = why;
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
    // Records not yet sent count too, once.
    for (const DriveRecord& p : pending({})) {
      Result res(exec("SELECT 1 FROM drive_record WHERE record_key = $1", {p.key}));
      if (!res.ok()) {
        fail(error);
        return std::nullopt;
      }
      if (res.rows()) continue;
      const bool pass = p.verdict == "Pass";
      AddYield(s.perDay, p.endTime.substr(0, 10), pass, false);
      AddYield(s.perResultCode, std::to_string(p.resultCode), pass, true);
      AddYield(s.perFlashType, p.flashType, pass, false);
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
    if (error) *error = ErrorOf(url_, conn_);
    return false;
  }

  void drop() {
    if (conn_) PQfinish(conn_);
    conn_ = nullptr;
  }

  bool connect(std::string* error) {
    // A server restarted since the last call leaves a connection that looks
    // fine until it is used: one round trip tells.
    if (conn_ && PQstatus(conn_) == CONNECTION_OK && Result(PQexec(conn_, "SELECT 1")).ok()) return true;
    drop();
    conn_ = ConnectLine(url_, error);
    return conn_ != nullptr;
  }

  // The spool's records matching `f`; none when this station never kept one.
  std::vector<DriveRecord> pending(const RecordFilter& f) {
    std::vector<DriveRecord> out;
    std::error_code ec;
    if (spoolPath_.empty() || !std::filesystem::exists(spoolPath_, ec)) return out;
    std::string error;
    out = spool_->query(f, &error);
    if (!error.empty()) debugPrintf("the spool cannot be read: %s", error.c_str());
    for (auto& r : out) r.pending = true;
    return out;
  }

  void wakeSender(bool now) {
    std::lock_guard lock(sendMutex_);
    due_ = true;
    if (now) retryNow_ = true;
    if (!sender_.joinable()) sender_ = std::jthread([this](std::stop_token stop) { sendLoop(stop); });
    wake_.notify_all();
  }

  // The background sender: it owns its own connection, so a database that is
  // away delays no drive, no START and no display, only the records' arrival.
  void sendLoop(std::stop_token stop) {
    PGconn* conn = nullptr;
    auto retryAt = std::chrono::steady_clock::time_point{};
    bool behind = false;  // records left in the spool after the last attempt
    std::unique_lock lock(sendMutex_);
    for (;;) {
      if (!due_) {
        if (behind) {
          wake_.wait_until(lock, stop, retryAt, [this] { return due_; });
        } else {
          wake_.wait(lock, stop, [this] { return due_; });
        }
      }
      // On the way out one last attempt: the run's last records usually go with it.
      const bool last = stop.stop_requested();
      if (retryNow_) retryAt = {};
      due_ = retryNow_ = false;
      lock.unlock();
      behind = !send(conn, retryAt);
      lock.lock();
      if (last) break;
    }
    if (conn) PQfinish(conn);
  }

  // Oldest first; each record leaves the spool only once the database has it.
  // False when records are left.
  bool send(PGconn*& conn, std::chrono::steady_clock::time_point& retryAt) {
    if (conn && PQstatus(conn) != CONNECTION_OK) PQfinish(conn), conn = nullptr;
    const auto now = std::chrono::steady_clock::now();
    // While the database is away the spool is not even read: records only pile up.
    if (!conn && now < retryAt) return false;
    std::string error;
    const std::vector<DriveRecord> records = spool_->query({}, &error);
    if (!error.empty()) debugPrintf("the spool cannot be read: %s", error.c_str());
    if (records.empty()) return error.empty();
    if (!conn) {
      conn = ConnectLine(url_, &error);
      if (!conn) {
        debugPrintf("%zu record(s) kept locally: %s", records.size(), error.c_str());
        retryAt = now + kRetryAfter;
        return false;
      }
    }
    for (const DriveRecord& r : records) {
      if (!Upsert(conn, r)) {
        debugPrintf("%zu record(s) kept locally: %s", records.size(), ErrorOf(url_, conn).c_str());
        PQfinish(conn);
        conn = nullptr;
        retryAt = now + kRetryAfter;
        return false;
      }
      if (!spool_->remove(r.id, &error)) debugPrintf("spooled record stays: %s", error.c_str());
    }
    return true;
  }

  std::string url_;
  std::string spoolPath_;
  std::unique_ptr<RecordStore> spool_;
  std::mutex mutex_;  // the connection below: START, queries, serials
  PGconn* conn_ = nullptr;
  std::mutex sendMutex_;
  std::condition_variable_any wake_;
  bool due_ = false;       // guarded by sendMutex_: records to send
  bool retryNow_ = false;  // guarded by sendMutex_: the database answered again
  std::jthread sender_;
};

}  // namespace

std::unique_ptr<RecordStore> OpenPostgresRecordStore(const std::string& url, const std::string& spoolPath) {
  return std::make_unique<PostgresRecordStore>(url, spoolPath);
}

}  // namespace qk
