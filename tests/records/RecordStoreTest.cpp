// The embedded record store: what goes in comes out, filtered and counted,
// and a process killed at any moment never loses a record already written.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

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
