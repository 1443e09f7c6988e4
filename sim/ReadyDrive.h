#pragma once
// Seeds a drive's flash as the production line would leave it, for drives a
// bench describes as already formatted or already downloaded.
#include <string>

#include "sim/FlashArray.h"
#include "sim/FlashType.h"

namespace qk::sim {

// Preformatted: the system area, no loader area.
void SeedFormatted(FlashArray& flash, const FlashType& type);

// Preformatted and downloaded with the default profile: reserved ratio 68,
// its model and firmware revision, the serial `serial`; the SATA sample
// firmware, or the USB one for a drive that answers natively on USB.
void SeedReady(FlashArray& flash, const FlashType& type, const std::string& serial, bool nativeUsb);

// The serial a ready drive gets: its name, '0'-padded on the left to 12.
std::string ReadySerial(const std::string& driveName);

}  // namespace qk::sim
