#pragma once
// A drive and volumes made for the disk-operation tests: sectors in memory,
// scripted failures and corruption, and a record of what was asked.
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "diskops/DiskJob.h"
#include "diskops/ProgressObserver.h"
#include "platform/Volumes.h"

namespace qk::test {

class FakeDrive : public SectorDevice {
 public:
  explicit FakeDrive(std::uint32_t sectors, std::string path = "/dev/fake") : sectors_(sectors), path_(std::move(path)) {}

  const std::string& path() const override { return path_; }
  bool readSectors(std::uint32_t lba, std::uint32_t count, std::uint8_t* buffer) override {
    log.push_back({'R', lba, count});
    if (hits(readErrors, lba, count) || std::uint64_t{lba} + count > sectors_) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
      auto it = data.find(lba + i);
      if (it == data.end()) std::memset(buffer + i * 512, 0, 512);
      else std::memcpy(buffer + i * 512, it->second.data(), 512);
    }
    // A stored word comes back changed: (LBA, word index within that sector).
    for (auto [at, word] : corrupt) {
      if (at >= lba && at < lba + count) buffer[(at - lba) * 512 + word * 2] ^= 0x5A;
    }
    return true;
  }
  bool writeSectors(std::uint32_t lba, std::uint32_t count, const std::uint8_t* buffer) override {
    log.push_back({'W', lba, count});
    if (hits(writeErrors, lba, count) || std::uint64_t{lba} + count > sectors_) return false;
    for (std::uint32_t i = 0; i < count; ++i) data[lba + i].assign(buffer + i * 512, buffer + (i + 1) * 512);
    return true;
  }
  std::uint32_t capacitySectors() override {
    ++capacityReads;
    return capacityAnswer ? capacityAnswer() : sectors_;
  }
  void flushCache() override { log.push_back({'F', 0, 0}); }
  bool leaveLoaderMode(std::uint8_t*) override {
    ++leaveCalls;
    return true;
  }

  struct Op {
    char kind;  // R, W, F
    std::uint32_t lba, count;
    bool operator==(const Op&) const = default;
  };
  std::vector<Op> log;
  std::map<std::uint32_t, std::vector<std::uint8_t>> data;
  std::set<std::uint32_t> readErrors, writeErrors;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> corrupt;
  std::function<std::uint32_t()> capacityAnswer;
  int capacityReads = 0;
  int leaveCalls = 0;

 private:
  static bool hits(const std::set<std::uint32_t>& bad, std::uint32_t lba, std::uint32_t count) {
    auto it = bad.lower_bound(lba);
    return it != bad.end() && *it < lba + count;
  }
  std::uint32_t sectors_;
  std::string path_;
};

class RecordingGauge : public ProgressObserver {
 public:
  struct Step {
    bool visible;
    int percent;
    GaugeColour colour;
  };
  void secondGauge(bool visible, int percent, GaugeColour colour) override { steps.push_back({visible, percent, colour}); }
  std::vector<Step> steps;
};

}  // namespace qk::test
