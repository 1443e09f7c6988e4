#pragma once
// What "Error" shows: the report lines as memo text and the board photos.
#include <optional>
#include <string>
#include <vector>

#include "platform/Jpeg.h"

namespace qk {

inline constexpr const char* kBoardFrontPhoto = "Layout_Front.jpg";
inline constexpr const char* kBoardBackPhoto = "Layout_Back.jpg";

// One memo line per report line. Some report lines carry their own line end
// (the counter and dump lines); it ends that line and adds no empty one.
std::string ErrorMemoText(const std::vector<std::string>& lines);

// A board photo of the folder; nullopt when missing or not a JPEG, which
// leaves its image empty.
std::optional<RgbImage> LoadBoardPhoto(const std::string& folder, const char* name);

}  // namespace qk
