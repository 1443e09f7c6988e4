#include <gtest/gtest.h>

#include <cstdio>

#include <nlohmann/json.hpp>

#include "sim/SampleData.h"
#include "support/RunCli.h"
#include "support/TempDir.h"

namespace {

using CliRun = qk::test::CliResult;

CliRun cli(const qk::test::TempDir& home, const std::string& args) { return qk::test::runCliIn(home.path(), args); }

std::string hubs(int ports) { return "[Hub1]\nParent=root\nKind=usb2\nPorts=" + std::to_string(ports) + "\n"; }

}  // namespace

TEST(CliScan, JsonListsEverySlotWithItsBinding) {
  qk::test::TempDir home;
  ASSERT_TRUE(qk::WriteSampleData(home.path()));  // flash list, images, default profile
  home.write("b.bench", hubs(4) + "[Drive1]\nAt=Hub1:2\nToken=R20X\nFlash=WBG\nSectors=4096000\n"
                                  "[Drive2]\nAt=Hub1:3\nToken=Q00Q\nFlash=WBG\n");
  home.write("QKMassProd.ini", "[Setting]\nConnectDevNum=1\n");
  std::remove(home.file("GDP.bin").c_str());
  std::remove(home.file("satatest.bin").c_str());
  CliRun r = cli(home, "--bench b.bench --json scan");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["slotCount"], 4);
  EXPECT_EQ(j["deviceCount"], 1);
  EXPECT_EQ(j["configuredCount"], 2);
  EXPECT_EQ(j["startEnabled"], false);  // the program images are not in this folder
  EXPECT_EQ(j["transportPath"], "usb");
  EXPECT_EQ(j["caption"], "Talvery 205 USB M.P. Tool A.1.0.8 S/U ");
  ASSERT_EQ(j["ports"].size(), 4u);
  const auto& p = j["ports"][1];
  EXPECT_EQ(p["slot"], 2);
  EXPECT_EQ(p["configured"], 1);
  EXPECT_EQ(p["active"], 1);
  EXPECT_EQ(p["bridgeCode"], 10);
  EXPECT_EQ(p["pathKind"], 0);
  EXPECT_EQ(p["locationKey"], "usb\\vid_1234&pid_5678\\drive1");
  EXPECT_EQ(p["devicePath"], "/dev/bench/Drive1");
  EXPECT_EQ(p["capacityMB"], 2000);
  EXPECT_EQ(p["serialNumber"], "");
  EXPECT_EQ(j["ports"][2]["active"], 0);

  ASSERT_TRUE(qk::WriteSampleData(home.path()));
  EXPECT_EQ(nlohmann::json::parse(cli(home, "--bench b.bench --json scan").out)["startEnabled"], true);
}

TEST(CliScan, RefusesMoreThanFiftySlotsAndBadBenchFiles) {
  qk::test::TempDir home;
  ASSERT_TRUE(qk::WriteSampleData(home.path()));  // flash list, images, default profile
  home.write("big.bench", hubs(51));
  CliRun r = cli(home, "--bench big.bench scan");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err,
            "QK Station: Up to the limitation of total port number(50), Please remove the usb hub\n");
  home.write("bad.bench", "[Hub1]\nParent=nowhere\n");
  EXPECT_EQ(cli(home, "--bench bad.bench scan").exitCode, 2);
}

TEST(CliScan, RemoveUnplugsTheActiveDrives) {
  qk::test::TempDir home;
  ASSERT_TRUE(qk::WriteSampleData(home.path()));  // flash list, images, default profile
  home.write("b.bench", hubs(2) + "[Drive1]\nAt=Hub1:1\nToken=k402\nFlash=WBG\n");
  CliRun r = cli(home, "--bench b.bench --json remove");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out)["deviceCount"], 0);
}
