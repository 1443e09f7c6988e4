#pragma once
// The settings area of the main window (PageControl1 and its tool-bar
// buttons): the pages edit the station's profile; the window calls these at
// start-up, show, START and close.
#include <QWidget>

#include <string>
#include <vector>

#include "run/RunEngine.h"

class QAbstractButton;
class QTabWidget;
class QListWidget;
class QComboBox;
class QLineEdit;

namespace qk {
class Station;
}

namespace qk::gui {

class SettingsPages : public QWidget {
  Q_OBJECT
 public:
  explicit SettingsPages(Station& station, QWidget* parent = nullptr);
  ~SettingsPages() override;

  QTabWidget* pageControl() const;      // PageControl1
  QListWidget* testItemList() const;    // FunCheckListBox
  QComboBox* connectionCheck() const;   // ConnectionChkCmbox
  // Buttons the window puts into ToolBarPanel after its own (lock, stop, ...).
  std::vector<QAbstractButton*> toolBarButtons() const;
  // Buttons the window puts next to the pages ("Load INI", "Save INI").
  std::vector<QAbstractButton*> profileButtons() const;
  // INIFileEdit, read-only: the full path of the profile in use (the window places it).
  QLineEdit* iniFileEdit() const;

  // Pages into the profile; false when a number field is malformed (the
  // message was shown and the copy stopped there).
  bool pagesToProfile();
  void profileToPages();
  void funCheckListBoxClickCheck();
  void subPageControl();
  void selectFirstItem();
  // The command-line mask: all marks cleared, entry k checked for bit k.
  void applyMask(int mask);
  // The lock's handler with the window as sender (start-up, "Load INI").
  void applyLock();
  void refreshFlashSelection();
  // "Don't Care" and 1..slotCount; selects the profile's ConnectDevNum.
  void fillConnectionCheck(int slotCount);
  // The title dialog's serial and its "increment" choice.
  void takeTitleResult(const std::string& serial, bool increment);
  void showStopButton();
  // START's options as the pages stand (mode of the "RD" page, ...).
  RunOptions runOptions() const;

  // The handlers behind the buttons (tests and the window call them too).
  void iniLoadBtnClick();                 // "Load INI"
  void iniSaveBtnClick();                 // "Save INI"
  void lockButtonClick();                 // SpeedButton8 pressed by the operator
  void speedButton6Click();               // the hidden auto-detect behind the access code
  void flashAutoDetectBtnClick();         // "Auto Detect"
  // The auto-detect reads the drive on a thread of its own; true until its
  // answer is on the pages.
  bool detecting() const;
  void specialTipMouseDown(bool ctrlHeld);  // enters special mode with Ctrl held
  void flashInfoChange();
  void binFileChkClick();                 // firmware images re-evaluated
  // Vendor box changed (fromVendor) or a refresh keeping the type index.
  void updateFlashList(bool fromVendor);
  bool specialMode() const;
  // INIFileEdit follows the profile path after a load or a save.
  void showIniFile();

 Q_SIGNALS:
  void profileLoaded();            // after "Load INI": caption, files, slots
  void refreshRequested();         // the "Connect Check" list changed: do what "Refresh" does
  void stopRequested();            // SpeedButton9
  void statusText(int panel, const QString& text);  // StatusBar1 panel 0..3
  void filesReady(bool ready);     // the data-file check's verdict changed
  void captionChanged(const QString& caption);
  void busyChanged(bool busy);     // the auto-detect started (true) or ended  // the window caption after the firmware check

 private:
  // The lock's handler for either sender (a LockSender value).
  void lockFrom(int sender);
  struct Impl;
  Impl* d_;
};

}  // namespace qk::gui
