#pragma once
// The settings lock of the pages and the access code behind it. The lock
// button toggles; a profile load (the window as sender) re-applies the state.
#include <optional>
#include <string>

#include "platform/Operator.h"

namespace qk {

inline constexpr const char* kAccessCode = "vornish";
inline constexpr const char* kPasswordCaption = "Please Input the Password";
inline constexpr const char* kPasswordPrompt = "Password";
inline constexpr const char* kPasswordFail = "Password Fail!";

// True when the operator typed the access code (asked with hidden input).
bool AskAccessCode(Operator& op);

enum class LockSender { LockButton, Window };

// What the pages do after the lock's handler ran; unset means "leave as is".
struct LockOutcome {
  std::optional<bool> tabsEnabled;
  std::optional<bool> saveEnabled;  // "Save INI"
  bool asked = false;
  bool buttonDown = false;          // the button shows pressed while locked
};

// Unlocked + window: tabs on. Unlocked + button, or locked + window: lock
// without asking. Locked + button: ask; only the access code unlocks, a wrong
// answer changes nothing.
LockOutcome ApplySettingsLock(bool& unlocked, LockSender sender, Operator& op);

}  // namespace qk
