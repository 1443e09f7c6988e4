#pragma once
// A simulated drive's user sectors: in memory as a chunked, run-length store
// (zero, all 0xFF, the R/W-test pattern or raw bytes per 64 KiB chunk), or in
// a sparse file that other tools can read.
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

namespace qk::sim {

class UserData {
 public:
  static constexpr std::uint32_t kSectorSize = 512;
  virtual ~UserData() = default;
  std::uint32_t sectors() const { return sectors_; }
  // The capacity the drive currently reports; data beyond it is kept.
  virtual bool setSectors(std::uint32_t sectors) {
    sectors_ = sectors;
    return true;
  }
  // Whole sectors; the caller checks the range. False on an I/O error.
  virtual bool read(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) = 0;
  virtual bool write(std::uint32_t lba, std::uint32_t count, const std::uint8_t* in) = 0;

  // Whether save/load keep the data (the file store keeps itself).
  virtual bool savesItself() const { return false; }
  virtual void save(std::ostream&) const {}
  virtual bool load(std::istream&) { return true; }
  // Memory held for the data, for measurements.
  virtual std::uint64_t footprintBytes() const { return 0; }

  static std::unique_ptr<UserData> inMemory(std::uint32_t sectors);
  // Creates or extends the file to the capacity; nullptr (and `error`) when it cannot.
  static std::unique_ptr<UserData> inFile(const std::string& path, std::uint32_t sectors, std::string& error);

 protected:
  explicit UserData(std::uint32_t sectors) : sectors_(sectors) {}

 private:
  std::uint32_t sectors_;
};

// Word i of the block written at LBA s holds the low 16 bits of s x 256 + i:
// every 16-bit word of a tested drive holds the low bits of its own address.
void FillTestPattern(std::uint64_t lba, std::uint32_t sectors, std::uint8_t* out);

}  // namespace qk::sim
