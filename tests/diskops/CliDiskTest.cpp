// The disk commands of the CLI on a bench: outcome, failure record, refusals.
#include <gtest/gtest.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "sim/SampleData.h"
#include "support/RunCli.h"
#include "support/TempDir.h"

namespace {

struct CliDisk : ::testing::Test {
  qk::test::TempDir home;
  void SetUp() override {
    ASSERT_TRUE(qk::WriteSampleData(home.path()));
    home.write("QKMassProd.ini", "[Setting]\nDiskLabel=LINE 7\n");
    home.write("b.bench",
               "[Bench]\nTimeScale=0\n[Hub1]\nParent=root\nKind=usb3\nPorts=3\n"
               "[Drive1]\nAt=Hub1:1\nToken=k402\nFlash=WBG\nSectors=2097152\nStore=d1.img\n"
               "[Drive2]\nAt=Hub1:2\nToken=k402\nFlash=WBG\nSectors=8192\nFaultReadError=4100\nFaultWriteError=5000\n");
  }
  qk::test::CliResult cli(const std::string& args) { return qk::test::runCliIn(home.path(), "--bench b.bench " + args); }
};

}  // namespace

TEST_F(CliDisk, FormatThenCaptureThenCopyBack) {
  auto r = cli("--json format 1");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["passed"], true);
  EXPECT_EQ(j["volume"], "/dev/bench/Drive1p1");

  r = cli("capture cap.img");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("Dump 1MB image to " + home.file("cap.img") + " successfully"), std::string::npos) << r.err;

  r = cli("copy-image 2 cap.img");  // a write fails part way
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Port2: Fail\n  Copy Image Fail\n");
  r = cli("copy-image 1 cap.img");
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(cli("copy-image 1 nothing.img").exitCode, 2);
}

TEST_F(CliDisk, RwTestsPrintTheRecordInTheReportsWords) {
  auto r = cli("rwtest 2 --quick");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Port2: Fail\n  R/W Test Fail\n");
  r = cli("rwtest 2 --full");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Port2: Fail\n  Full R/W Test Fail\n  Write fail on LBA(4992)\n");
  r = cli("--json rwtest 1 --percent 5");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out)["passed"], true);
  EXPECT_EQ(cli("erase 1").out, "Port1: Pass\n");

  EXPECT_EQ(cli("rwtest 1").exitCode, 2);                  // no mode
  EXPECT_NE(cli("rwtest 1 --quick --full").exitCode, 0);  // two modes
  EXPECT_EQ(cli("erase 3").exitCode, 2);                   // an empty port
  EXPECT_EQ(cli("format 9").exitCode, 2);
}
