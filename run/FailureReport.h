#pragma once
// Readable reports from a failed step's 2048-byte record: the error dialog's
// lines and the failure report files. Given a port, the builders also refine
// its shown code and count its failed units.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "run/PortContext.h"

namespace qk {

constexpr std::size_t kDetailSize = 2048;

// What the reports need of the selected flash and the profile.
struct ReportFlash {
  std::uint8_t ceCount = 1;        // chip enables per package
  std::uint8_t channel = 1;        // channels of the selected flash
  std::uint16_t halfDieBlocks = 0;
  std::int32_t profileChannel = 0;
  std::int32_t profileBank = 0;
  std::array<std::uint8_t, 5> expectedId{};
  std::uint8_t pageSectors = 0;
};

// Chip of a (channel, bank) pair: (bank / chip enables) x channels + channel.
int ChipNumber(int channel, int bank, const ReportFlash& flash);

// The flash interface record (code 3): entries of 4 bytes from offset 4.
std::vector<std::string> FlashInterfaceReport(std::span<const std::uint8_t> record, const ReportFlash& flash,
                                              PortContext* port = nullptr);
// The step record (codes 1, 5, 25): byte 0 the entry count, entries from offset 1.
std::vector<std::string> StepReport(std::span<const std::uint8_t> record, const ReportFlash& flash,
                                    PortContext* port = nullptr);
// The error dialog's text for a port's code and its record.
std::vector<std::string> ErrorDialogLines(int code, std::span<const std::uint8_t> record, const ReportFlash& flash);
// The file form: every line ends in "\r\n".
std::string ReportText(const std::vector<std::string>& lines);

}  // namespace qk
