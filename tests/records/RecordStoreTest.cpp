// The embedded record store: what goes in comes out, filtered and counted,
// and a process killed at any moment never loses a record already written.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "records/RecordStore.h"
#include "support/TempDir.h"

using namespace qk;

namespace {

DriveRecord record(const std::string& serial, const std::string& verdict, const std::string& end,
                   const std::string& flash = "WBG", int code = 0) {
  DriveRecord r;
  r.station = "line-a";
  r.slot = 1;
  r.serial = serial;
  r.verdict = verdict;
  r.resultCode = code;
  r.startTime = end;
  r.endTime = end;
  r.flashType = flash;
  r.stepStatus = "1,1";
  return r;
}

std::vector<std::string> serialsOf(const std::vector<DriveRecord>& records) {
  std::vector<std::string> out;
  for (const auto& r : records) out.push_back(r.serial);
  return out;
}

}  // namespace

TEST(RecordStore, FiltersAndYieldGroups) {
  test::TempDir dir;
  auto store = OpenSqliteRecordStore(dir.file("records.db"));
  std::string error;
  ASSERT_TRUE(store->check(&error)) << error;
  DriveRecord first = record("S1", "Pass", "2026-12-07 23:59:59");
  first.badEarly = 7;  // absent and zero are different answers
  first.failureText = "a, \"quoted\" text";
  ASSERT_TRUE(store->write(first, &error)) << error;
  ASSERT_TRUE(store->write(record("S2", "Fail", "2026-12-08 00:00:00", "WBG", 5), &error));
  ASSERT_TRUE(store->write(record("S3", "Pass", "2026-12-08 10:00:00", "TSX"), &error));
  ASSERT_TRUE(store->write(record("S2", "Pass", "2026-12-08 11:00:00", "WBG"), &error));

  auto all = store->query({}, &error);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0].badEarly, 7);
  EXPECT_EQ(all[0].badLater, std::nullopt);
  EXPECT_EQ(all[0].failureText, first.failureText);

  RecordFilter bySerial;
  bySerial.serial = "S2";
  EXPECT_EQ(serialsOf(store->query(bySerial, &error)), (std::vector<std::string>{"S2", "S2"}));
  RecordFilter since;
  since.since = "2026-12-08";
  EXPECT_EQ(serialsOf(store->query(since, &error)), (std::vector<std::string>{"S2", "S3", "S2"}));
  since.verdict = "Fail";
  EXPECT_EQ(serialsOf(store->query(since, &error)), (std::vector<std::string>{"S2"}));

  auto st = store->stats(&error);
  ASSERT_TRUE(st) << error;
  ASSERT_EQ(st->perDay.size(), 2u);
  EXPECT_EQ(st->perDay[0].key, "2026-12-07");
  EXPECT_EQ(st->perDay[1].pass, 2);
  EXPECT_EQ(st->perDay[1].fail, 1);
  ASSERT_EQ(st->perResultCode.size(), 2u);
  EXPECT_EQ(st->perResultCode[1].key, "5");
  ASSERT_EQ(st->perFlashType.size(), 2u);
  EXPECT_EQ(st->perFlashType[0].key, "TSX");
}

TEST(RecordStore, RefusesWhatItCannotWrite) {
  test::TempDir dir;
  std::string error;
  // A folder where the file should be, and a folder that is not there.
  std::filesystem::create_directory(dir.file("records.db"));
  EXPECT_FALSE(OpenSqliteRecordStore(dir.file("records.db"))->check(&error));
  EXPECT_NE(error.find("records.db"), std::string::npos);
  EXPECT_FALSE(OpenSqliteRecordStore(dir.file("missing/records.db"))->check(&error));

  // A database of a newer station is left alone rather than written in a form it does not know.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.file("newer.db").c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  auto newer = OpenSqliteRecordStore(dir.file("newer.db"));
  EXPECT_FALSE(newer->check(&error));
  EXPECT_FALSE(newer->write(record("S1", "Pass", "2026-12-08 00:00:00"), &error));
}

// A station killed with -9 while it writes: every record it reported written
// is there, at most the one under way is missing, and the file is sound.
TEST(RecordStore, KillNineLosesNoWrittenRecord) {
  test::TempDir dir;
  const std::string path = dir.file("records.db");
  ASSERT_TRUE(OpenSqliteRecordStore(path)->check(nullptr));
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(fds[0]);
    auto store = OpenSqliteRecordStore(path);
    for (int i = 0;; ++i) {
      if (!store->write(record("K" + std::to_string(i), "Pass", "2026-12-08 00:00:00"), nullptr)) _exit(3);
      if (write(fds[1], &i, sizeof i) != sizeof i) _exit(4);
    }
  }
  close(fds[1]);
  int acked = -1;
  for (;;) {
    pollfd p{fds[0], POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 30000), 1) << "the writer went silent";
    int i = 0;
    ASSERT_EQ(read(fds[0], &i, sizeof i), static_cast<ssize_t>(sizeof i)) << "the writer ended by itself";
    acked = i;
    if (acked >= 40) break;
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  close(fds[0]);
  ASSERT_TRUE(WIFSIGNALED(status));

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");
  sqlite3_finalize(st);
  sqlite3_close(db);

  std::string error;
  auto records = OpenSqliteRecordStore(path)->query({}, &error);
  std::set<std::string> serials;
  for (const auto& r : records) serials.insert(r.serial);
  for (int i = 0; i <= acked; ++i) EXPECT_TRUE(serials.count("K" + std::to_string(i))) << i;
  // Only whole records: the ones reported, and those written after the last report was read.
  EXPECT_EQ(serials.size(), records.size());
  for (std::size_t i = 0; i < records.size(); ++i) EXPECT_EQ(records[i].serial, "K" + std::to_string(i));
}

// A record written again under its key is the same record with more known: it
// keeps its place. In the spool (a queue) it goes to the end, after the old row.
TEST(RecordStore, ARecordRewrittenUnderItsKeyIsStoredOnce) {
  test::TempDir dir;
  for (bool queue : {false, true}) {
    auto store = OpenSqliteRecordStore(dir.file(queue ? "spool.db" : "records.db"), queue);
    std::string error;
    DriveRecord a = record("A", "Fail", "2026-12-08 10:00:00");
    a.key = "key-a";
    DriveRecord b = record("B", "Pass", "2026-12-08 10:00:01");
    b.key = "key-b";
    ASSERT_TRUE(store->write(a, &error)) << error;
    ASSERT_TRUE(store->write(b, &error)) << error;
    a.failureReport = "/log/Error_202612081000_01_A.txt";
    ASSERT_TRUE(store->write(a, &error)) << error;
    // Records without a key (written before keys were kept) are never merged.
    ASSERT_TRUE(store->write(record("C", "Pass", "2026-12-08 10:00:02"), &error)) << error;
    ASSERT_TRUE(store->write(record("C", "Pass", "2026-12-08 10:00:02"), &error)) << error;

    auto all = store->query({}, &error);
    EXPECT_EQ(serialsOf(all), queue ? (std::vector<std::string>{"B", "A", "C", "C"})
                                    : (std::vector<std::string>{"A", "B", "C", "C"}))
        << (queue ? "queue" : "store");
    for (const auto& r : all) {
      if (r.serial == "A") {
        EXPECT_EQ(r.failureReport, a.failureReport);
      }
    }
  }
}

// A records.db of the previous station version (keys not yet unique) opens,
// keeps its records and takes new ones.
TEST(RecordStore, AnEarlierSchemaIsUpgradedInPlace) {
  test::TempDir dir;
  const std::string path = dir.file("records.db");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const char* v1 = R"(
CREATE TABLE drive_record (
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
CREATE INDEX drive_record_serial ON drive_record(serial);
CREATE INDEX drive_record_end ON drive_record(end_time);
PRAGMA user_version=1;
)";
  ASSERT_EQ(sqlite3_exec(db, v1, nullptr, nullptr, nullptr), SQLITE_OK);
  // Two old records without a key, and one spooled twice under the same key.
  for (const char* row : {"('O1', '')", "('O2', '')", "('O3', 'k3')", "('O3', 'k3')"}) {
    const std::string sql =
        std::string("INSERT INTO drive_record (station, slot, verdict, result_code, shown_code, short_code, "
                    "failure_text, start_time, end_time, profile_file, profile_hash, firmware_files, "
                    "firmware_versions, flash_type, flash_ids, channel, bank, temperature, capacity_mb, step_status, "
                    "run_log, failure_report, serial, record_key) VALUES ('old', 1, 'Pass', 0, 0, '', '', "
                    "'2026-12-01 08:00:00', '2026-12-01 08:00:00', '', '', '', '', 'WBG', '', 0, 0, 0, 0, '', '', '', ") +
        std::string(row).substr(1);
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  }
  sqlite3_close(db);

  auto store = OpenSqliteRecordStore(path);
  std::string error;
  ASSERT_TRUE(store->check(&error)) << error;
  DriveRecord n = record("N1", "Pass", "2026-12-08 10:00:00");
  n.key = "k3";  // the same key as the old duplicate: the store now holds one record per key
  ASSERT_TRUE(store->write(n, &error)) << error;
  EXPECT_EQ(serialsOf(store->query({}, &error)), (std::vector<std::string>{"O1", "O2", "N1"})) << error;
}

// Drives that end together share commits: every writer gets its own answer
// and every record is there once.
TEST(RecordStore, WritersEndingTogetherAreAllStored) {
  test::TempDir dir;
  auto store = OpenSqliteRecordStore(dir.file("records.db"));
  ASSERT_TRUE(store->check(nullptr));
  constexpr int kDrives = 40;
  std::atomic<int> waiting{kDrives}, stored{0};
  {
    std::vector<std::jthread> drives;
    for (int d = 0; d < kDrives; ++d) {
      drives.emplace_back([&, d] {
        DriveRecord r = record("T" + std::to_string(d), "Pass", "2026-12-08 10:00:00");
        r.key = "key-" + std::to_string(d);
        --waiting;
        while (waiting > 0) std::this_thread::yield();
        std::string error;
        if (store->write(r, &error)) ++stored;
      });
    }
  }
  EXPECT_EQ(stored, kDrives);
  std::set<std::string> serials;
  for (const auto& r : store->query({}, nullptr)) EXPECT_TRUE(serials.insert(r.serial).second) << r.serial;
  EXPECT_EQ(serials.size(), static_cast<std::size_t>(kDrives));
}
