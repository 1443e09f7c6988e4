#pragma once
// TMainForm: the station's window. The settings pages on top, one slot per
// hub port in the scroll box, the tool bar and the START row below. A run goes
// on a worker thread; its slot events reach the widgets in timed batches.
#include <QMainWindow>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/CommandLine.h"
#include "app/SlotLayout.h"
#include "gui/GuiRunObserver.h"
#include "run/RunEngine.h"

class QCheckBox;

class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QTimer;
class QToolButton;
class QWidget;

namespace qk {
class Station;
}

namespace qk::gui {

class SettingsPages;
class SlotPanel;
class TDetailForm;
class TErrorForm;
class TTitleForm;

struct MainFormOptions {
  StationCommandLine commandLine;  // the mask and "autoquit"
  std::string screenshotFolder;    // hidden: running.png and verdicts.png of each run go here
};

class TMainForm : public QMainWindow {
  Q_OBJECT
 public:
  // The station has been started up (profile, devices, first scan, log file).
  explicit TMainForm(Station& station, MainFormOptions options = {}, QWidget* parent = nullptr);
  ~TMainForm() override;

  void setDialogs(TErrorForm* error, TDetailForm* detail);
  // How the report dialogs are shown (modal exec() by default; tests open them without blocking).
  using DialogRunner = std::function<void(QDialog&)>;
  void setDialogRunner(DialogRunner runner) { runDialog_ = std::move(runner); }
  // Before the window is first shown: the title dialog's result (null when
  // not shown or cancelled), the flash selection and the test-item list.
  void formShow(const TTitleForm* title);

  SettingsPages* pages() const { return pages_; }
  int slotCount() const { return static_cast<int>(panels_.size()); }
  int slotRows() const { return rows_; }
  SlotPanel* slotPanel(int slot) const;
  bool running() const { return running_; }
  // A device scan runs on a thread of its own; true until its result is drawn.
  bool scanning() const { return scanThread_.joinable(); }
  int selectedPort() const { return selectedPort_; }
  RunEngine& engine() { return *engine_; }
  const std::optional<RunOutcome>& lastOutcome() const { return lastOutcome_; }
  const std::string& lastScreenshot() const { return lastScreenshot_; }
  // Pictures of the settings area, one per tab and per option sub-page, into
  // `folder` (the documentation's screenshots); the pages are left as found.
  void settingsTour(const std::string& folder);

 public Q_SLOTS:
  void executeBtnClick();
  void refreshBtnClick();
  // Scans on the scan thread, then draws the slots on the window's thread.
  void startScan(bool focusStart);
  void safeRmBtnClick();
  void resetYieldBtnClick();
  void resetLayoutClick();
  void myBitBtnClick(int slot);
  void stopRun();
  void driveEnded();

 Q_SIGNALS:
  void runFinished();

 protected:
  void closeEvent(QCloseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  void buildWindow();
  void buildSlots();
  void restoreLayout();
  void saveLayout();
  void syncScanSettings();
  void afterScan();
  void updateDrawPanel();
  void flushSlots();
  void showYield();
  void setRunControlsEnabled(bool enabled);
  void startRun(bool unattended);
  void runEnded(const RunOutcome& out);
  void autoTestTimerTimer();
  void takeScreenshot(const LocalTime& end);
  void savePng(const std::string& name);
  void watchDetailForm(TDetailForm* detail);
  // A scan, removal, flash detect or detail read holds drives.
  bool busy() const;
  void growCanvas(const SlotRect& r);
  // The settings area's height for pages that need `needed` pixels.
  int settingsAreaHeight(int needed) const;
  // The slot area's inside for a window of the given size.
  QSize slotViewFor(QSize window) const;
  SlotGrid fitGrid(QSize view) const;
  void placeSlots(const SlotGrid& grid);
  QSize defaultWindowSize() const;
  bool savedLayoutFits(const StyleLayout& layout) const;

  Station& station_;
  MainFormOptions options_;
  GuiRunObserver observer_;
  std::unique_ptr<RunEngine> engine_;
  SettingsPages* pages_ = nullptr;
  QScrollArea* topPanel_ = nullptr;
  QWidget* toolBar_ = nullptr;
  QScrollArea* scrollBox_ = nullptr;
  QWidget* canvas_ = nullptr;
  QWidget* bottomPanel_ = nullptr;
  QToolButton* pinButton_ = nullptr;
  QPushButton* executeBtn_ = nullptr;
  QPushButton* refreshBtn_ = nullptr;
  QPushButton* safeRmBtn_ = nullptr;
  QWidget* waitPanel_ = nullptr;
  QLineEdit* yieldEdit_ = nullptr;
  QLabel* elapsedTime_ = nullptr;
  std::vector<QLabel*> statusPanels_;
  QLabel* accessPanel_ = nullptr;
  QTimer* autoTestTimer_ = nullptr;
  QTimer* drawTimer_ = nullptr;
  QTimer* rescanTimer_ = nullptr;
  std::vector<SlotPanel*> panels_;
  std::vector<bool> profileButtonsWere_;  // Load/Save INI before the run disabled them
  ScrollRange range_;
  int rows_ = 0;
  bool autoGrid_ = false;  // no saved arrangement: the grid follows the window's size
  int selectedPort_ = 0;
  bool running_ = false;
  bool closePending_ = false;
  bool closed_ = false;
  bool filesReady_ = true;
  bool runningShotTaken_ = false;
  TErrorForm* errorForm_ = nullptr;
  TDetailForm* detailForm_ = nullptr;
  std::unique_ptr<TErrorForm> ownErrorForm_;
  std::unique_ptr<TDetailForm> ownDetailForm_;
  DialogRunner runDialog_;
  std::optional<RunOutcome> lastOutcome_;
  std::string lastScreenshot_;
  QCheckBox* continuousChk_ = nullptr;  // "Continuous" beside START
  std::jthread runThread_;
  std::jthread removalThread_;
  std::jthread scanThread_;  // a device scan under way (Refresh, hot-plug)
};

}  // namespace qk::gui
