// `qkstation-cli probe PORT` on a bench: a healthy drive passes with its data
// put back, a drive that wraps fails with the report's lines and exit 1.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "sim/SampleData.h"
#include "support/RunCli.h"
#include "support/TempDir.h"

TEST(ProbeCli, HealthyPassesWrappingFailsWithReportAndEstimate) {
  qk::test::TempDir home;
  ASSERT_TRUE(qk::WriteSampleData(home.path()));
  home.write("b.bench",
             "[Bench]\nTimeScale=0\n[Hub1]\nParent=root\nKind=usb3\nPorts=3\n"
             "[Drive1]\nAt=Hub1:1\nToken=k402\nFlash=WBG\nSectors=2097152\nStore=d1.img\n"
             "[Drive2]\nAt=Hub1:2\nToken=k402\nFlash=WBG\nSectors=262144\nFaultAlias=bit:17\n");
  auto cli = [&](const std::string& args) { return qk::test::runCliIn(home.path(), "--bench b.bench " + args); };

  auto r = cli("--json probe 1");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["passed"], true);
  EXPECT_LE(j["bytesMoved"].get<std::uint64_t>(), 64u << 20);
  // Put back: the drive's file holds no stamp afterwards.
  EXPECT_EQ(home.read("d1.img").find("QKPROBE1"), std::string::npos);

  r = cli("probe 2");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Port2: Fail\n  Capacity Probe Fail\n  Stamp lost on LBA(131072)\n  expected(stamp of LBA 131072)\n"
                   "  received(stamp of LBA 0)\n  real capacity about 131072 sectors (64 MB)\n");
  r = cli("--json probe 2");
  EXPECT_EQ(nlohmann::json::parse(r.out)["record"]["estimateSectors"], 131072);
  EXPECT_EQ(cli("probe 3").exitCode, 2);  // no drive there
}
