#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/Locks.h"
#include "platform/ProgramFolder.h"
#include "support/TempDir.h"

using namespace qk;

TEST(VirtualClock, SleepsAdvanceTimeWithoutWaitingAndStopEndsThem) {
  VirtualClock clock;
  EXPECT_TRUE(clock.sleepFor(600000));  // a 10-minute wait takes no real time
  EXPECT_EQ(clock.nowMs(), 600000);
  std::stop_source stop;
  stop.request_stop();
  EXPECT_FALSE(clock.sleepFor(1000, stop.get_token()));
  EXPECT_EQ(clock.nowMs(), 600000);
}

TEST(VirtualClock, ThreadsSleepInParallel) {
  VirtualClock clock;
  clock.advance(1000);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&clock, i] {
      for (int k = 0; k < 10; ++k) clock.sleepFor(100 * (i + 1));
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(clock.nowMs(), 1000 + 8000);  // the longest sleeper, not the sum
  EXPECT_EQ(clock.totalSlept(), 100 * 10 * 36);
}

TEST(VirtualClock, LocalTimeFollowsVirtualTimeAcrossMidnight) {
  VirtualClock clock;
  clock.setLocalTime({2026, 12, 31, 23, 59, 59, 500, 4});
  clock.advance(600);
  LocalTime t = clock.localTime();
  EXPECT_EQ(t.year, 2027);
  EXPECT_EQ(t.month, 1);
  EXPECT_EQ(t.day, 1);
  EXPECT_EQ(t.second, 0);
  EXPECT_EQ(t.millisecond, 100);
}

TEST(RealClock, StopTokenInterruptsAWait) {
  RealClock clock;
  std::stop_source stop;
  std::thread t([&] { stop.request_stop(); });
  auto start = clock.nowMs();
  bool completed = clock.sleepFor(60000, stop.get_token());
  t.join();
  EXPECT_FALSE(completed);
  EXPECT_LT(clock.nowMs() - start, 30000);
}

TEST(ScaledClock, TimeoutsScaleButNeverVanish) {
  ScaledClock fast(0.01);
  EXPECT_EQ(fast.scaleTimeout(20000), 200);
  EXPECT_EQ(fast.scaleTimeout(10), 1);
  ScaledClock none(0.0);
  EXPECT_EQ(none.scaleTimeout(20000), 20000);  // fixed waits skipped, time-outs real
  EXPECT_TRUE(none.sleepFor(3600000));
}

TEST(ProgramFolder, ResolvesRelativeNamesAgainstTheFolder) {
  ProgramFolder f("/opt/qk");
  EXPECT_EQ(f.path(), "/opt/qk/");
  EXPECT_EQ(f.resolve("Flash.ini"), "/opt/qk/Flash.ini");
  EXPECT_EQ(f.resolve("/data/p.ini"), "/data/p.ini");
  EXPECT_EQ(f.resolve("c:\\QKSSD.img"), "c:\\QKSSD.img");
  EXPECT_EQ(bareFileName("/a/b\\c.ini"), "c.ini");
}

TEST(InstanceLock, SecondStationOfTheSameFolderIsRefusedOthersAreNot) {
  test::TempDir a, b;
  InstanceLock first("QKMP", a.path());
  ASSERT_TRUE(first.acquired());
  InstanceLock second("QKMP", a.path());
  EXPECT_FALSE(second.acquired());
  InstanceLock other("QKMP", b.path());
  EXPECT_TRUE(other.acquired());
}

TEST(NamedLock, IsRecursiveWithinAProcessAndExcludesOtherThreads) {
  test::TempDir dir;
  NamedLock lock("QKMPAcess", dir.path());
  int counter = 0;
  auto work = [&] {
    for (int i = 0; i < 1000; ++i) {
      lock.lock();
      lock.lock();
      ++counter;
      lock.unlock();
      lock.unlock();
    }
  };
  std::thread t1(work), t2(work);
  t1.join();
  t2.join();
  EXPECT_EQ(counter, 2000);
}

TEST(RemotePath, LocalFoldersAreNotRemote) {
  test::TempDir dir;
  EXPECT_FALSE(isRemotePath(dir.path()));
  EXPECT_FALSE(isRemotePath("/no/such/path"));
}
