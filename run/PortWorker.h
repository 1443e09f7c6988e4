#pragma once
// The port worker: carries one drive through the enabled production steps in
// their fixed order, records a status per step and the first failure's code,
// feeds the slot's gauge and ends with a verdict. It works on its own copy of
// the port's record and hands every change to the run through publish(), so a
// port the run has cut off (time-out) can no longer be changed by it.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "config/GlobalParameter.h"
#include "config/ProfileSettings.h"
#include "platform/Clock.h"
#include "run/FailureReport.h"
#include "run/PortContext.h"
#include "run/PortOperations.h"
#include "run/ResultCodes.h"
#include "run/SlotView.h"
#include "transport/TransportState.h"

namespace qk {

// One detail buffer per result code, the probe's code beyond the table included.
constexpr int kDetailBufferCount = kCapacityProbeCode + 1;
using DetailBuffers = std::array<std::array<std::uint8_t, kDetailSize>, kDetailBufferCount>;

// What the worker shows on its slot besides the record (the run draws it).
class PortDisplay {
 public:
  virtual ~PortDisplay() = default;
  virtual void panelText(int slot, const std::string& text) = 0;
  virtual void panelColour(int slot, SlotColour colour) = 0;
  virtual void gauge(int slot, int percent) = 0;
  virtual void serialText(int slot, const std::string& serial) = 0;
  // The second gauge of the long R/W tests (red while writing, dark green while verifying).
  virtual void secondGauge(int /*slot*/, bool /*visible*/, int /*percent*/, std::uint8_t /*red*/,
                           std::uint8_t /*green*/, std::uint8_t /*blue*/) {}
  // The shared slot refresh (counts ended ports into the yield).
  virtual void refresh() = 0;
};

struct WorkerSetup {
  int slot = 0;
  bool claimNew = false;
  bool rebuildClose = false;  // "Close AP after Rebuild" as it stood at the start
  bool eraseSearch = false;   // the pre-format mode radio and repair box
  bool laterBad = true;
  bool repairUsed = false;
  int checkedItems = 0;       // N: the gauge steps by 100 / N
  ProfileSettings profile;
  GlobalParameter parameters; // this port's own copy
  TransportPath path = TransportPath::SataPath;
  std::string logPath;
  int firmwareFamily = 0;     // two-digit number of the selected firmware file
  std::string barcodeSerial;  // typed at the scan's prompt for this slot
};

class PortWorker {
 public:
  // publish(record, details): details is null except at the worker's end.
  using Publish = std::function<void(const PortContext&, const DetailBuffers*)>;
  PortWorker(WorkerSetup setup, PortContext record, PortOperations& ops, PortDisplay& display, Clock& clock,
             Publish publish, std::stop_token stop);

  // Runs the whole sequence; returns when the worker has ended (or was stopped).
  void run();

  const PortContext& record() const { return rec_; }
  const DetailBuffers& details() const { return *details_; }
  const std::string& ebPath() const { return ebPath_; }

 private:
  bool stopped() const { return stop_.stop_requested(); }
  void publish();
  void announce(const std::string& name);
  void gaugeStep();
  void fail(int step, int code, bool keepDetails);
  // The common form of a step: false when it ran and failed, or was marked failed.
  void runStep(int step, const std::function<bool()>& operation, bool keepDetails = true);
  void systemBlockGate();
  void tableCheck(int step, const char* announceAs);
  void diskFormat();
  void copyImage();
  void identityRead();
  void compareText(int step, const std::string& expected, const std::string& actual, std::size_t width, bool zeroFill);
  void finish();
  std::string chooseEbPath();

  WorkerSetup s_;
  PortContext rec_;
  PortOperations& ops_;
  PortDisplay& display_;
  Clock& clock_;
  Publish publish_;
  std::stop_token stop_;
  std::vector<std::uint8_t> buffer_;
  std::unique_ptr<DetailBuffers> details_;
  bool failed_ = false;
  int gauge_ = 0;
  std::string ebPath_;
  bool ebReserved_ = false;
  struct {
    std::string model, firmware, vendor, product, serial;
    bool vendorKnown = false;
  } id_;
};

// Two-digit decimal number of a firmware family text ("21" -> 21), 0 when not a number.
int FirmwareFamilyCode(const std::string& familyText);

}  // namespace qk
