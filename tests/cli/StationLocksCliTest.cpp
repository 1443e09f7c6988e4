// One profile, one log folder and one set of real drives belong to one station
// at a time; a second station that names any of them does not start.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "app/Station.h"
#include "platform/Locks.h"
#include "sim/SampleData.h"
#include "support/RecordingOperator.h"
#include "support/RunCli.h"
#include "support/TempDir.h"

using namespace qk;

namespace {

struct Folder {
  Folder() {
    EXPECT_TRUE(WriteSampleData(home.path()));
    home.write("b.bench", "[Hub1]\nParent=root\nKind=usb2\nPorts=2\n[Drive1]\nAt=Hub1:1\nToken=R20X\nFlash=WBG\n");
  }
  test::CliResult cli(const std::string& args) const { return test::runCliIn(home.path(), args); }
  test::TempDir home;
};

}  // namespace

TEST(StationLocks, ASecondStationOnTheSameProfileOrLogFolderEndsAtStartUp) {
  Folder a, b;
  test::RecordingOperator op;
  Station first(ProgramFolder(a.home.path()), op);
  ASSERT_EQ(first.startUp("", a.home.file("b.bench")), Station::StartResult::Ok);

  test::CliResult r = b.cli("--bench b.bench --profile " + a.home.file("QKMassProd.ini") + " scan");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("The profile " + a.home.file("QKMassProd.ini") + " is in use by another station."),
            std::string::npos)
      << r.err;

  b.home.write("QKMassProd.ini", "[Setting]\nLogPath=" + a.home.file("log/") + "\n");
  r = b.cli("--bench b.bench scan");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("The log folder " + a.home.file("log/") + " is in use by another station."),
            std::string::npos)
      << r.err;

  // Nor is an old copy of the profile saved over the running station's.
  const std::string before = a.home.read("QKMassProd.ini");
  r = b.cli("profile save " + a.home.file("QKMassProd.ini"));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("is in use by another station"), std::string::npos) << r.err;
  EXPECT_EQ(a.home.read("QKMassProd.ini"), before);

  // Its own profile and log folder: the second station runs beside the first.
  b.home.write("QKMassProd.ini", "");
  r = b.cli("--bench b.bench scan");
  EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST(StationLocks, RealDrivesAreDrivenByOneStationPerMachine) {
  Folder a;
  InstanceLock other("QKMP", "/another/program/folder", true);
  ASSERT_TRUE(other.acquired());
  // Every user's stations meet at this file: one made by root must still open for an operator.
  struct stat st {};
  ASSERT_EQ(::stat((machineLockFolder() + "/QKMP.lock").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0666, 0666u);
  test::CliResult r = a.cli("scan");
  EXPECT_EQ(r.exitCode, 1);
  // A bench is the station's own: stations of other folders don't matter.
  EXPECT_EQ(a.cli("--bench b.bench scan").exitCode, 0);
}

TEST(StationLocks, ADeviceNodeIsHeldByOneHolderAtATime) {
  test::TempDir dir;
  dir.write("sdx", "");
  auto first = PathLock::deviceNode(dir.file("sdx"));
  ASSERT_TRUE(first->acquired());
  auto second = PathLock::deviceNode(dir.file("sdx"));
  EXPECT_FALSE(second->acquired());
  EXPECT_TRUE(second->busy());
  first.reset();
  EXPECT_TRUE(PathLock::deviceNode(dir.file("sdx"))->acquired());
  // A bench drive has no node: nothing to hold, nothing in the way.
  auto none = PathLock::deviceNode(dir.file("no-such-node"));
  EXPECT_FALSE(none->acquired());
  EXPECT_FALSE(none->busy());
}
