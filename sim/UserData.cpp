#include "sim/UserData.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <istream>
#include <map>
#include <ostream>
#include <unordered_map>
#include <vector>

#include "sim/StreamIo.h"

namespace qk::sim {

void FillTestPattern(std::uint64_t lba, std::uint32_t sectors, std::uint8_t* out) {
  std::uint32_t word = static_cast<std::uint32_t>(lba * 256);
  const std::uint64_t words = static_cast<std::uint64_t>(sectors) * 256;
  for (std::uint64_t i = 0; i < words; ++i, ++word) {
    out[2 * i] = static_cast<std::uint8_t>(word);
    out[2 * i + 1] = static_cast<std::uint8_t>(word >> 8);
  }
}

namespace {

constexpr std::uint32_t kChunkSectors = 128;
constexpr std::uint32_t kChunkBytes = kChunkSectors * UserData::kSectorSize;

enum class Kind : std::uint8_t { Zero, Ones, Pattern, Raw };

// Chunks of one kind in runs: a pattern pass over a whole drive is one run.
// Gaps between runs are zero; raw chunks keep their bytes aside. Sectors
// written into a chunk of one kind are kept beside it: a zero, 0xFF or pattern
// sector as a mark, a few others with their bytes. So odd-sized pattern blocks
// and writes scattered over a large drive do not cost a whole chunk each.
class ChunkStore : public UserData {
 public:
  explicit ChunkStore(std::uint32_t sectors) : UserData(sectors) {}

  bool read(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) override {
    forEachPiece(lba, count, [&](std::uint64_t chunk, std::uint32_t offset, std::uint32_t bytes) {
      materialize(chunk, offset, bytes, out);
      out += bytes;
    });
    return true;
  }

  bool write(std::uint32_t lba, std::uint32_t count, const std::uint8_t* in) override {
    forEachPiece(lba, count, [&](std::uint64_t chunk, std::uint32_t offset, std::uint32_t bytes) {
      if (bytes == kChunkBytes) {
        if (auto it = loose_.find(chunk); it != loose_.end()) drop(it);
        store(chunk, in);
      } else if (!writeLoose(chunk, offset, bytes, in)) {
        writeInto(chunk, offset, bytes, in);
      }
      in += bytes;
    });
    return true;
  }

  std::uint64_t footprintBytes() const override {
    std::uint64_t loose = 0;
    for (const auto& [chunk, l] : loose_) loose += 64 + sizeof(Loose) + std::uint64_t{l.raws} * kSectorSize;
    return runs_.size() * 64 + raw_.size() * (kChunkBytes + 64) + loose;
  }

  // Layout: run count, runs (first, last, kind), raw count, raw chunks (index, bytes).
  // A chunk with sectors beside it is saved whole, as a raw chunk.
  void save(std::ostream& out) const override {
    putU64(out, runs_.size());
    for (const auto& [first, run] : runs_) {
      putU64(out, first);
      putU64(out, run.last);
      out.put(static_cast<char>(run.kind));
    }
    putU64(out, raw_.size() + loose_.size());
    for (const auto& [chunk, bytes] : raw_) {
      putU64(out, chunk);
      out.write(reinterpret_cast<const char*>(bytes.data()), kChunkBytes);
    }
    std::vector<std::uint8_t> whole(kChunkBytes);
    for (const auto& [chunk, l] : loose_) {
      materialize(chunk, 0, kChunkBytes, whole.data());
      putU64(out, chunk);
      out.write(reinterpret_cast<const char*>(whole.data()), kChunkBytes);
    }
  }

  bool load(std::istream& in) override {
    std::uint64_t n = 0;
    if (!getU64(in, n)) return false;
    std::map<std::uint64_t, Run> runs;
    for (std::uint64_t i = 0; i < n; ++i) {
      std::uint64_t first, last;
      char kind;
      if (!getU64(in, first) || !getU64(in, last) || !in.get(kind) || last < first ||
          static_cast<std::uint8_t>(kind) > static_cast<std::uint8_t>(Kind::Raw)) {
        return false;
      }
      runs[first] = Run{last, static_cast<Kind>(kind)};
    }
    if (!getU64(in, n)) return false;
    std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> raw;
    for (std::uint64_t i = 0; i < n; ++i) {
      std::uint64_t chunk;
      if (!getU64(in, chunk)) return false;
      std::vector<std::uint8_t> bytes(kChunkBytes);
      if (!in.read(reinterpret_cast<char*>(bytes.data()), kChunkBytes)) return false;
      raw[chunk] = std::move(bytes);
    }
    runs_ = std::move(runs);
    raw_ = std::move(raw);
    loose_.clear();
    pool_.clear();
    for (const auto& [chunk, bytes] : raw_) {
      if (kindOf(chunk) != Kind::Raw) setKind(chunk, Kind::Raw);
    }
    return true;
  }

 private:
  struct Run {
    std::uint64_t last;
    Kind kind;
  };

  // Sectors of a chunk that differ from its kind: per sector 0 (the chunk's
  // own), or a Kind + 1; the bytes of Raw ones aside.
  static constexpr std::size_t kLooseRawLimit = 8;
  struct Loose {
    std::array<std::uint8_t, kChunkSectors> mark{};
    std::array<std::uint8_t, kLooseRawLimit> sector{};  // of the raw ones
    std::array<std::uint32_t, kLooseRawLimit> slot{};   // their bytes in the pool
    std::uint8_t raws = 0;
    int find(std::uint32_t s) const {
      for (int i = 0; i < raws; ++i) {
        if (sector[static_cast<std::size_t>(i)] == s) return i;
      }
      return -1;
    }
  };

  // Loose raw sectors in 64 KiB slabs: one allocation per slab, not per
  // sector. Fifty drives taking single sectors from the allocator at once grow
  // its heaps a page at a time, each growth a call into the kernel.
  class SectorPool {
   public:
    static constexpr std::uint32_t kSlabSectors = 128;
    std::uint32_t take() {
      ++live_;
      if (!free_.empty()) {
        const std::uint32_t s = free_.back();
        free_.pop_back();
        return s;
      }
      if (next_ == slabs_.size() * kSlabSectors) {
        slabs_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(std::size_t{kSlabSectors} * kSectorSize));
      }
      return next_++;
    }
    void give(std::uint32_t s) {
      if (--live_ == 0) return clear();
      free_.push_back(s);
    }
    std::uint8_t* at(std::uint32_t s) { return slabs_[s / kSlabSectors].get() + std::size_t{s % kSlabSectors} * kSectorSize; }
    const std::uint8_t* at(std::uint32_t s) const {
      return slabs_[s / kSlabSectors].get() + std::size_t{s % kSlabSectors} * kSectorSize;
    }
    void clear() {
      slabs_.clear();
      free_.clear();
      next_ = live_ = 0;
    }

   private:
    std::vector<std::unique_ptr<std::uint8_t[]>> slabs_;
    std::vector<std::uint32_t> free_;
    std::uint32_t next_ = 0, live_ = 0;
  };

  template <typename F>
  static void forEachPiece(std::uint32_t lba, std::uint32_t count, F f) {
    std::uint64_t s = lba;
    const std::uint64_t end = static_cast<std::uint64_t>(lba) + count;
    while (s < end) {
      const std::uint64_t chunk = s / kChunkSectors;
      const std::uint64_t inChunk = s % kChunkSectors;
      const std::uint64_t n = std::min<std::uint64_t>(kChunkSectors - inChunk, end - s);
      f(chunk, static_cast<std::uint32_t>(inChunk * kSectorSize), static_cast<std::uint32_t>(n * kSectorSize));
      s += n;
    }
  }

  Kind kindOf(std::uint64_t chunk) const {
    auto it = runs_.upper_bound(chunk);
    if (it == runs_.begin()) return Kind::Zero;
    --it;
    return chunk <= it->second.last ? it->second.kind : Kind::Zero;
  }

  // Both chunk parities of the pattern (a chunk starts at a multiple of 32768
  // words), made once for every drive of the process.
  struct Patterns {
    std::uint8_t even[kChunkBytes], odd[kChunkBytes];
    Patterns() {
      FillTestPattern(0, kChunkSectors, even);
      FillTestPattern(kChunkSectors, kChunkSectors, odd);
    }
  };
  static const std::uint8_t* pattern(std::uint64_t chunk) {
    static const Patterns patterns;
    return (chunk & 1) ? patterns.odd : patterns.even;
  }

  void base(std::uint64_t chunk, std::uint32_t offset, std::uint32_t bytes, std::uint8_t* out) const {
    switch (kindOf(chunk)) {
      case Kind::Zero: std::memset(out, 0, bytes); break;
      case Kind::Ones: std::memset(out, 0xFF, bytes); break;
      case Kind::Pattern: std::memcpy(out, pattern(chunk) + offset, bytes); break;
      case Kind::Raw: std::memcpy(out, raw_.at(chunk).data() + offset, bytes); break;
    }
  }

  // One sector of `kind` at sector `index` of the chunk.
  void fill(std::uint64_t chunk, Kind kind, std::uint32_t index, std::uint8_t* out) const {
    switch (kind) {
      case Kind::Zero: std::memset(out, 0, kSectorSize); break;
      case Kind::Ones: std::memset(out, 0xFF, kSectorSize); break;
      case Kind::Pattern: std::memcpy(out, pattern(chunk) + index * kSectorSize, kSectorSize); break;
      case Kind::Raw: break;  // the caller copies the bytes
    }
  }

  // Offsets and lengths are whole sectors.
  void materialize(std::uint64_t chunk, std::uint32_t offset, std::uint32_t bytes, std::uint8_t* out) const {
    base(chunk, offset, bytes, out);
    auto it = loose_.find(chunk);
    if (it == loose_.end()) return;
    const Loose& l = it->second;
    const std::uint32_t first = offset / kSectorSize, n = bytes / kSectorSize;
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint8_t m = l.mark[first + i];
      if (m == 0) continue;
      std::uint8_t* at = out + static_cast<std::size_t>(i) * kSectorSize;
      if (static_cast<Kind>(m - 1) == Kind::Raw) std::memcpy(at, pool_.at(l.slot[static_cast<std::size_t>(l.find(first + i))]), kSectorSize);
      else fill(chunk, static_cast<Kind>(m - 1), first + i, at);
    }
  }

  // What one sector of data is, seen from where it lies.
  Kind kindOfSector(std::uint64_t chunk, std::uint32_t index, const std::uint8_t* data) const {
    if (data[0] == 0 && std::memcmp(data, data + 1, kSectorSize - 1) == 0) return Kind::Zero;
    if (data[0] == 0xFF && std::memcmp(data, data + 1, kSectorSize - 1) == 0) return Kind::Ones;
    if (std::memcmp(data, pattern(chunk) + index * kSectorSize, kSectorSize) == 0) return Kind::Pattern;
    return Kind::Raw;
  }

  // Keeps a short write into a chunk of one kind beside it; false when the
  // chunk is raw or would hold too many raw sectors (it is then stored whole).
  bool writeLoose(std::uint64_t chunk, std::uint32_t offset, std::uint32_t bytes, const std::uint8_t* in) {
    const Kind own = kindOf(chunk);
    if (own == Kind::Raw) return false;
    const std::uint32_t first = offset / kSectorSize, n = bytes / kSectorSize;
    Kind kinds[kChunkSectors];
    auto it = loose_.find(chunk);
    std::size_t raws = it == loose_.end() ? 0 : it->second.raws;
    for (std::uint32_t i = 0; i < n; ++i) {
      kinds[i] = kindOfSector(chunk, first + i, in + static_cast<std::size_t>(i) * kSectorSize);
      const bool wasRaw = it != loose_.end() && it->second.find(first + i) >= 0;
      if (kinds[i] == Kind::Raw && !wasRaw) ++raws;
      if (kinds[i] != Kind::Raw && wasRaw) --raws;
    }
    if (raws > kLooseRawLimit) return false;
    if (it == loose_.end()) {
      bool any = false;
      for (std::uint32_t i = 0; i < n && !any; ++i) any = kinds[i] != own;
      if (!any) return true;  // the chunk already holds exactly this
      it = loose_.emplace(chunk, Loose{}).first;
    }
    Loose& l = it->second;
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t s = first + i;
      // A sector back at the chunk's own content needs nothing beside it.
      l.mark[s] = kinds[i] == own ? 0 : static_cast<std::uint8_t>(static_cast<int>(kinds[i]) + 1);
      int at = l.find(s);
      if (kinds[i] == Kind::Raw) {
        if (at < 0) {
          at = l.raws++;
          l.sector[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(s);
          l.slot[static_cast<std::size_t>(at)] = pool_.take();
        }
        std::memcpy(pool_.at(l.slot[static_cast<std::size_t>(at)]), in + static_cast<std::size_t>(i) * kSectorSize,
                    kSectorSize);
      } else if (at >= 0) {
        // The last raw one takes the freed place.
        pool_.give(l.slot[static_cast<std::size_t>(at)]);
        --l.raws;
        l.sector[static_cast<std::size_t>(at)] = l.sector[l.raws];
        l.slot[static_cast<std::size_t>(at)] = l.slot[l.raws];
      }
    }
    settle(chunk, it);
    return true;
  }

  // A chunk whose sectors beside it all agree becomes a chunk of that kind.
  void settle(std::uint64_t chunk, std::unordered_map<std::uint64_t, Loose>::iterator it) {
    const Loose& l = it->second;
    if (l.raws != 0) return;
    const std::uint8_t m = l.mark[0];
    for (std::uint8_t x : l.mark) {
      if (x != m) return;
    }
    if (m != 0) setKind(chunk, static_cast<Kind>(m - 1));
    loose_.erase(it);
  }

  void drop(std::unordered_map<std::uint64_t, Loose>::iterator it) {
    for (int i = 0; i < it->second.raws; ++i) pool_.give(it->second.slot[static_cast<std::size_t>(i)]);
    loose_.erase(it);
  }

  static bool allBytes(const std::uint8_t* p, std::uint8_t v) {
    if (p[0] != v) return false;
    return std::memcmp(p, p + 1, kChunkBytes - 1) == 0;
  }

  static Kind kindOfChunk(std::uint64_t chunk, const std::uint8_t* data) {
    if (std::memcmp(data, pattern(chunk), kChunkBytes) == 0) return Kind::Pattern;
    if (allBytes(data, 0)) return Kind::Zero;
    if (allBytes(data, 0xFF)) return Kind::Ones;
    return Kind::Raw;
  }

  void store(std::uint64_t chunk, const std::uint8_t* data) {
    const Kind kind = kindOfChunk(chunk, data);
    if (kind == Kind::Raw) raw_[chunk].assign(data, data + kChunkBytes);
    else raw_.erase(chunk);
    if (kindOf(chunk) != kind) setKind(chunk, kind);
  }

  // A short write that cannot be kept beside its chunk: the chunk's own bytes
  // take it, made from the chunk's content first unless they are kept already.
  void writeInto(std::uint64_t chunk, std::uint32_t offset, std::uint32_t bytes, const std::uint8_t* in) {
    auto at = raw_.find(chunk);
    if (at == raw_.end()) {
      std::vector<std::uint8_t> whole(kChunkBytes);
      materialize(chunk, 0, kChunkBytes, whole.data());
      if (auto it = loose_.find(chunk); it != loose_.end()) drop(it);
      at = raw_.emplace(chunk, std::move(whole)).first;
      if (kindOf(chunk) != Kind::Raw) setKind(chunk, Kind::Raw);
    }
    std::memcpy(at->second.data() + offset, in, bytes);
    // Written back to one kind, the chunk needs no bytes of its own.
    const Kind kind = kindOfChunk(chunk, at->second.data());
    if (kind == Kind::Raw) return;
    raw_.erase(at);
    setKind(chunk, kind);
  }

  void setKind(std::uint64_t chunk, Kind kind) {
    // Cut the chunk out of the run holding it.
    auto it = runs_.upper_bound(chunk);
    if (it != runs_.begin()) {
      auto prev = std::prev(it);
      if (chunk <= prev->second.last) {
        Run run = prev->second;
        std::uint64_t first = prev->first;
        runs_.erase(prev);
        if (first < chunk) runs_[first] = Run{chunk - 1, run.kind};
        if (chunk < run.last) runs_[chunk + 1] = Run{run.last, run.kind};
      }
    }
    if (kind == Kind::Zero) return;
    std::uint64_t first = chunk, last = chunk;
    auto next = runs_.find(chunk + 1);
    if (next != runs_.end() && next->second.kind == kind) {
      last = next->second.last;
      runs_.erase(next);
    }
    auto after = runs_.upper_bound(chunk);
    if (after != runs_.begin()) {
      auto prev = std::prev(after);
      if (prev->second.last + 1 == chunk && prev->second.kind == kind) {
        prev->second.last = last;
        return;
      }
    }
    runs_[first] = Run{last, kind};
  }

  std::map<std::uint64_t, Run> runs_;
  std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> raw_;
  std::unordered_map<std::uint64_t, Loose> loose_;
  SectorPool pool_;
};

class FileData : public UserData {
 public:
  FileData(int fd, std::uint32_t sectors) : UserData(sectors), fd_(fd) {}
  ~FileData() override { ::close(fd_); }

  bool setSectors(std::uint32_t sectors) override {
    struct stat st{};
    off_t want = static_cast<off_t>(sectors) * kSectorSize;
    if (::fstat(fd_, &st) != 0 || (st.st_size < want && ::ftruncate(fd_, want) != 0)) return false;
    return UserData::setSectors(sectors);
  }
  bool read(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) override {
    return transfer(lba, count, out, false);
  }
  bool write(std::uint32_t lba, std::uint32_t count, const std::uint8_t* in) override {
    return transfer(lba, count, const_cast<std::uint8_t*>(in), true);
  }
  bool savesItself() const override { return true; }

 private:
  bool transfer(std::uint32_t lba, std::uint32_t count, std::uint8_t* buf, bool toFile) {
    size_t left = static_cast<size_t>(count) * kSectorSize;
    off_t at = static_cast<off_t>(lba) * kSectorSize;
    while (left > 0) {
      ssize_t n = toFile ? ::pwrite(fd_, buf, left, at) : ::pread(fd_, buf, left, at);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) {  // beyond the end of a file someone shortened: zeros
        if (toFile) return false;
        std::memset(buf, 0, left);
        return true;
      }
      buf += n;
      at += n;
      left -= static_cast<size_t>(n);
    }
    return true;
  }

  int fd_;
};

}  // namespace

std::unique_ptr<UserData> UserData::inMemory(std::uint32_t sectors) { return std::make_unique<ChunkStore>(sectors); }

std::unique_ptr<UserData> UserData::inFile(const std::string& path, std::uint32_t sectors, std::string& error) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  auto data = std::make_unique<FileData>(fd, 0);
  if (!data->setSectors(sectors)) {
    error = "cannot size " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  return data;
}

}  // namespace qk::sim
