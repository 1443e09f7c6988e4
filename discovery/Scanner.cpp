#include "discovery/Scanner.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "config/IniFile.h"
#include "discovery/BindSlot.h"
#include "platform/DebugOutput.h"
#include "discovery/HubWalk.h"

namespace qk {

bool ConnectCountAcceptable(int deviceCount, int connectDevNum) {
  return deviceCount != 0 && (connectDevNum == 0 || deviceCount == connectDevNum);
}

Scanner::Scanner(DeviceTree& tree, DriveProbe& probe, Operator& op, Clock& clock, const std::string& programFolder)
    : tree_(tree),
      probe_(probe),
      op_(op),
      clock_(clock),
      scanLock_("QKMPAcess", programFolder),
      usbLock_("QKUSBAcess", programFolder),
      rescanTimer_(clock) {}

int Scanner::usedSlots() const { return std::min(slotCount_, SlotLimit); }

bool Scanner::startUp() {
  for (auto& r : ports_) r.clear();
  scanDevices(true);
  if (slotCount_ > SlotLimit) {
    char text[128];
    std::snprintf(text, sizeof text, "Up to the limitation of total port number(%d), Please remove the usb hub",
                  SlotLimit);
    op_.showMessage(text);
    return false;
  }
  return true;
}

int Scanner::enumerateDevices() {
  for (auto& r : scanTable_) r.clear();
  const int walked = HubWalk::run(tree_, scanTable_);
  if (!slotsFixed_) {
    slotCount_ = walked;
  } else if (walked > slotCount_) {
    // The slots were built at start-up; a hub plugged in later cannot add any.
    debugPrintf("%d hub ports found, %d slots since start-up: ports beyond them are ignored", walked,
                  slotCount_);
  }
  if (!EnumerateDisks(tree_, usbLock_, deviceList_, DeviceListLimit)) return 0;
  return static_cast<int>(deviceList_.size());
}

void Scanner::clearPort(int slot) {
  ports_[slot].clear();
  barcodes_[slot].clear();
}

namespace {

std::string withoutTrailingBlanks(const std::string& s) { return s.substr(0, s.find_last_not_of(' ') + 1); }

}  // namespace

bool Scanner::driveChanged(const PortContext& held, const PortContext& seen) {
  // Only what identifies the drive itself counts: a re-enumeration renames its
  // disk node, and a drive on the controller's own USB path takes new IDs and
  // strings after a download.
  const std::string before = withoutTrailingBlanks(held.usbSerial.str());
  const std::string now = withoutTrailingBlanks(seen.usbSerial.str());
  if (before.empty() && now.empty()) {
    return held.usbVendorId != seen.usbVendorId || held.usbProductId != seen.usbProductId;
  }
  if (before == now) return false;
  // The serial this run gave the drive, which it now reports as its own.
  const std::string given = withoutTrailingBlanks(held.serialNumber.str());
  return given.empty() || given != now;
}

void Scanner::mergeScanTable(bool firstScan, const std::bitset<SlotLimit>& busy) {
  if (firstScan) {
    ports_ = scanTable_;
    for (auto& b : barcodes_) b.clear();
    return;
  }
  for (int i = 0; i < usedSlots(); ++i) {
    if (busy[static_cast<std::size_t>(i)]) continue;
    PortContext& held = ports_[i];
    const PortContext& seen = scanTable_[i];
    if (!seen.configured) {
      clearPort(i);
      continue;
    }
    // Another drive on the port must not inherit the old one's serial, results
    // and verdict. A port seen empty was cleared by the scan that saw it.
    if (held.configured && driveChanged(held, seen)) {
      debugPrintf("slot %d: a different drive is on the port, its record starts afresh", i);
      clearPort(i);
    }
    held.configured = seen.configured;
    held.locationKey = seen.locationKey;
    held.driverKey = seen.driverKey;
    held.usbVendorId = seen.usbVendorId;
    held.usbProductId = seen.usbProductId;
    held.usbSerial = seen.usbSerial;
    held.active = 0;
  }
}

void Scanner::askBarcode(int slot) {
  promptOpen_ = true;
  auto answer = op_.askText("Please Input the Serial Number (Port" + std::to_string(slot + 1) + ")",
                            "Serial Number", "", false);
  promptOpen_ = false;
  const std::string text = answer.value_or("");
  barcodes_[slot].assign(text);
  ports_[slot].serialNumber.assign(text);
}

void Scanner::scanDevices(bool firstScan) { scan(firstScan, {}); }

void Scanner::scanAround(const std::bitset<SlotLimit>& busy) {
  if (settings_.enBarCode && promptOpen_) return;
  scan(false, busy);
  if (!settings_.enBarCode) return;
  // Asked outside the port table's lock: running ports publish meanwhile.
  for (int i = 0; i < usedSlots(); ++i) {
    bool ask = false;
    {
      std::lock_guard guard(scanLock_);
      ask = !busy[static_cast<std::size_t>(i)] && pendingPrompt_[static_cast<std::size_t>(i)];
      pendingPrompt_[static_cast<std::size_t>(i)] = false;
    }
    if (!ask) continue;
    promptOpen_ = true;
    auto answer = op_.askText("Please Input the Serial Number (Port" + std::to_string(i + 1) + ")", "Serial Number",
                              "", false);
    promptOpen_ = false;
    std::lock_guard guard(scanLock_);
    // The drive may have left while the operator typed.
    if (!ports_[i].active || !ports_[i].serialNumber.empty()) continue;
    barcodes_[i].assign(answer.value_or(""));
    ports_[i].serialNumber.assign(answer.value_or(""));
  }
}

void Scanner::scan(bool firstScan, const std::bitset<SlotLimit>& busy) {
  if (settings_.enBarCode && promptOpen_) return;
  const bool deferPrompts = busy.any();
  std::lock_guard guard(scanLock_);
  startEnabled_ = false;
  const int count = enumerateDevices();
  mergeScanTable(firstScan, busy);
  if (firstScan) slotsFixed_ = true;

  configuredCount_ = 0;
  deviceCount_ = 0;
  if (count == 0) {
    for (int i = 0; i < usedSlots(); ++i) configuredCount_ += ports_[i].configured == 1;
    return;
  }
  for (int i = 0; i < usedSlots(); ++i) {
    PortContext& rec = ports_[i];
    if (rec.configured != 1) continue;
    ++configuredCount_;
    if (busy[static_cast<std::size_t>(i)]) {
      deviceCount_ += rec.active != 0;
      continue;
    }
    const bool matched = BindSlot(rec, i, deviceList_, probe_);
    if (matched && settings_.enBarCode && rec.serialNumber.empty() && rec.bridgeCode != 0) {
      if (deferPrompts) {
        pendingPrompt_[static_cast<std::size_t>(i)] = true;
      } else {
        askBarcode(i);
      }
    }
    if (rec.bridgeCode == 0) {
      rec.active = 0;
      continue;
    }
    rec.active = 1;
    ++deviceCount_;
    if (matched) {
      rec.pathKind = PathKindOf(rec.devicePath.str());
      probe_.setBridgeMode(i, true);
      rec.capacityMB = static_cast<std::int32_t>(probe_.readCapacitySectors(i) / 2048);
    }
  }
  startEnabled_ = settings_.filesReady &&
                  (settings_.connectDevNum == 0 || settings_.connectDevNum == deviceCount_);
}

int Scanner::prepareRun() {
  std::lock_guard guard(scanLock_);
  const int count = enumerateDevices();
  if (count == 0) return 0;
  ports_ = scanTable_;
  configuredCount_ = 0;
  deviceCount_ = 0;
  for (int i = 0; i < usedSlots(); ++i) {
    PortContext& rec = ports_[i];
    if (rec.configured != 1) continue;
    ++configuredCount_;
    const bool matched = BindSlot(rec, i, deviceList_, probe_);
    rec.active = rec.bridgeCode != 0 ? 1 : 0;
    if (rec.active) {
      ++deviceCount_;
      if (matched) rec.pathKind = PathKindOf(rec.devicePath.str());
    }
  }
  return count;
}

void Scanner::setChangeHook(std::function<void(DeviceChange)> hook) {
  std::lock_guard lock(hookMutex_);
  changeHook_ = std::move(hook);
}

void Scanner::onDeviceChange(DeviceChange change) {
  {
    std::lock_guard lock(hookMutex_);
    if (changeHook_) changeHook_(change);
  }
  if (running_) return;
  startEnabled_ = false;
  rescanTimer_.restart(change == DeviceChange::Arrival ? RescanTimer::ArrivalDelayMs
                                                       : RescanTimer::RemovalDelayMs);
}

bool Scanner::pollRescan() {
  if (!rescanTimer_.takeExpired()) return false;
  scanDevices(false);
  return true;
}

}  // namespace qk
