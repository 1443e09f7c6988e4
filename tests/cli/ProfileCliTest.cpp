#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "config/IniFile.h"
#include "config/Profile.h"
#include "platform/Locks.h"
#include "support/ProfileFixtures.h"
#include "support/RunCli.h"
#include "support/TempDir.h"

using qk::test::runCli;
using qk::test::TempDir;

TEST(ProfileCli, ShowPrintsEveryFieldAsJson) {
  TempDir home;
  qk::test::writeMinimalFlashList(home);
  home.write("QKMassProd.ini", "[Setting]\nTimeOut=3\n[DeviceSetting]\nSerialNum=AB12\n");
  auto r = runCli({"--home", home.path(), "--json", "profile", "show"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["TimeOut"], 180000);
  EXPECT_EQ(j["SerialNum"], "AB12");
  EXPECT_EQ(j["TestItemEnabled"].size(), 25u);
  EXPECT_EQ(j["TestItemEnabled"][1], 1);
  EXPECT_EQ(j["IniFilePath"], home.file("QKMassProd.ini"));
  EXPECT_EQ(j["LogPath"], home.path() + "log/");
  EXPECT_TRUE(j.contains("SpecialMode"));
  EXPECT_TRUE(j.contains("KeepPreviouseEraseCount"));
}

TEST(ProfileCli, MissingProfileWarnsOnStderrAndSaveCreatesIt) {
  TempDir home;
  qk::test::writeMinimalFlashList(home);
  auto r = runCli({"--home", home.path(), "profile", "save"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("Error: The " + home.file("QKMassProd.ini") + " file cann't be found"), std::string::npos);
  EXPECT_EQ(qk::readIniInt(home.file("QKMassProd.ini"), "Setting", "TimeOut", 0), 10);
  // Saving to another file leaves the default profile alone.
  auto other = runCli({"--home", home.path(), "profile", "save", "other.ini"});
  ASSERT_EQ(other.exitCode, 0) << other.err;
  EXPECT_EQ(qk::readIniString(home.file("other.ini"), "FlashSetting", "FlashUniName", ""), "WBG");
}

TEST(ProfileCli, FailedLoadExitsOne) {
  TempDir home;
  home.write("QKMassProd.ini", "[FlashSetting]\nExtFlashFile=Missing.ini\n");
  auto r = runCli({"--home", home.path(), "profile", "show"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Error: Please make sure the flash file Missing.ini format correct!"), std::string::npos);
}

TEST(ProfileCli, SecondStationOnTheSameFolderEndsSilently) {
  TempDir home;
  qk::test::writeMinimalFlashList(home);
  qk::InstanceLock running("QKMP", home.path());
  ASSERT_TRUE(running.acquired());
  auto r = runCli({"--home", home.path(), "profile", "show"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(ProfileCli, BadUsageIsRefused) {
  EXPECT_EQ(runCli({"profile", "frobnicate"}).exitCode, 2);
  EXPECT_EQ(runCli({"--no-such-option"}).exitCode, 2);
}
