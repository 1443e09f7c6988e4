#include "run/PortWorker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "config/FlashSelection.h"
#include "platform/FileNames.h"
#include "run/ResultCodes.h"

namespace qk {

namespace {

constexpr std::size_t kWorkBufferSize = 65536;

// ATA identity text: the two bytes of every word swapped, cut at the first zero byte.
std::string ataText(std::span<const std::uint8_t> b, std::size_t at, std::size_t len) {
  std::string out;
  for (std::size_t i = 0; i < len && at + i < b.size(); ++i) {
    std::size_t pos = at + (i % 2 == 0 ? i + 1 : i - 1);
    char c = pos < b.size() ? static_cast<char>(b[pos]) : '\0';
    if (c == '\0') break;
    out += c;
  }
  return out;
}

}  // namespace

int FirmwareFamilyCode(const std::string& familyText) {
  if (familyText.size() < 2 || !std::isdigit(static_cast<unsigned char>(familyText[0])) ||
      !std::isdigit(static_cast<unsigned char>(familyText[1]))) {
    return 0;
  }
  return (familyText[0] - '0') * 10 + (familyText[1] - '0');
}

PortWorker::PortWorker(WorkerSetup setup, PortContext record, PortOperations& ops, PortDisplay& display, Clock& clock,
                       Publish publish, std::stop_token stop)
    : s_(std::move(setup)),
      rec_(record),
      ops_(ops),
      display_(display),
      clock_(clock),
      publish_(std::move(publish)),
      stop_(std::move(stop)),
      buffer_(kWorkBufferSize, 0),
      details_(std::make_unique<DetailBuffers>()) {
  for (auto& d : *details_) d.fill(0);
}

void PortWorker::publish() { publish_(rec_, nullptr); }

void PortWorker::announce(const std::string& name) {
  display_.panelText(s_.slot, name);
  display_.refresh();
}

void PortWorker::gaugeStep() {
  if (s_.checkedItems > 0) gauge_ = std::min(100, gauge_ + 100 / s_.checkedItems);
  display_.gauge(s_.slot, gauge_);
  publish();
  display_.refresh();
}

void PortWorker::fail(int step, int code, bool keepDetails) {
  rec_.resultCode = code;
  rec_.shownCode = code;
  failed_ = true;
  if (keepDetails && code >= 0 && code < kDetailBufferCount) {
    std::memcpy((*details_)[static_cast<std::size_t>(code)].data(), buffer_.data(), kDetailSize);
  }
  if (step > 0) rec_.stepStatus[static_cast<std::size_t>(step)] = -1;
}

void PortWorker::runStep(int step, const std::function<bool()>& operation, bool keepDetails) {
  auto& status = rec_.stepStatus[static_cast<std::size_t>(step)];
  if (!s_.profile.TestItemEnabled[static_cast<std::size_t>(step)]) {
    status = 0;
    return;
  }
  status = 2;
  if (failed_) {
    status = -1;
  } else {
    publish();  // a port cut off now shows this step as the one that was running
    announce(StepInfo(step).stepName);
    if (operation()) {
      status = 1;
    } else {
      fail(step, step == kCapacityProbeItem ? kCapacityProbeCode : step, keepDetails);
    }
  }
  gaugeStep();
}

void PortWorker::run() {
  const auto& t = s_.profile.TestItemEnabled;
  WorkBuffer buf(buffer_);
  failed_ = false;
  rec_.stepStatus[25] = 0;
  rec_.yieldEvent = 0;

  // A drive that already carries firmware keeps its identity in update mode.
  if (s_.profile.EnUpdateFirmwareMode && s_.path == TransportPath::SataPath && !ops_.isLoaderMode() &&
      ops_.identifyDevice(buf)) {
    rec_.serialNumber.assign(ataText(buf, 20, 20));
    s_.parameters.ModelNumber = ataText(buf, 54, 40);
  }
  display_.panelText(s_.slot, "Start");
  display_.panelColour(s_.slot, SlotColour::Yellow);
  display_.gauge(s_.slot, 0);
  if (rec_.bridgeCode == 7) ops_.sendBridgeSetup(1);
  display_.serialText(s_.slot, rec_.serialNumber.str());
  publish();
  if (stopped()) return;

  // Flash Module Test: a failure ends the worker at once, without a gauge step.
  if (t[1]) {
    rec_.stepStatus[1] = 2;
    publish();  // a port cut off now shows this step as the one that was running
    announce(ResultCodeInfo(1).stepName);
    if (!ops_.flashModuleTest(buf)) {
      fail(1, 1, true);
      finish();
      return;
    }
    rec_.stepStatus[1] = 1;
    gaugeStep();
  }
  if (stopped()) return;

  if (s_.claimNew) {
    if (!ops_.finishTables(buf) && !s_.rebuildClose) failed_ = true;
    finish();
    return;
  }

  runStep(2, [&] { return ops_.busInterfaceTest(buf); });
  if (stopped()) return;
  runStep(3, [&] {
    rec_.interfaceSubCode = 0;
    rec_.interfaceStatus = 0;
    return ops_.flashInterfaceTest(buf, rec_.interfaceSubCode, rec_.interfaceStatus);
  });
  if (stopped()) return;
  runStep(4, [&] { return ops_.dramTest(buf); });
  if (stopped()) return;

  if (t[5] || t[6] || t[8]) {
    systemBlockGate();
    if (failed_) {
      finish();
      return;
    }
  }
  if (stopped()) return;

  runStep(5, [&] {
    rec_.interfaceSubCode = 0;
    return ops_.preformat(buf, s_.eraseSearch, s_.laterBad, s_.repairUsed);
  });
  if (stopped()) return;
  if (t[6]) {
    ebPath_ = chooseEbPath();
    runStep(6, [&] {
      return ops_.downloadFirmware(buf, s_.parameters, rec_.serialNumber.str(), ebPath_, s_.firmwareFamily);
    });
    // An EB name reserved but left empty (no export, or no download) is given back.
    struct stat st {};
    if (ebReserved_ && stat(ebPath_.c_str(), &st) == 0 && st.st_size == 0) unlink(ebPath_.c_str());
  } else {
    rec_.stepStatus[6] = 0;
  }
  if (stopped()) return;
  runStep(7, [&] { return ops_.quickRwTest(buf); });
  if (stopped()) return;
  if (t[8]) tableCheck(8, "Check Tables");
  if (stopped()) return;
  // After the R/W test and before the format, so the format is what the drive
  // keeps. The data is only worth putting back when no step of this sequence
  // overwrites it anyway: the format, or an R/W test or erase (sector 0 at least).
  const bool dataKept = !t[7] && !t[9] && !t[19] && !t[20] && !t[21] && !t[22];
  runStep(kCapacityProbeItem, [&] { return ops_.capacityProbe(buf, rec_.serialNumber.str(), dataKept); });
  if (stopped()) return;
  if (t[9]) diskFormat();
  if (stopped()) return;
  if (t[6] && t[10]) copyImage();
  if (stopped()) return;
  runStep(11, [&] {
    return ops_.checkTemperature(buf, static_cast<std::uint8_t>(s_.profile.CheckMaxTemperatureValue & 0xFF),
                                 rec_.temperature);
  });
  if (stopped()) return;

  bool anyIdentity = false;
  for (int n = 12; n <= 23; ++n) anyIdentity = anyIdentity || t[static_cast<std::size_t>(n)];
  if (anyIdentity && !failed_) identityRead();
  if (stopped()) return;

  const GlobalParameter& gp = s_.parameters;
  compareText(12, gp.ModelNumber, id_.model, 24, false);
  compareText(13, gp.FirmwareRevision, id_.firmware, 8, false);
  compareText(14, gp.InquiryVendor, id_.vendorKnown ? id_.vendor : std::string(), gp.InquiryVendor.size(), true);
  compareText(15, gp.InquiryProduct, id_.vendorKnown ? id_.product : std::string(), gp.InquiryProduct.size(), true);
  if (stopped()) return;

  auto capacityStep = [&](int step, std::uint64_t expected, bool leaveLoader) {
    if (!t[static_cast<std::size_t>(step)]) return;
    // Read as soon as the step is enabled, before the failed flag is looked at.
    if (leaveLoader) ops_.leaveLoaderMode(buf);
    std::uint64_t sectors = ops_.readCapacitySectors();
    runStep(step, [&] { return sectors != 0 && sectors == expected; });
  };
  capacityStep(16, static_cast<std::uint64_t>(s_.profile.IDEMACapacity) * kIdemaStep + kIdemaOffset, true);
  compareText(17, s_.barcodeSerial, id_.serial, 20, false);
  capacityStep(18, static_cast<std::uint64_t>(static_cast<std::uint32_t>(s_.profile.LBACapacity)), false);
  if (stopped()) return;

  runStep(19, [&] { return ops_.quickRwTest(buf); });
  if (stopped()) return;
  runStep(20, [&] { return ops_.rwTestPercentage(buf, s_.profile.RWTestPercentage); });
  if (stopped()) return;
  runStep(21, [&] { return ops_.rwTestPercentage(buf, 100); });
  if (stopped()) return;
  runStep(22, [&] { return ops_.eraseAllData(buf); });
  if (stopped()) return;
  if (t[23]) tableCheck(23, "Check Tables");
  if (stopped()) return;
  finish();
}

void PortWorker::systemBlockGate() {
  WorkBuffer buf(buffer_);
  if (s_.profile.TestItemEnabled[5] && s_.eraseSearch) ops_.eraseSearch(buf);  // its answer is not looked at
  if (failed_) return;
  if (!ops_.findSystemBlocks(buf)) fail(0, kCheckLoaderBlockCode, true);
}

void PortWorker::tableCheck(int step, const char* announceAs) {
  auto& status = rec_.stepStatus[static_cast<std::size_t>(step)];
  status = 2;
  if (failed_) {
    status = -1;
    gaugeStep();
    return;
  }
  publish();
  announce(announceAs);
  WorkBuffer buf(buffer_);
  bool ok = ops_.checkTables(buf);
  if (ok) {
    ops_.leaveLoaderMode(buf);
    std::array<std::uint8_t, 640> rows{};
    std::array<std::uint32_t, 5> totals{};
    ok = ops_.countBadBlocks(buf, rows, totals);
    if (ok) {
      rec_.badBlockTotals = totals;
      rec_.badBlocksRead = true;
    }
    if (ok && (totals[1] || totals[2] || totals[3] || totals[4])) {
      buf[0] = 0xBB;
      for (std::size_t w = 0; w < 5; ++w) {
        for (std::size_t b = 0; b < 4; ++b) buf[1 + 4 * w + b] = static_cast<std::uint8_t>(totals[w] >> (8 * b));
      }
      ok = false;
    }
  }
  if (ok) {
    status = 1;
  } else {
    fail(step, buf[0] == 0xBB ? kBadBlockOverCode : step, true);
  }
  gaugeStep();
}

void PortWorker::diskFormat() {
  auto& status = rec_.stepStatus[9];
  status = 2;
  if (failed_) {
    status = -1;
    gaugeStep();
    return;
  }
  publish();
  announce("Disk Format");
  std::string volume;
  const bool ok = ops_.diskFormat(s_.profile.DiskLabel, volume);
  rec_.volume.assign(volume);
  if (ok) {
    rec_.formatted = 1;
    status = 1;
  } else {
    if (!failed_) rec_.resultCode = rec_.shownCode = 9;
    failed_ = true;
    rec_.formatted = 0;
    status = -1;
  }
  gaugeStep();
}

void PortWorker::copyImage() {
  auto& status = rec_.stepStatus[10];
  status = 2;
  if (failed_) {
    status = -1;
    publish();
    return;
  }
  publish();
  announce("Copy Image");
  WorkBuffer buf(buffer_);
  ops_.leaveLoaderMode(buf);
  bool ok = ops_.copyImage(s_.profile.CopyImagePath);
  for (int i = 0; ok && i < 2; ++i) {
    ok = s_.path == TransportPath::UsbPath ? ops_.readSectors(500, 128, buf) : ops_.flushCache();
  }
  ok = ok && ops_.checkImage(s_.profile.CopyImagePath);
  if (ok) {
    status = 1;
  } else {
    fail(10, 10, false);
  }
  publish();
}

void PortWorker::identityRead() {
  WorkBuffer buf(buffer_);
  const auto& t = s_.profile.TestItemEnabled;
  if (s_.path == TransportPath::SataPath) {
    if (ops_.identifyDevice(buf)) {
      id_.model = ataText(buf, 54, 40);
      id_.firmware = ataText(buf, 46, 8);
      id_.serial = ataText(buf, 20, 20);
      rec_.serialNumber.assign(id_.serial);  // as read, blanks and all
    }
    // Vendor and product live in the USB identity record; a drive without a USB image has none.
    if (t[14] || t[15]) {
      if (auto usb = ops_.readUsbIdentity(buf)) {
        id_.vendor = usb->vendor;
        id_.product = usb->product;
        id_.vendorKnown = true;
      }
    }
  } else {
    if (ops_.inquiry(buf)) id_.model.assign(reinterpret_cast<const char*>(buf.data()) + 8, 24);
    if (auto usb = ops_.readUsbIdentity(buf)) {
      id_.vendor = usb->vendor;
      id_.product = usb->product;
      id_.serial = usb->serial;
      id_.vendorKnown = true;
      rec_.serialNumber.assign(id_.serial);
    }
  }
  publish();
}

void PortWorker::compareText(int step, const std::string& expected, const std::string& actual, std::size_t width,
                             bool zeroFill) {
  runStep(step, [&] {
    if (zeroFill && !id_.vendorKnown) return false;  // nothing read is never a pass
    // Both sides padded alike, so a drive text shorter than the field compares as blanks.
    const char pad = zeroFill ? '\0' : ' ';
    std::string want = expected.substr(0, std::min<std::size_t>(expected.size(), 80));
    want.resize(80, pad);
    std::string got = actual;
    got.resize(std::max<std::size_t>(got.size(), 80), pad);
    return want.compare(0, width, got, 0, width) == 0;
  });
}

std::string PortWorker::chooseEbPath() {
  const std::string serial = SafeFileNamePart(rec_.serialNumber.str());
  for (int n = -1; n < 10000; ++n) {
    std::string path = s_.logPath + serial + (n < 0 ? std::string() : "(" + std::to_string(n) + ")") + "_EB.txt";
    // Created at once, so two ports sharing a serial never get the same name.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      close(fd);
      ebReserved_ = true;
      return path;
    }
    if (errno != EEXIST) return path;
  }
  return s_.logPath + serial + "_EB.txt";
}

void PortWorker::finish() {
  if (stopped()) return;
  rec_.stepStatus[25] = failed_ ? -1 : 1;
  rec_.yieldEvent = rec_.stepStatus[25];
  display_.gauge(s_.slot, 100);
  publish_(rec_, details_.get());
  display_.refresh();
}

}  // namespace qk
