#include "app/Screenshot.h"

#include <cstdio>

#include "platform/AtomicWrite.h"

namespace qk {

std::string ScreenshotFileName(const std::string& logPath, const LocalTime& end) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "Image_%02d%02d%02d%02d%02d.jpg", end.month, end.day, end.hour, end.minute,
                end.second);
  return logPath + buf;
}

bool SaveScreenshot(const std::string& path, const RgbImage& image) {
  auto jpeg = EncodeJpeg(image);
  if (!jpeg) return false;
  return writeFileAtomic(path, std::string(jpeg->begin(), jpeg->end()));
}

}  // namespace qk
