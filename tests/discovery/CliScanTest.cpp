#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <sys/wait.h>

#include "support/TempDir.h"

namespace {

struct CliRun {
  int code = -1;
  std::string out;
};

// Runs the CLI with its own program folder; stderr joins stdout after a marker line.
CliRun cli(const qk::test::TempDir& home, const std::string& args) {
  std::string cmd = std::string(QK_BIN_DIR) + "/qkstation-cli --home " + home.path() + " " + args + " 2>" +
                    home.file("stderr.txt");
  CliRun r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int status = pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string hubs(int ports) { return "[Hub1]\nParent=root\nKind=usb2\nPorts=" + std::to_string(ports) + "\n"; }

}  // namespace

TEST(CliScan, JsonListsEverySlotWithItsBinding) {
  qk::test::TempDir home;
  home.write("b.bench", hubs(4) + "[Drive1]\nAt=Hub1:2\nToken=R20X\nFlash=WBG\nSectors=4096000\n"
                                  "[Drive2]\nAt=Hub1:3\nToken=Q00Q\nFlash=WBG\n");
  home.write("QKMassProd.ini", "[Setting]\nConnectDevNum=1\n");
  CliRun r = cli(home, "--bench b.bench --json scan");
  ASSERT_EQ(r.code, 0) << home.read("stderr.txt");
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

  home.write("GDP.bin", "x");
  home.write("satatest.bin", "x");
  EXPECT_EQ(nlohmann::json::parse(cli(home, "--bench b.bench --json scan").out)["startEnabled"], true);
}

TEST(CliScan, RefusesMoreThanFiftySlotsAndBadBenchFiles) {
  qk::test::TempDir home;
  home.write("big.bench", hubs(51));
  CliRun r = cli(home, "--bench big.bench scan");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(home.read("stderr.txt"),
            "QK Station: Up to the limitation of total port number(50), Please remove the usb hub\n");
  home.write("bad.bench", "[Hub1]\nParent=nowhere\n");
  EXPECT_EQ(cli(home, "--bench bad.bench scan").code, 2);
}

TEST(CliScan, RemoveUnplugsTheActiveDrives) {
  qk::test::TempDir home;
  home.write("b.bench", hubs(2) + "[Drive1]\nAt=Hub1:1\nToken=k402\nFlash=WBG\n");
  CliRun r = cli(home, "--bench b.bench --json remove");
  ASSERT_EQ(r.code, 0) << home.read("stderr.txt");
  EXPECT_EQ(nlohmann::json::parse(r.out)["deviceCount"], 0);
}
