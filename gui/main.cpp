// qkstation: the station's window.
#include <unistd.h>

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Station.h"
#include "gui/MainForm.h"
#include "gui/DetailForm.h"
#include "gui/ErrorForm.h"
#include "gui/GuiOperator.h"
#include "gui/TitleForm.h"
#include "gui/WorkorderForm.h"
#include "platform/Locks.h"
#include "platform/ProgramFolder.h"

namespace {

constexpr int kTourDelayMs = 500;  // the first scan drawn and the window settled

struct EntryOptions {
  std::string home, bench, records, screenshots, tour;
  std::vector<std::string> rest;  // what the station's own command line rules see
};

// --home DIR, --bench FILE, --records URL (and the hidden --screenshots DIR and --tour DIR) come out first,
// so "qkstation --bench demo.bench 7 autoquit" has the mask 7.
EntryOptions takeOptions(int argc, char** argv) {
  EntryOptions o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    std::string* target = a == "--home" ? &o.home : a == "--bench" ? &o.bench : a == "--records" ? &o.records : a == "--screenshots" ? &o.screenshots : a == "--tour" ? &o.tour : nullptr;
    if (target && i + 1 < argc) {
      *target = argv[++i];
    } else {
      o.rest.push_back(a);
    }
  }
  return o;
}

// A relative bench name: the current folder when the file is there, else the program folder.
std::string benchPath(const std::string& bench, const qk::ProgramFolder& folder) {
  if (bench.empty() || qk::isAbsoluteName(bench)) return bench;
  if (qk::fileExists(bench)) {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) return std::string(cwd) + "/" + bench;
  }
  return folder.resolve(bench);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qk;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--help") {
      std::fputs(StationUsageText(), stdout);
      return 0;
    }
  }
  const EntryOptions entry = takeOptions(argc, argv);
  const ProgramFolder folder = entry.home.empty() ? ProgramFolder::ofExecutable() : ProgramFolder(entry.home);
  // Not from a network drive, and one station per program folder: both end silently.
  if (isRemotePath(ProgramFolder::ofExecutable().path()) || isRemotePath(folder.path())) return 1;
  InstanceLock instance("QKMP", folder.path());
  if (!instance.acquired()) return 1;
  // Real drives are the machine's: one station drives them.
  std::optional<InstanceLock> machine;
  if (entry.bench.empty()) {
    machine.emplace("QKMP", folder.path(), true);
    if (!machine->acquired()) return 1;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName("QK Station");
  gui::GuiOperator op;
  try {
    Station station(folder, op);
    station.setRecordsUrl(entry.records);
    switch (station.startUp(folder.resolve("QKMassProd.ini"), benchPath(entry.bench, folder))) {
      case Station::StartResult::Ok:
        break;
      default:
        return 1;  // the reason was shown
    }
    gui::MainFormOptions options;
    options.commandLine = ParseStationCommandLine(entry.rest);
    options.screenshotFolder = entry.screenshots;

    // The windows in their order: main, title, error, detail, work order.
    gui::TMainForm form(station, options);
    if (UnattendedStartRefused(options.commandLine)) return 1;  // after the conversion message
    op.setParent(&form);
    gui::TTitleForm title(station.profile().settings.ShowTitle, &form);
    gui::TErrorForm error(&form);
    gui::TDetailForm detail(station, &form);
    gui::TWorkorderForm workorder(op, &form);
    form.setDialogs(&error, &detail);

    bool titleOk = false;
    if (station.profile().settings.ShowTitle != 0) titleOk = title.exec() == QDialog::Accepted;
    form.formShow(titleOk ? &title : nullptr);
    form.show();
    if (!entry.tour.empty()) {
      // Hidden: pictures of every settings page for the documentation, then the program ends.
      QTimer::singleShot(kTourDelayMs, &form, [&form, &entry] {
        form.settingsTour(entry.tour);
        form.close();
      });
    }
    return app.exec();
  } catch (const std::exception& e) {
    std::cerr << "qkstation: " << e.what() << std::endl;
    op.showMessage(e.what(), "Error", MessageIcon::Error);
    return 0;
  } catch (...) {
    std::cerr << "qkstation: unexpected failure" << std::endl;
    return 1;
  }
}
