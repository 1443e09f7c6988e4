#include "diskops/RwTests.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "diskops/RwPattern.h"
#include "platform/DebugOutput.h"

namespace qk {

namespace {

bool fail(std::uint8_t* buffer, RwFailureRecord r) {
  r.store(buffer);
  return false;
}

// No capacity means nothing can be tested: a failure, never a pass over zero sectors.
bool noCapacity(DiskJob& job, std::uint8_t* buffer) {
  debugPrintf("%s: capacity unknown", job.device.path().c_str());
  return fail(buffer, {});
}

struct QuickBlock {
  std::uint32_t sectors, offset;
};

constexpr QuickBlock kQuickBlocks[] = {
    {128, 0},     {128, 0},     {128, 128},   {128, 128},   {128, 256},   {128, 256},   {1, 150},
    {1, 150},     {1, 180000},  {5, 100033},  {4, 80058},   {26, 5000},   {5, 100033},  {1, 180000},
    {26, 5000},   {126, 15000}, {33, 154900}, {4, 80058},   {126, 15000}, {33, 154900},
};

class Gauge {
 public:
  explicit Gauge(ProgressObserver* o) : o_(o) {}
  void set(bool visible, int percent, GaugeColour c) {
    if (o_) o_->secondGauge(visible, percent, c);
  }

 private:
  ProgressObserver* o_;
};

}  // namespace

bool WriteBlock(DiskJob& job, std::uint8_t* buffer, std::uint32_t n, std::uint32_t s) {
  RwPattern::fill(buffer, s, n);
  if (job.device.writeSectors(s, n, buffer)) return true;
  return fail(buffer, {RwFailureRecord::WriteFailed, s});
}

bool VerifyBlock(DiskJob& job, std::uint8_t* buffer, std::uint32_t n, std::uint32_t s) {
  std::memset(buffer, 0, std::size_t{n} * 512);
  if (!job.device.readSectors(s, n, buffer)) return fail(buffer, {RwFailureRecord::ReadFailed, s});
  const std::int64_t at = RwPattern::firstMismatch(buffer, s, n);
  if (at < 0) return true;
  const auto i = static_cast<std::uint32_t>(at);
  const std::uint32_t received = buffer[2 * i] | buffer[2 * i + 1] << 8;
  return fail(buffer, {RwFailureRecord::DataDiffer, s, RwPattern::word(s, i), received, i});
}

bool WriteVerifyBlock(DiskJob& job, std::uint8_t* buffer, std::uint32_t n, std::uint32_t s) {
  if (!WriteBlock(job, buffer, n, s)) return false;
  std::memset(buffer, 0, std::size_t{n} * 512);
  job.device.flushCache();
  if (!job.clock.sleepFor(10, job.stop)) return fail(buffer, {});
  return VerifyBlock(job, buffer, n, s);
}

bool QuickRwTest(DiskJob& job, std::uint8_t* buffer) {
  job.device.leaveLoaderMode(buffer);
  const std::uint32_t sectors = job.device.capacitySectors();
  if (sectors == 0) return noCapacity(job, buffer);
  const std::uint32_t mb = sectors / 2048;
  const std::uint32_t gigabytes = mb / 1024;
  const std::uint32_t k = ((mb / 16384) + 1) & 0xFF;
  for (std::uint32_t g = 0; g < gigabytes; ++g) {
    if (k != 0 && g % k != 0) continue;
    const std::uint32_t c = g * 2097152u;
    for (const auto& b : kQuickBlocks) {
      if (!WriteVerifyBlock(job, buffer, b.sectors, c + b.offset)) return false;
    }
  }
  const std::uint32_t last = job.device.capacitySectors();
  if (last == 0) return noCapacity(job, buffer);
  if (last == 8192) return fail(buffer, {});
  std::memset(buffer, 0xFF, 512);
  if (!job.device.writeSectors(0, 1, buffer)) return fail(buffer, {RwFailureRecord::WriteFailed, 0});
  if (!WriteVerifyBlock(job, buffer, 1, last - 1)) return false;
  job.device.flushCache();
  return true;
}

bool RWTestPercentageWithProgress(DiskJob& job, std::uint8_t* buffer, std::uint16_t percent,
                                  ProgressObserver* observer) {
  const std::uint32_t sectors = job.device.capacitySectors();
  if (sectors == 0) return noCapacity(job, buffer);
  Gauge gauge(observer);
  gauge.set(true, 0, kGaugeWriting);
  const std::uint64_t end = percent < 100 ? std::uint64_t{sectors} * percent / 100 : sectors;
  auto shown = [end](std::uint64_t at) { return static_cast<int>(at * 100 / end); };

  bool ok = true;
  for (std::uint64_t s = 0; s < end && ok; s += kRwBlockSectors) {
    if (job.stop.stop_requested()) return fail(buffer, {});
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kRwBlockSectors, end - s));
    ok = WriteBlock(job, buffer, n, static_cast<std::uint32_t>(s));
    if (ok) gauge.set(true, shown(s + n), kGaugeWriting);
  }
  job.device.flushCache();
  if (!job.clock.sleepFor(3000, job.stop)) return fail(buffer, {});
  if (ok) {
    gauge.set(true, 0, kGaugeVerifying);
    for (std::uint64_t s = 0; s < end && ok; s += kRwBlockSectors) {
      if (job.stop.stop_requested()) return fail(buffer, {});
      const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kRwBlockSectors, end - s));
      ok = VerifyBlock(job, buffer, n, static_cast<std::uint32_t>(s));
      if (ok) gauge.set(true, shown(s + n), kGaugeVerifying);
    }
  }
  gauge.set(false, ok ? 100 : 0, kGaugeVerifying);
  return ok;
}

bool EraseAllData(DiskJob& job, RwFailureRecord* failure, ProgressObserver* progress) {
  const std::uint32_t sectors = job.device.capacitySectors();
  if (sectors == 0) {
    debugPrintf("%s: capacity unknown", job.device.path().c_str());
    if (failure) *failure = {};
    return false;
  }
  std::vector<std::uint8_t> ones(kRwBufferBytes, 0xFF);
  for (std::uint64_t s = 0; s < sectors; s += kRwBlockSectors) {
    if (job.stop.stop_requested()) return false;
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kRwBlockSectors, sectors - s));
    if (!job.device.writeSectors(static_cast<std::uint32_t>(s), n, ones.data())) {
      if (failure) *failure = {RwFailureRecord::WriteFailed, static_cast<std::uint32_t>(s)};
      return false;
    }
    if (progress) progress->secondGauge(true, static_cast<int>((s + n) * 100 / sectors), kGaugeWriting);
  }
  if (progress) progress->secondGauge(false, 100, kGaugeWriting);
  return true;
}

}  // namespace qk
