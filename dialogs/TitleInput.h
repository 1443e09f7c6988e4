#pragma once
// The rules of the serial-number dialog, kept apart from its widgets: which
// keys the three edits take, how long each may grow, and the text OK hands on.
#include <optional>
#include <string>

#include "config/ProfileSettings.h"

namespace qk {

// What the operator typed, by layout: ShowTitle 1 uses wo/sn, 2 uses the parts.
struct TitleInput {
  std::string wo, sn;
  std::string part1, part2, part3;
  bool autoIncrease = false;
};

struct TitleResult {
  bool accepted = false;   // OK (true) or Cancel
  std::string text;        // may be empty
  bool autoIncrease = false;
};

// OK: layout 1 joins W/O and S/N directly; layout 2 joins the three parts,
// with "-" only between two non-empty neighbours; any other layout gives "".
TitleResult TitleOk(int showTitle, const TitleInput& input);

// AlphaNumKeyPress: control characters (Enter, Backspace, ...) and 0-9, A-Z
// pass, a-z come back upper-cased, every other character is swallowed (nullopt).
std::optional<char> AlphaNumKey(char key);

// Edit1Change: 7 characters for tags 0 and 2, 4 for tag 1.
int TitleEditMaxLength(int tag);
// The text cut to its edit's maximum; shorter texts stay as they are.
std::string TitleEditCut(const std::string& text, int tag);

// The main window's first show: an OK with a non-empty text replaces the
// serial number, and the check box becomes the auto-increase setting. Cancel
// keeps both as the profile had them.
void ApplyTitleResult(const TitleResult& result, ProfileSettings& settings);

}  // namespace qk
