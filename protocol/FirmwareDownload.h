#pragma once
// The "Download" step: the loader header, the system area pages and the
// firmware files written to every system block of a port, and the optional
// read-back of the firmware for diagnosis.
#include <cstdint>
#include <string>

#include "protocol/ControllerOps.h"

namespace qk {

// First byte of the work buffer when a system area page lacks its signature;
// byte 1 is the channel, the failing page follows from byte 2.
inline constexpr std::uint8_t kDownloadPage1Bad = 208;
inline constexpr std::uint8_t kDownloadPage2Bad = 209;
inline constexpr std::uint8_t kDownloadPage3Bad = 210;

// Write sequence number of the header a defect-table put writes.
inline constexpr std::uint16_t kPutTableSequence = 120;

// work: the port's 64 KiB buffer. The firmware files are the parameter
// block's TableFiles (one or two) with their sizes in KiB. ebPath: where the
// early-bad-block table goes when EnSaveDefectTable is on; firmwareType: the
// version written into it.
bool DownloadFirmware(ControllerOps& ops, std::uint8_t* work, const std::string& serial, const std::string& ebPath,
                      int firmwareType);

// With DumpDebugFile on: restarts the drive and dumps the first system
// block's copy of every firmware file ("UP" files). True when off.
bool VerifyDownload(ControllerOps& ops, std::uint8_t* buffer);

}  // namespace qk
