#pragma once
// The catalogue of flash types, read from the flash list file ("Flash.ini").
#include <cstdint>
#include <string>
#include <vector>

namespace qk {

class IniFile;

constexpr int kMaxFlashVendors = 10;
constexpr int kMaxFlashTypes = 500;

// One catalogue line: its 15 columns in file order.
struct FlashTypeRecord {
  std::string uniqueName;        // 1, up to 19 characters
  std::string partNumber;        // 2, up to 19 characters
  std::uint16_t flashIdWord = 0; // 3
  std::uint8_t ceCount = 0;      // 4, chip enables per package
  std::uint16_t eccMode = 0;     // 5, 2 = BCH 24
  std::uint8_t idBytes[5] = {};  // 6-10: maker, device, 3rd, 4th, 5th ID byte
  std::uint8_t featureBit = 0;   // 11, low byte
  std::uint8_t optionBit = 0;    // 11, second byte
  std::uint8_t twoPlane = 0;     // 11, third byte
  std::int32_t flagBit5 = 0;     // 12
  std::uint16_t extraWordA = 0;  // 13
  std::uint16_t altBlockCount = 0;  // 14
  std::uint8_t tableSelect = 0;  // 15, 0..4
};

struct FlashCatalogue {
  std::vector<std::string> vendors;   // at most 10, each up to 19 characters
  std::vector<int> boundaries;        // running type total after each vendor's section
  std::vector<FlashTypeRecord> types; // at most 500, in file order

  // Types of vendor v occupy [firstType(v), boundaries[v]).
  int firstType(int vendor) const { return vendor <= 0 ? 0 : boundaries[static_cast<size_t>(vendor - 1)]; }
  // Index of the type whose unique name equals `name` exactly, or -1.
  int findUnique(const std::string& name) const;
  // The vendor that holds type index `type` (first vendor whose boundary lies above it), or -1.
  int vendorOf(int type) const;
};

constexpr size_t kMaxFlashNameLength = 19;  // 20-byte slots with their terminator

// Reads the flash list file. False when the file is missing, has no vendor,
// has a line with fewer than 15 tokens, or exceeds the catalogue limits;
// `error` then says why (a diagnostic, not an operator message). On failure
// the catalogue keeps what it held before.
bool ParseFlashList(const std::string& path, FlashCatalogue& catalogue, std::string* error = nullptr);
// The same on a document already in memory.
bool ParseFlashList(const IniFile& ini, FlashCatalogue& catalogue, std::string* error = nullptr);

// A catalogue line split into tokens: runs of ASCII letters and digits.
std::vector<std::string> SplitFlashLine(const std::string& line);

}  // namespace qk
