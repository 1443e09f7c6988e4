#include "dialogs/ErrorReportView.h"

namespace qk {

std::string ErrorMemoText(const std::vector<std::string>& lines) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (i > 0) out += '\n';
    out += line;
  }
  return out;
}

std::optional<RgbImage> LoadBoardPhoto(const std::string& folder, const char* name) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  return LoadJpegFile(path + name);
}

}  // namespace qk
