// records: what the record store knows about the drives that ended.
#include <iomanip>
#include <iostream>
#include <regex>
#include <sstream>

#include "cli/Cli.h"
#include "config/IniFile.h"
#include "config/Profile.h"
#include "records/RecordStore.h"

namespace qk::cli {

namespace {

struct RecordsArgs {
  std::string serial, since, verdict;
  bool csv = false, stats = false;
};

std::string csvField(const std::string& v) {
  if (v.find_first_of(",\"\r\n") == std::string::npos) return v;
  std::string out = "\"";
  for (char c : v) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string optionalText(const std::optional<int>& v) { return v ? std::to_string(*v) : ""; }

nlohmann::json toJson(const DriveRecord& r) {
  nlohmann::json j;
  j["id"] = r.id;
  j["station"] = r.station;
  j["slot"] = r.slot;
  j["serial"] = r.serial;
  j["verdict"] = r.verdict;
  j["resultCode"] = r.resultCode;
  j["shownCode"] = r.shownCode;
  j["shortCode"] = r.shortCode;
  j["failureText"] = r.failureText;
  j["start"] = r.startTime;
  j["end"] = r.endTime;
  j["profileFile"] = r.profileFile;
  j["profileHash"] = r.profileHash;
  j["firmwareFiles"] = r.firmwareFiles;
  j["firmwareVersions"] = r.firmwareVersions;
  j["flashType"] = r.flashType;
  j["flashIds"] = r.flashIds;
  j["channel"] = r.channel;
  j["bank"] = r.bank;
  j["badEarly"] = r.badEarly ? nlohmann::json(*r.badEarly) : nlohmann::json(nullptr);
  j["badLater"] = r.badLater ? nlohmann::json(*r.badLater) : nlohmann::json(nullptr);
  j["badBlocks"] = r.badBlocks;
  j["temperature"] = r.temperature;
  j["capacityMB"] = r.capacityMB;
  j["stepStatus"] = r.stepStatus;
  j["runLog"] = r.runLog;
  j["failureReport"] = r.failureReport;
  j["pending"] = r.pending;
  return j;
}

void printCsv(const std::vector<DriveRecord>& records) {
  std::cout << "id,station,slot,serial,verdict,result_code,shown_code,short_code,failure_text,start,end,"
               "profile_file,profile_hash,firmware_files,firmware_versions,flash_type,flash_ids,channel,bank,"
               "bad_early,bad_later,bad_blocks,temperature,capacity_mb,step_status,run_log,failure_report,pending\r\n";
  for (const auto& r : records) {
    const std::vector<std::string> f = {std::to_string(r.id), r.station, std::to_string(r.slot), r.serial, r.verdict,
                                        std::to_string(r.resultCode), std::to_string(r.shownCode), r.shortCode,
                                        r.failureText, r.startTime, r.endTime, r.profileFile, r.profileHash,
                                        r.firmwareFiles, r.firmwareVersions, r.flashType, r.flashIds,
                                        std::to_string(r.channel), std::to_string(r.bank), optionalText(r.badEarly),
                                        optionalText(r.badLater), r.badBlocks, std::to_string(r.temperature),
                                        std::to_string(r.capacityMB), r.stepStatus, r.runLog, r.failureReport,
                                        r.pending ? "1" : "0"};
    for (std::size_t i = 0; i < f.size(); ++i) std::cout << (i ? "," : "") << csvField(f[i]);
    std::cout << "\r\n";
  }
}

void printTable(const std::vector<DriveRecord>& records) {
  for (const auto& r : records) {
    std::cout << r.endTime << "  " << r.station << "  Port" << r.slot << "  " << r.serial << "  " << r.verdict
              << "  " << r.resultCode << " " << r.shortCode << "  " << r.flashType;
    if (!r.failureText.empty()) std::cout << "  " << r.failureText;
    if (r.pending) std::cout << "  (not yet sent)";
    std::cout << "\n";
  }
  std::cout << records.size() << " record(s)" << std::endl;
}

std::string yieldPercent(const YieldRow& y) {
  const std::int64_t total = y.pass + y.fail;
  std::ostringstream s;
  s << std::fixed << std::setprecision(2) << (total ? 100.0 * static_cast<double>(y.pass) / static_cast<double>(total) : 0.0)
    << "%";
  return s.str();
}

void printStats(const RecordStats& st, bool json) {
  const std::pair<const char*, const std::vector<YieldRow>*> groups[] = {
      {"day", &st.perDay}, {"resultCode", &st.perResultCode}, {"flashType", &st.perFlashType}};
  if (json) {
    nlohmann::json j;
    for (const auto& [name, rows] : groups) {
      nlohmann::json list = nlohmann::json::array();
      for (const auto& y : *rows) list.push_back({{name, y.key}, {"pass", y.pass}, {"fail", y.fail}});
      j[name] = list;
    }
    std::cout << j.dump(2, ' ', false, kJsonReplace) << std::endl;
    return;
  }
  const char* titles[] = {"Yield per day", "Per result code", "Per flash type"};
  for (std::size_t g = 0; g < 3; ++g) {
    std::cout << titles[g] << ":\n";
    for (const auto& y : *groups[g].second) {
      std::cout << "  " << std::left << std::setw(12) << y.key << " pass " << y.pass << "  fail " << y.fail
                << "  yield " << yieldPercent(y) << "\n";
    }
  }
  std::cout << std::flush;
}

int recordsCommand(CliState& state, const RecordsArgs& args) {
  const std::string profilePath = state.profilePath();
  const ProgramFolder folder = state.folder();
  std::string url = state.records;
  if (url.empty() && fileExists(profilePath)) url = IniFile::load(profilePath).getString("Records", "Url", "");
  std::string error;
  auto store = OpenRecordStore(url, ProfileLogFolder(profilePath, folder), &error);
  if (!store) {
    std::cerr << "qkstation-cli: " << error << std::endl;
    return 1;
  }
  if (args.stats) {
    auto st = store->stats(&error);
    if (!st) {
      std::cerr << "qkstation-cli: " << error << std::endl;
      return 1;
    }
    printStats(*st, state.json);
    return 0;
  }
  RecordFilter filter;
  if (!args.serial.empty()) filter.serial = args.serial;
  if (!args.since.empty()) {
    static const std::regex timeForm(R"(\d{4}-\d{2}-\d{2}([ T]\d{2}:\d{2}(:\d{2})?)?)");
    if (!std::regex_match(args.since, timeForm)) {
      std::cerr << "qkstation-cli: --since takes YYYY-MM-DD or YYYY-MM-DD hh:mm[:ss]" << std::endl;
      return 2;
    }
    std::string since = args.since;
    if (since.size() > 10) since[10] = ' ';
    filter.since = since;
  }
  if (!args.verdict.empty()) filter.verdict = args.verdict;
  error.clear();
  auto records = store->query(filter, &error);
  // With the line database away, what still waits on this station is shown all the same.
  if (!error.empty()) {
    std::cerr << "qkstation-cli: " << error << std::endl;
    if (records.empty()) return 1;
  }
  if (state.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& r : records) list.push_back(toJson(r));
    std::cout << list.dump(2, ' ', false, kJsonReplace) << std::endl;
  } else if (args.csv) {
    printCsv(records);
  } else {
    printTable(records);
  }
  return error.empty() ? 0 : 1;
}

const CommandRegistration reg([](CLI::App& app, CliState& state) {
  auto* cmd = app.add_subcommand("records", "What the record store knows about the drives that ended");
  auto args = std::make_shared<RecordsArgs>();
  cmd->add_option("--serial", args->serial, "Only the drive(s) with this serial");
  cmd->add_option("--since", args->since, "Only drives that ended at or after this time (YYYY-MM-DD [hh:mm[:ss]])");
  cmd->add_option("--verdict", args->verdict, "Pass or Fail")->check(CLI::IsMember({"Pass", "Fail"}));
  cmd->add_flag("--csv", args->csv, "Comma-separated values with a header line");
  cmd->add_flag("--stats", args->stats, "Yield per day, per result code and per flash type");
  cmd->callback([&state, args] { state.exitCode = recordsCommand(state, *args); });
});

}  // namespace

}  // namespace qk::cli
