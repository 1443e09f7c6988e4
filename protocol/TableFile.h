#pragma once
// The table text files people read and edit: a factory (early) defect table
// exported from its flash page and imported back into one. Lines end in CR LF;
// every item is a letter, '#', then its value.
#include <cstdint>
#include <span>
#include <string>

namespace qk {

// Where a table page lives in a buffer and how far its digits may go.
struct TableShape {
  std::uint32_t pageBytes = 0;  // PageSectors x 512
  std::uint8_t channels = 0;    // channel c's page sits at c x pageBytes
  std::uint8_t banks = 0;       // bank digits must stay below this
  std::uint8_t pageSectors = 0; // 8 selects the 64-list import of old files
};

inline constexpr std::uint8_t kFactoryTag[4] = {0xE9, 0x86, 0xAA, 0x55};
inline constexpr std::uint8_t kLaterTag[4] = {0x45, 0x79, 0xAA, 0x55};
inline constexpr std::uint8_t kRemapTag[4] = {0x9E, 0x68, 0x55, 0xAA};
inline constexpr std::uint8_t kBankLaterTag[4] = {0xE8, 0xDC, 0x55, 0xAA};
inline constexpr std::uint8_t kSyspTag[4] = {'S', 'Y', 'S', 'P'};
inline constexpr std::uint16_t kBankMarker = 0xA0FB;
inline constexpr std::uint16_t kTableEnd = 0xD1FE;

// Writes the 16-byte table signature: the tag, "QKR20X-V001" and a zero byte.
void WriteTableSignature(std::uint8_t* page, const std::uint8_t* tag);
bool HasTableSignature(const std::uint8_t* page, const std::uint8_t* tag);

// "V#" + two digits for the firmware types that carry a version line, else empty.
std::string TableVersionItem(int firmwareType);

// The text of the factory table in `pages` (sectors x 512 bytes, one page per channel).
std::string FactoryTableText(std::span<const std::uint8_t> pages, const TableShape& shape, int firmwareType);
// Creates the file and writes the text; false when it cannot be written.
bool ExportFactoryTable(std::span<const std::uint8_t> pages, const TableShape& shape, const std::string& path,
                        int firmwareType);

// Builds the factory table pages from a table text. False on anything the
// drive's shape cannot hold or the format does not allow; nothing is written
// outside `pages` (whose first channels x pageBytes bytes are cleared first).
bool ImportTableText(const std::string& text, std::span<std::uint8_t> pages, const TableShape& shape,
                     int firmwareType);
// The same from a file; a missing or unreadable file is false.
bool ImportTableFile(std::span<std::uint8_t> pages, const TableShape& shape, const std::string& path,
                     int firmwareType);

}  // namespace qk
