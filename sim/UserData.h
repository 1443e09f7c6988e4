#pragma once
// A simulated drive's user sectors: in memory (sparse, unwritten sectors read
// as zeros) or in a sparse file that other tools can read.
#include <cstdint>
#include <memory>
#include <string>

namespace qk::sim {

class UserData {
 public:
  static constexpr std::uint32_t kSectorSize = 512;
  virtual ~UserData() = default;
  std::uint32_t sectors() const { return sectors_; }
  // Whole sectors; the caller checks the range. False on an I/O error.
  virtual bool read(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) = 0;
  virtual bool write(std::uint32_t lba, std::uint32_t count, const std::uint8_t* in) = 0;

  static std::unique_ptr<UserData> inMemory(std::uint32_t sectors);
  // Creates or extends the file to the capacity; nullptr (and `error`) when it cannot.
  static std::unique_ptr<UserData> inFile(const std::string& path, std::uint32_t sectors, std::string& error);

 protected:
  explicit UserData(std::uint32_t sectors) : sectors_(sectors) {}

 private:
  std::uint32_t sectors_;
};

}  // namespace qk::sim
