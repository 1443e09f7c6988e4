#include "app/SettingsLock.h"

namespace qk {

bool AskAccessCode(Operator& op) {
  const auto answer = op.askText(kPasswordCaption, kPasswordPrompt, "", true);
  return answer && *answer == kAccessCode;
}

LockOutcome ApplySettingsLock(bool& unlocked, LockSender sender, Operator& op) {
  LockOutcome out;
  const bool fromButton = sender == LockSender::LockButton;
  if (unlocked && !fromButton) {
    out.tabsEnabled = true;
  } else if (unlocked || !fromButton) {
    out.tabsEnabled = false;
    out.saveEnabled = false;
    unlocked = false;
  } else {
    out.asked = true;
    if (AskAccessCode(op)) {
      out.tabsEnabled = true;
      out.saveEnabled = true;
      unlocked = true;
    }
  }
  out.buttonDown = !unlocked;
  return out;
}

}  // namespace qk
