#pragma once
// The sample data files of a program folder, made here and nowhere else: a
// flash list, a default profile, the SATA and USB firmware images and the two
// RAM program images. Deterministic: the same bytes on every build, so tests
// and the simulated drives can rebuild exactly what the build wrote.
#include <cstddef>
#include <string>

#include "platform/Jpeg.h"

namespace qk {

inline constexpr const char* kSampleFirmwareVersion = "100205";
inline constexpr const char* kSampleFirmwareFamily = "21";
inline constexpr const char* kSampleGdpVersion = "101007";
inline constexpr const char* kSampleTestVersion = "100903";
inline constexpr size_t kSampleFirmwareSize = 64 * 1024;   // 16 pages of 4 KiB, 8 of 8 KiB
inline constexpr size_t kSampleProgramSize = 48 * 1024;    // below the 64512-byte RAM program limit

std::string SampleFlashList();
std::string SampleProfile();
// identity: 'S' (SATA identity data) or 'U' (USB descriptors).
std::string SampleFirmwareImage(char identity);
// tag: "GDP_" or "TST_".
std::string SampleProgramImage(const std::string& tag, const std::string& version);

// Sets byte n-2 to 0xA5 and the last byte so that all other bytes add up to 0
// modulo 256. Images of fewer than two bytes stay as they are.
void SealFirmwareImage(std::string& image);

// A drawing of the sample board for the error dialog, front or back.
RgbImage SampleBoardPhoto(bool front);

// Writes Flash.ini, QKMassProd.ini, SYS_S.bin, SYS_U.bin, GDP.bin,
// satatest.bin, Layout_Front.jpg and Layout_Back.jpg into `folder`
// (replacing them).
bool WriteSampleData(const std::string& folder, std::string* error = nullptr);

}  // namespace qk
