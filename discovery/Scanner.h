#pragma once
// The device scan and the port table it keeps in step with what is plugged in.
// One object per station; the station front end owns it.
#include <array>
#include <atomic>
#include <bitset>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "discovery/DeviceList.h"
#include "discovery/DriveProbe.h"
#include "discovery/RescanTimer.h"
#include "platform/Clock.h"
#include "platform/DeviceTree.h"
#include "platform/Hotplug.h"
#include "platform/Locks.h"
#include "platform/Operator.h"
#include "run/PortContext.h"

namespace qk {

struct ScanSettings {
  int connectDevNum = 0;    // expected device count; 0 = "Don't Care"
  bool enBarCode = false;   // ask for a bar-code serial per new drive
  bool filesReady = true;   // the station's data files are present
};

// The device count satisfies the connect check: non-zero, and the expected
// count is "Don't Care" or equal to it.
bool ConnectCountAcceptable(int deviceCount, int connectDevNum);

class Scanner {
 public:
  Scanner(DeviceTree& tree, DriveProbe& probe, Operator& op, Clock& clock, const std::string& programFolder);

  void setSettings(const ScanSettings& s) { settings_ = s; }
  const ScanSettings& settings() const { return settings_; }

  // The start-up scan. False (after the limit message) when the hubs have more
  // ports than the station has slots.
  bool startUp();
  // Clears the scan table, walks the hubs and lists the disks; the number of disks.
  int enumerateDevices();
  void scanDevices(bool firstScan);
  // A rescan while some ports run (continuous production): the records of the
  // `busy` slots are left as they are and their drives get no command; the
  // bar-code prompts are asked once the port table is free again.
  void scanAround(const std::bitset<SlotLimit>& busy);

  // A run's start: enumerates afresh, copies the scan table over the live one
  // and binds every configured slot again. The number of disks found (0: none).
  int prepareRun();

  // A device-change notification: restarts the delayed rescan, unless a run is under way.
  void onDeviceChange(DeviceChange change);
  // Hears every device-change notification, also while a run is under way
  // (continuous production rescans around its running ports). Empty: none.
  void setChangeHook(std::function<void(DeviceChange)> hook);
  // Runs the delayed rescan when it is due; true when it ran.
  bool pollRescan();
  void setRunning(bool running) { running_ = running; }
  bool running() const { return running_; }
  RescanTimer& rescanTimer() { return rescanTimer_; }
  Clock& clock() { return clock_; }

  int slotCount() const { return slotCount_; }
  int deviceCount() const { return deviceCount_; }
  int configuredCount() const { return configuredCount_; }
  bool startEnabled() const { return startEnabled_; }
  bool promptOpen() const { return promptOpen_; }
  // Cleared by "Refresh".
  void clearPromptFlag() { promptOpen_ = false; }

  // The live port table. Readers outside the scan take scanLock().
  const PortTable& ports() const { return ports_; }
  PortTable& ports() { return ports_; }
  const PortTable& scanTable() const { return scanTable_; }
  const std::vector<DeviceRecord>& deviceList() const { return deviceList_; }
  std::string barcodeSerial(int slot) const { return barcodes_.at(slot).str(); }
  NamedLock& scanLock() { return scanLock_; }

 private:
  int usedSlots() const;
  void scan(bool firstScan, const std::bitset<SlotLimit>& busy);
  void mergeScanTable(bool firstScan, const std::bitset<SlotLimit>& busy);
  // Another drive than the one the record holds is on the port: judged by the
  // USB serial it reports (or, with none, its IDs), never by its disk node.
  static bool driveChanged(const PortContext& held, const PortContext& seen);
  void clearPort(int slot);
  void askBarcode(int slot);

  DeviceTree& tree_;
  DriveProbe& probe_;
  Operator& op_;
  Clock& clock_;
  NamedLock scanLock_;  // "QKMPAcess": the port table, shared with the slot display
  NamedLock usbLock_;   // "QKUSBAcess": the disk enumeration
  ScanSettings settings_;

  PortTable ports_{};
  PortTable scanTable_{};
  std::vector<DeviceRecord> deviceList_;
  std::array<FixedText<40>, SlotLimit> barcodes_{};
  std::bitset<SlotLimit> pendingPrompt_;  // scanAround: asked after the lock is released
  int slotCount_ = 0;
  bool slotsFixed_ = false;  // the start-up scan fixed the slot count
  int deviceCount_ = 0;
  int configuredCount_ = 0;
  std::atomic<bool> startEnabled_{false};
  std::atomic<bool> promptOpen_{false};
  std::atomic<bool> running_{false};
  RescanTimer rescanTimer_;
  std::mutex hookMutex_;
  std::function<void(DeviceChange)> changeHook_;
};

}  // namespace qk
