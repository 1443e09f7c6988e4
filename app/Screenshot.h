#pragma once
// The end-of-run picture of an unattended run: its file name and the JPEG.
#include <string>

#include "platform/Clock.h"
#include "platform/Jpeg.h"

namespace qk {

// The log folder, then "Image_" with month, day, hour, minute and second of
// the run's end, two digits each, then ".jpg".
std::string ScreenshotFileName(const std::string& logPath, const LocalTime& end);
// Encodes and writes the picture; false (nothing left behind) when it cannot.
bool SaveScreenshot(const std::string& path, const RgbImage& image);

}  // namespace qk
