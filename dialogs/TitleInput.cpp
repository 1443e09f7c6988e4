#include "dialogs/TitleInput.h"

namespace qk {

TitleResult TitleOk(int showTitle, const TitleInput& input) {
  TitleResult r;
  r.accepted = true;
  r.autoIncrease = input.autoIncrease;
  if (showTitle == 1) {
    r.text = input.wo + input.sn;
  } else if (showTitle == 2) {
    r.text = input.part1;
    if (!input.part1.empty() && !input.part2.empty()) r.text += "-";
    r.text += input.part2;
    if (!input.part2.empty() && !input.part3.empty()) r.text += "-";
    r.text += input.part3;
  }
  return r;
}

std::optional<char> AlphaNumKey(char key) {
  const auto c = static_cast<unsigned char>(key);
  if (c < 0x20 || c == 0x7F) return key;
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z')) return key;
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  return std::nullopt;
}

int TitleEditMaxLength(int tag) { return tag == 1 ? 4 : 7; }

std::string TitleEditCut(const std::string& text, int tag) {
  const auto max = static_cast<std::size_t>(TitleEditMaxLength(tag));
  return text.size() > max ? text.substr(0, max) : text;
}

void ApplyTitleResult(const TitleResult& result, ProfileSettings& settings) {
  if (!result.accepted) return;
  if (!result.text.empty()) settings.setSerialNum(result.text);
  settings.SNAutoInc = result.autoIncrease ? 1 : 0;
}

}  // namespace qk
