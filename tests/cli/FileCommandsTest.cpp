// The files, keyfile and decode-name commands, run as the operator runs them.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/Locks.h"
#include "sim/SampleData.h"
#include "support/RunCli.h"
#include "support/TempDir.h"

using qk::test::TempDir;

namespace {

using CliRun = qk::test::CliResult;

CliRun runCli(const TempDir& home, const std::string& args) { return qk::test::runCliIn(home.path(), args); }

class FileCommands : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(qk::WriteSampleData(home.path())); }
  TempDir home;
};

}  // namespace

TEST_F(FileCommands, SampleFolderChecksOut) {
  CliRun r = runCli(home, "--json files");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["SataVersion"], "100205");
  EXPECT_EQ(j["UsbVersion"], "");
  EXPECT_EQ(j["Family"], "21");
  EXPECT_EQ(j["GdpVersion"], qk::kSampleGdpVersion);
  EXPECT_EQ(j["SatatestVersion"], qk::kSampleTestVersion);
  EXPECT_EQ(j["ProgramImagesPresent"], true);
  EXPECT_EQ(j["StatusText"], "SYS_S.bin (100205)");
  EXPECT_EQ(j["Caption"], "Talvery 205 SATA M.P. Tool A.1.0.8 S/U ");

  r = runCli(home, "files");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("SYS_S.bin (100205)"), std::string::npos) << r.out;
}

TEST_F(FileCommands, ProfileSelectsTheImagesAndMissingOnesFail) {
  home.write("QKMassProd.ini", "[TestItems]\nDownloadType=2\n");
  std::remove(home.file("SYS_U.bin").c_str());
  CliRun r = runCli(home, "--json files");
  EXPECT_EQ(r.exitCode, 1);
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["StatusText"], "SYS_U.bin");
  EXPECT_EQ(j["SataVersion"], "");

  // A profile named with --profile is the one read.
  home.write("other.ini", "[TestItems]\nDownloadType=1\n");
  r = runCli(home, "--profile other.ini --json files");
  EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST_F(FileCommands, CorruptAndMissingFilesAreReportedOnStderr) {
  std::string image = home.read("SYS_S.bin");
  image[5000] ^= 1;
  home.write("SYS_S.bin", image);
  std::remove(home.file("GDP.bin").c_str());
  CliRun r = runCli(home, "--json files");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("QK Station: <WARNING> Can't find file : " + home.file("GDP.bin") + "\n"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("QK Station: The " + home.file("SYS_S.bin") + " is a corrupt file, please check it.\n"),
            std::string::npos)
      << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["ProgramImagesPresent"], false);
  EXPECT_EQ(j["SataImage"], "corrupt");
}

TEST_F(FileCommands, SecondStationOnTheSameFolderIsRefusedSilently) {
  qk::InstanceLock held("QKMP", home.path());
  ASSERT_TRUE(held.acquired());
  for (const char* cmd : {"files", "keyfile"}) {
    CliRun r = runCli(home, cmd);
    EXPECT_EQ(r.exitCode, 1) << cmd;
    EXPECT_EQ(r.out + r.err, "") << cmd;
  }
  EXPECT_EQ(runCli(home, "decode-name").exitCode, 0);  // touches no file
}

TEST_F(FileCommands, KeyFileTakesTheStringFromTheOptionOrTheProfile) {
  auto stringBytes = [&](size_t count) {
    std::string data = home.read("KeyFile.dat");
    std::string s;
    for (size_t p = 0; p < count; ++p) s += static_cast<char>(((static_cast<unsigned char>(data[20 + 2 * p]) ^ 0xFF) - p) & 0xFF);
    return s;
  };
  CliRun r = runCli(home, "keyfile");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "QK Station: Generate the key file (" + home.file("KeyFile.dat") + ") successfully\n");
  EXPECT_EQ(home.read("KeyFile.dat").size(), 128u);
  EXPECT_EQ(stringBytes(8), std::string("Pelvane\0", 8));

  home.write("QKMassProd.ini", "[DeviceSetting]\nEncryptionString=Zed42\n");
  EXPECT_EQ(runCli(home, "keyfile").exitCode, 0);
  EXPECT_EQ(stringBytes(6), std::string("Zed42\0", 6));

  EXPECT_EQ(qk::test::runCli({"--home", home.path(), "keyfile", "--string", "a b"}).exitCode, 0);
  EXPECT_EQ(stringBytes(4), std::string("a b\0", 4));
}

TEST_F(FileCommands, DecodeNamePrintsTheTable) {
  CliRun r = runCli(home, "decode-name");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out,
            "Block Unit:1024\nBlock Page:128\nPage Size: 4K\nDie: 1\nDieoffset?: 0\nChannel:   8\nBank:      1\n");
  EXPECT_EQ(runCli(home, "decode-name SYS_SWFB.bin").out.substr(0, 16), "Block Unit:2048\n");
}
