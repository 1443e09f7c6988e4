#include "diskops/CapacityProbe.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/LittleEndian.h"

namespace qk {

namespace {

constexpr std::size_t kSector = 512;
constexpr std::uint32_t kRunSectors = 128;
constexpr char kMagic[8] = {'Q', 'K', 'P', 'R', 'O', 'B', 'E', '1'};
constexpr std::size_t kIdBytes = 40;
// The head is read back, never written: a stamp of this run found there went
// astray. It costs the drive no writes and nothing to put back.
constexpr std::uint32_t kScanSectors = 16384;
constexpr std::uint64_t kGridPoints = 4096;

void put64(std::uint8_t* p, std::uint64_t v) {
  put32(p, static_cast<std::uint32_t>(v));
  put32(p + 4, static_cast<std::uint32_t>(v >> 32));
}
std::uint64_t le64(const std::uint8_t* p) { return le32(p) | static_cast<std::uint64_t>(le32(p + 4)) << 32; }

std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Stamp sector: 0..7 magic, 8..15 nonce, 16..23 LBA, 24..63 drive id,
// 64..511 filler: a block drawn once per run from the nonce, every word XORed
// with a key of the LBA, so no two stamps share a word of filler. Independent
// words make a stamp in a few vector instructions: every stamp is made twice
// per probe, on fifty drives at once.
class Stamps {
 public:
  explicit Stamps(const CapacityProbeOptions& o) : o_(o) {
    for (std::size_t i = 0; i < kWords; ++i) filler_[i] = mix(o.nonce + 0x632BE59BD9B4E019ull * (i + 1));
  }
  void make(std::uint32_t lba, std::uint8_t* s) const {
    std::memset(s, 0, 64);
    std::memcpy(s, kMagic, sizeof kMagic);
    put64(s + 8, o_.nonce);
    put64(s + 16, lba);
    std::memcpy(s + 24, o_.driveId.data(), std::min(o_.driveId.size(), kIdBytes));
    const std::uint64_t key = mix(o_.nonce ^ mix(lba));
    std::uint64_t words[kWords];
    for (std::size_t i = 0; i < kWords; ++i) words[i] = filler_[i] ^ key;
    std::memcpy(s + 64, words, sizeof words);
  }

 private:
  static constexpr std::size_t kWords = (kSector - 64) / 8;
  const CapacityProbeOptions& o_;
  std::uint64_t filler_[kWords];
};

struct Run {
  std::size_t index;  // of the first position
  std::uint32_t lba, count;
};

void extend(std::vector<Run>& runs, std::size_t index, std::uint32_t lba) {
  if (!runs.empty() && runs.back().lba + runs.back().count == lba && runs.back().count < kRunSectors) {
    ++runs.back().count;
  } else {
    runs.push_back({index, lba, 1});
  }
}

std::vector<Run> runsOf(const std::vector<std::uint32_t>& positions) {
  std::vector<Run> runs;
  for (std::size_t i = 0; i < positions.size(); ++i) extend(runs, i, positions[i]);
  return runs;
}

std::vector<std::uint64_t> divisorsOf(std::uint64_t d) {
  std::vector<std::uint64_t> low, high;
  for (std::uint64_t k = 1; k * k <= d; ++k) {
    if (d % k != 0) continue;
    low.push_back(k);
    if (k != d / k) high.push_back(d / k);
  }
  low.insert(low.end(), high.rbegin(), high.rend());
  return low;
}

class Prober {
 public:
  Prober(DiskJob& job, const CapacityProbeOptions& o, std::uint8_t* buffer)
      : job_(job), o_(o), stamps_(o), buffer_(buffer) {
    stamps_.make(0, mine_);
  }

  CapacityProbeResult run();

 private:
  bool stopped() const { return job_.stop.stop_requested(); }
  bool read(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) {
    if (stopped()) return false;
    moved_ += std::uint64_t{count} * kSector;
    return job_.device.readSectors(lba, count, out);
  }
  bool write(std::uint32_t lba, std::uint32_t count, const std::uint8_t* in) {
    if (stopped()) return false;
    moved_ += std::uint64_t{count} * kSector;
    return job_.device.writeSectors(lba, count, in);
  }
  bool budgetFor(std::uint64_t bytes) const { return moved_ + bytes <= kProbeByteLimit; }
  CapacityProbeRecord classify(std::uint32_t lba, const std::uint8_t* got) const;
  CapacityProbeRecord astray(std::uint32_t lba, const std::uint8_t* got) const;
  bool stampHolds(std::uint32_t lba, bool& held);
  bool aliasesZero(std::uint32_t lba, bool& aliased);
  std::uint64_t estimate(const CapacityProbeRecord& failure);
  void restore();

  DiskJob& job_;
  const CapacityProbeOptions& o_;
  const Stamps stamps_;
  std::uint8_t* buffer_;
  std::uint64_t moved_ = 0;
  std::vector<std::uint32_t> positions_;
  std::vector<Run> runs_;
  std::vector<std::uint8_t> saved_;
  std::uint8_t mine_[kSector];  // what every stamp of this run starts with: magic, nonce, LBA, id
};

CapacityProbeRecord Prober::classify(std::uint32_t lba, const std::uint8_t* got) const {
  std::uint8_t want[kSector];
  stamps_.make(lba, want);
  CapacityProbeRecord r;
  if (std::memcmp(want, got, kSector) == 0) return r;
  r.kind = CapacityProbeRecord::StampWrong;
  r.lba = lba;
  if (std::all_of(got, got + kSector, [](std::uint8_t b) { return b == 0; })) {
    r.found = CapacityProbeRecord::Zeros;
  } else if (std::memcmp(got, kMagic, sizeof kMagic) != 0) {
    r.found = CapacityProbeRecord::OtherData;
  } else if (std::memcmp(got + 8, want + 8, 8) != 0 || std::memcmp(got + 24, want + 24, kIdBytes) != 0) {
    r.found = CapacityProbeRecord::ForeignStamp;
  } else {
    const std::uint64_t other = le64(got + 16);
    std::uint8_t theirs[kSector];
    stamps_.make(static_cast<std::uint32_t>(other), theirs);
    const bool whole = other <= 0xFFFFFFFFull && other != lba && std::memcmp(theirs, got, kSector) == 0;
    r.found = whole ? CapacityProbeRecord::OtherStamp : CapacityProbeRecord::OtherData;
    if (whole) r.foundLba = static_cast<std::uint32_t>(other);
  }
  return r;
}

// A sector of the head that was not stamped: any stamp of this run there came
// from another address.
CapacityProbeRecord Prober::astray(std::uint32_t lba, const std::uint8_t* got) const {
  CapacityProbeRecord r;
  if (std::memcmp(got, mine_, 16) != 0 || std::memcmp(got + 24, mine_ + 24, kIdBytes) != 0) return r;
  r.kind = CapacityProbeRecord::StampAstray;
  r.lba = lba;
  const std::uint64_t other = le64(got + 16);
  std::uint8_t theirs[kSector];
  if (other <= 0xFFFFFFFFull) stamps_.make(static_cast<std::uint32_t>(other), theirs);
  const bool whole = other <= 0xFFFFFFFFull && other != lba && std::memcmp(theirs, got, kSector) == 0;
  r.found = whole ? CapacityProbeRecord::OtherStamp : CapacityProbeRecord::OtherData;
  if (whole) r.foundLba = static_cast<std::uint32_t>(other);
  return r;
}

// One address on its own: its stamp written and read straight back.
bool Prober::stampHolds(std::uint32_t lba, bool& held) {
  std::uint8_t keep[kSector], got[kSector];
  if (o_.keepData && !read(lba, 1, keep)) return false;
  stamps_.make(lba, buffer_);
  bool ok = write(lba, 1, buffer_) && read(lba, 1, got);
  held = ok && classify(lba, got).kind == CapacityProbeRecord::None;
  if (o_.keepData) ok = write(lba, 1, keep) && ok;
  return ok;
}

// Whether `lba` and address 0 land on the same sector: 0 written last wins both.
bool Prober::aliasesZero(std::uint32_t lba, bool& aliased) {
  std::uint8_t keep[kSector], got[kSector];
  const bool probed = std::binary_search(positions_.begin(), positions_.end(), lba);
  // A probed address goes back with the rest; any other is put back here.
  if (o_.keepData && !probed && !read(lba, 1, keep)) return false;
  stamps_.make(lba, buffer_);
  bool ok = write(lba, 1, buffer_);
  stamps_.make(0, buffer_);
  ok = ok && write(0, 1, buffer_) && read(lba, 1, got);
  aliased = ok && std::memcmp(got, buffer_, kSector) == 0;
  if (o_.keepData && !probed) ok = write(lba, 1, keep) && ok;
  return ok;
}

// Sectors below which every stamp held, refined between the last address that
// held and the first that did not. A stamp found at another address tells how
// far apart two aliases are: the smallest divisor of that distance that lands
// on address 0 is where the drive wraps (or the folded address bit). Anything
// else (zeros, foreign data) is narrowed by halving.
std::uint64_t Prober::estimate(const CapacityProbeRecord& failure) {
  const std::uint32_t f = failure.lba;
  // Stamped addresses below f all held.
  const std::size_t failedIndex =
      static_cast<std::size_t>(std::lower_bound(positions_.begin(), positions_.end(), f) - positions_.begin());
  constexpr std::uint64_t kTestBytes = 5 * kSector;
  if (failure.found == CapacityProbeRecord::OtherStamp) {
    // Within one multi-sector write the higher alias lands last, so the
    // address that failed may be the lower of the two.
    const std::uint32_t high = std::max(f, failure.foundLba);
    const std::uint64_t d = high - std::min(f, failure.foundLba);
    for (std::uint64_t c : divisorsOf(d)) {
      if (c > high || !budgetFor(kTestBytes)) break;
      // Addresses below f already held against the later stamp at 0.
      if (std::binary_search(positions_.begin(), positions_.begin() + static_cast<std::ptrdiff_t>(failedIndex), c))
        continue;
      bool aliased = false;
      if (!aliasesZero(static_cast<std::uint32_t>(c), aliased)) break;
      if (aliased) return c;
    }
    return f;
  }
  if (f == 0) return 0;
  std::int64_t lo = failedIndex > 0 ? static_cast<std::int64_t>(positions_[failedIndex - 1]) : -1;
  std::int64_t hi = f;
  while (hi - lo > 1 && budgetFor(kTestBytes)) {
    const std::int64_t mid = lo + (hi - lo) / 2;
    bool held = false;
    if (!stampHolds(static_cast<std::uint32_t>(mid), held)) break;
    (held ? lo : hi) = mid;
  }
  return static_cast<std::uint64_t>(hi);
}

// High addresses first, so on a drive that folds them the low ones end right.
void Prober::restore() {
  if (!o_.keepData) return;
  for (auto r = runs_.rbegin(); r != runs_.rend(); ++r) {
    if (!write(r->lba, r->count, saved_.data() + r->index * kSector)) break;
  }
  job_.device.flushCache();
}

CapacityProbeResult Prober::run() {
  CapacityProbeResult out;
  auto finish = [&](const CapacityProbeRecord& r) {
    r.store(buffer_);
    out.record = r;
    out.passed = r.kind == CapacityProbeRecord::None && !stopped();
    out.bytesMoved = moved_;
    out.positions = positions_.size();
    return out;
  };
  job_.device.leaveLoaderMode(buffer_);
  const std::uint32_t sectors = job_.device.capacitySectors();
  if (sectors == 0) return finish({CapacityProbeRecord::NoCapacity});
  positions_ = CapacityProbePositions(sectors, o_.nonce, o_.randomPositions);
  runs_ = runsOf(positions_);

  if (o_.keepData) {
    saved_.resize(positions_.size() * kSector);
    for (const Run& r : runs_) {
      if (!read(r.lba, r.count, saved_.data() + r.index * kSector))
        return finish({CapacityProbeRecord::ReadFailed, r.lba});
    }
  }
  // Highest first: where two addresses share a sector, the lower one's stamp stays.
  for (auto r = runs_.rbegin(); r != runs_.rend(); ++r) {
    for (std::uint32_t i = 0; i < r->count; ++i) stamps_.make(r->lba + i, buffer_ + i * kSector);
    if (!write(r->lba, r->count, buffer_)) {
      restore();
      return finish({CapacityProbeRecord::WriteFailed, r->lba});
    }
  }
  job_.device.flushCache();

  // Every stamp first, lowest address up; then the head for stamps gone astray.
  CapacityProbeRecord failure;
  for (const Run& r : runs_) {
    if (!read(r.lba, r.count, buffer_)) {
      failure = {CapacityProbeRecord::ReadFailed, r.lba};
      break;
    }
    for (std::uint32_t i = 0; i < r.count && failure.kind == CapacityProbeRecord::None; ++i) {
      failure = classify(r.lba + i, buffer_ + i * kSector);
    }
    if (failure.kind != CapacityProbeRecord::None) break;
  }
  const std::uint32_t head = std::min(sectors, kScanSectors);
  auto stamped = positions_.begin();
  for (std::uint32_t lba = 0; lba < head && failure.kind == CapacityProbeRecord::None; lba += kRunSectors) {
    const std::uint32_t count = std::min(kRunSectors, head - lba);
    if (!read(lba, count, buffer_)) {
      failure = {CapacityProbeRecord::ReadFailed, lba};
      break;
    }
    for (std::uint32_t i = 0; i < count && failure.kind == CapacityProbeRecord::None; ++i) {
      if (stamped != positions_.end() && *stamped == lba + i) {
        ++stamped;  // checked with the stamps
        continue;
      }
      failure = astray(lba + i, buffer_ + i * kSector);
    }
  }
  if (failure.kind == CapacityProbeRecord::StampWrong || failure.kind == CapacityProbeRecord::StampAstray) {
    failure.estimate = estimate(failure);
  }
  restore();
  return finish(failure);
}

std::string format(const char* f, unsigned long long a) {
  char text[128];
  std::snprintf(text, sizeof text, f, a);
  return text;
}

}  // namespace

void CapacityProbeRecord::store(std::uint8_t* b) const {
  put32(b, kind);
  put32(b + 4, lba);
  put32(b + 8, found);
  put32(b + 12, foundLba);
  put64(b + 16, estimate);
}

CapacityProbeRecord CapacityProbeRecord::load(const std::uint8_t* b) {
  return {le32(b), le32(b + 4), le32(b + 8), le32(b + 12), le64(b + 16)};
}

std::vector<std::string> CapacityProbeRecord::describe() const {
  switch (kind) {
    case WriteFailed:
      return {format("Write fail on LBA(%llu)", lba)};
    case ReadFailed:
      return {format("Read fail on LBA(%llu)", lba)};
    case NoCapacity:
      return {"Capacity unreadable"};
    case StampAstray: {
      std::vector<std::string> lines{format("Stamp found on LBA(%llu)", lba), "expected(no stamp)"};
      lines.push_back(found == OtherStamp ? format("received(stamp of LBA %llu)", foundLba)
                                          : std::string("received(damaged stamp)"));
      lines.push_back(format("real capacity about %llu sectors", estimate) + format(" (%llu MB)", estimate / 2048));
      return lines;
    }
    case StampWrong: {
      std::vector<std::string> lines{format("Stamp lost on LBA(%llu)", lba), format("expected(stamp of LBA %llu)", lba)};
      switch (found) {
        case Zeros:
          lines.push_back("received(zeros)");
          break;
        case OtherStamp:
          lines.push_back(format("received(stamp of LBA %llu)", foundLba));
          break;
        case ForeignStamp:
          lines.push_back("received(stamp of another drive or run)");
          break;
        default:
          lines.push_back("received(other data)");
          break;
      }
      lines.push_back(format("real capacity about %llu sectors", estimate) + format(" (%llu MB)", estimate / 2048));
      return lines;
    }
    default:
      return {};
  }
}

std::vector<std::uint32_t> CapacityProbePositions(std::uint32_t sectors, std::uint64_t nonce, int randomPositions) {
  std::vector<std::uint32_t> s;
  if (sectors == 0) return {};
  // A grid no finer than the head: a drive that wraps anywhere up to
  // head x grid sectors sends some grid stamp into the head.
  s.push_back(0);
  for (std::uint32_t i = 0; i < 8 && i < sectors; ++i) s.push_back(sectors - 1 - i);
  const std::uint64_t step = std::max<std::uint64_t>(kScanSectors, (std::uint64_t{sectors} + kGridPoints - 1) / kGridPoints);
  for (std::uint64_t at = step; at < sectors; at += step) s.push_back(static_cast<std::uint32_t>(at));
  for (int bit = 0; bit < 32; ++bit) {
    for (std::uint64_t m : {1, 3, 5, 7}) {
      const std::uint64_t v = m << bit;
      if (v < sectors) s.push_back(static_cast<std::uint32_t>(v));
    }
  }
  std::mt19937_64 rng(nonce);
  std::uniform_int_distribution<std::uint32_t> any(0, sectors - 1);
  for (int i = 0; i < randomPositions; ++i) s.push_back(any(rng));
  std::sort(s.begin(), s.end());
  s.erase(std::unique(s.begin(), s.end()), s.end());
  return s;
}

std::uint32_t CapacityProbeScanSectors(std::uint32_t sectors) { return std::min(sectors, kScanSectors); }

CapacityProbeResult CapacityProbe(DiskJob& job, const CapacityProbeOptions& options, std::uint8_t* buffer) {
  return Prober(job, options, buffer).run();
}

std::uint64_t NewProbeNonce() {
  std::random_device rd;
  return static_cast<std::uint64_t>(rd()) << 32 ^ rd();
}

}  // namespace qk
