// A run that is stopped or killed, and input that is hostile, never cost the
// line its records: the log, the counters and the profile stay whole.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <regex>

#include <nlohmann/json.hpp>

#include "config/IniFile.h"
#include "config/Profile.h"
#include "platform/BoundedRead.h"
#include "sim/SampleData.h"
#include "support/RunCli.h"
#include "support/TempDir.h"

using namespace qk;

namespace {

const char* kProfile =
    "[Setting]\nTimeOut=10\n[TestItems]\nEnFlashModule=1\nEnSataTest=1\nEnFlashTest=1\nEnPreFormat=1\n"
    "EnDownload=1\nDownloadType=1\nEnRWTest=1\n[DeviceSetting]\nSerialNum=QK2612080001\nSNAutoInc=1\n"
    "SNDecimal=0\nSNMinLength=12\n[FlashSetting]\nFlashUniName=WBG\nChannel=4\nBank=2\n";

// Two drives; with `timeScale` 1 the station's fixed waits take their real time, so a run lasts.
struct Line {
  explicit Line(const std::string& timeScale = "1") {
    EXPECT_TRUE(WriteSampleData(home.path()));
    home.write("QKMassProd.ini", kProfile);
    std::string bench = "[Bench]\nTimeScale=" + timeScale + "\n[Hub1]\nParent=root\nKind=usb2\nPorts=4\n";
    for (int d = 1; d <= 2; ++d) {
      bench += "[Drive" + std::to_string(d) + "]\nAt=Hub1:" + std::to_string(d) +
               "\nToken=R20X\nFlash=WBG\nChannel=4\nBank=2\n";
    }
    home.write("b.bench", bench);
  }
  std::unique_ptr<test::CliProcess> startRun() {
    return std::make_unique<test::CliProcess>(
        std::vector<std::string>{"--home", home.path(), "--bench", "b.bench", "run"}, capture.path());
  }
  std::vector<std::string> logFiles(const std::string& suffix) const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(home.file("log"))) {
      const std::string name = e.path().filename();
      if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
        out.push_back(e.path());
      }
    }
    return out;
  }
  std::string runLog() const {
    for (const std::string& f : logFiles(".txt")) {
      if (bareFileName(f).find("_EB") == std::string::npos && bareFileName(f).rfind("Error_", 0) != 0) {
        return home.read("log/" + bareFileName(f));
      }
    }
    return {};
  }
  test::TempDir home, capture;
};

constexpr int kDeadlineMs = 120000;

}  // namespace

TEST(RunStop, TheFirstSignalStopsTheRunAndKeepsItsRecords) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    Line line;
    // Once in the middle of the download, where each port has reserved its EB file.
    const bool inDownload = sig == SIGINT;
    if (inDownload) {
      line.home.write("QKMassProd.ini", std::regex_replace(kProfile, std::regex("En(SataTest|FlashTest|PreFormat|RWTest)=1"),
                                                           "En$1=0"));
    }
    auto cli = line.startRun();
    ASSERT_TRUE(cli->waitForOutput(inDownload ? "Port2: Download" : "Port2: ", kDeadlineMs)) << cli->err();
    kill(cli->pid(), sig);
    auto end = cli->waitEnd(kDeadlineMs);
    ASSERT_TRUE(end) << "signal " << sig;
    ASSERT_TRUE(end->exited) << "signal " << sig << " killed it: " << end->signal;
    EXPECT_EQ(end->exitCode, 1) << cli->err();
    EXPECT_NE(cli->err().find("run: stopping"), std::string::npos) << cli->err();

    // Both ports have their row, the counters their file, the profile its next serial.
    const std::string log = line.runLog();
    EXPECT_NE(log.find("000001\t000001\t"), std::string::npos) << log;
    EXPECT_NE(log.find("000002\t000002\t"), std::string::npos) << log;
    EXPECT_TRUE(fileExists(line.home.file("log/QKSSD.log")));
    EXPECT_EQ(readIniString(line.home.file("QKMassProd.ini"), "DeviceSetting", "SerialNum", ""), "QK2612080003");
    for (const std::string& eb : line.logFiles("_EB.txt")) {
      struct stat st {};
      ASSERT_EQ(stat(eb.c_str(), &st), 0);
      EXPECT_GT(st.st_size, 0) << eb;
    }
  }
}

TEST(RunStop, ASecondSignalEndsTheProcessAtOnce) {
  Line line;
  auto cli = line.startRun();
  ASSERT_TRUE(cli->waitForOutput("Port2: ", kDeadlineMs)) << cli->err();
  kill(cli->pid(), SIGINT);
  kill(cli->pid(), SIGTERM);
  auto end = cli->waitEnd(kDeadlineMs);
  ASSERT_TRUE(end);
  EXPECT_FALSE(end->exited && end->exitCode == 0);
}

TEST(RunStop, KillNineLeavesRecordsTheNextRunCanUse) {
  Line line;
  auto cli = line.startRun();
  ASSERT_TRUE(cli->waitForOutput("Port2: ", kDeadlineMs)) << cli->err();
  kill(cli->pid(), SIGKILL);
  ASSERT_TRUE(cli->waitEnd(kDeadlineMs));

  // The serials the killed run handed out are never handed out again.
  EXPECT_EQ(readIniString(line.home.file("QKMassProd.ini"), "DeviceSetting", "SerialNum", ""), "QK2612080003");
  ProfileSettings counters;
  EXPECT_EQ(ReadYieldCounters(line.home.file("log/"), counters), "");
  line.home.write("b.bench", std::regex_replace(line.home.read("b.bench"), std::regex("TimeScale=1"), "TimeScale=0"));
  test::CliResult next = test::runCliIn(line.home.path(), "--bench b.bench --json run");
  ASSERT_EQ(next.exitCode, 0) << next.err;
  auto j = nlohmann::json::parse(next.out);
  EXPECT_EQ(j["ports"][0]["serialNumber"], "QK2612080003");
  EXPECT_EQ(j["ports"][1]["serialNumber"], "QK2612080004");
  EXPECT_EQ(j["total"], 2);
}

TEST(CliOutput, JsonReplacesBytesThatAreNotUtf8) {
  Line line("0");
  IniFile ini = IniFile::load(line.home.file("QKMassProd.ini"));
  ini.setString("DeviceSetting", "ModelNum", "Caf\xe9 SSD");
  ASSERT_TRUE(ini.save(line.home.file("QKMassProd.ini")));
  test::CliResult shown = test::runCliIn(line.home.path(), "--json profile show");
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_EQ(nlohmann::json::parse(shown.out)["ModelNum"], "Caf\xef\xbf\xbd SSD");

  ini.setString("DeviceSetting", "SerialNum", "QK\xe9\xe9""12080001");
  ASSERT_TRUE(ini.save(line.home.file("QKMassProd.ini")));
  test::CliResult run = test::runCliIn(line.home.path(), "--bench b.bench --json run");
  EXPECT_NE(run.exitCode, 134) << run.err;
  auto j = nlohmann::json::parse(run.out);
  EXPECT_EQ(j["ports"].size(), 2u);
  EXPECT_EQ(j["ports"][0]["serialNumber"], "QK\xef\xbf\xbd\xef\xbf\xbd""12080001");
}

TEST(CliOutput, InputThatIsNotARegularFileIsRefused) {
  Line line("0");
  test::CliResult zero = test::runCliIn(line.home.path(), "--profile /dev/zero --bench b.bench scan");
  EXPECT_EQ(zero.exitCode, 1);
  EXPECT_NE(zero.err.find("/dev/zero: not a regular file"), std::string::npos) << zero.err;

  test::CliResult bench = test::runCliIn(line.home.path(), "--bench /dev/zero scan");
  EXPECT_EQ(bench.exitCode, 2);
  EXPECT_NE(bench.err.find("/dev/zero: not a regular file"), std::string::npos) << bench.err;

  // A FIFO nobody writes to: refused at once instead of waiting for ever.
  ASSERT_EQ(mkfifo(line.home.file("fifo.ini").c_str(), 0600), 0);
  test::CliProcess fifo({"--home", line.home.path(), "--profile", "fifo.ini", "--bench", "b.bench", "scan"},
                        line.capture.path());
  auto end = fifo.waitEnd(kDeadlineMs);
  ASSERT_TRUE(end);
  EXPECT_EQ(end->exitCode, 1);
  EXPECT_NE(fifo.err().find("not a regular file"), std::string::npos) << fifo.err();

  line.home.write("big.ini", std::string(kTextFileLimit + 1, ';'));
  test::CliResult big = test::runCliIn(line.home.path(), "--profile big.ini --bench b.bench scan");
  EXPECT_EQ(big.exitCode, 1);
  EXPECT_NE(big.err.find("larger than"), std::string::npos) << big.err;
}
