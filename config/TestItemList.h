#pragma once
// The test-item list of the settings page as a model: which production steps
// the list shows, their check marks, and what the list writes back into the
// profile. The GUI draws it; the CLI's START goes through the same rules.
#include <string>
#include <vector>

#include "config/ProfileSettings.h"
#include "platform/Operator.h"

namespace qk {

struct TestItemEntry {
  std::string name;
  bool checked = false;
};

class TestItemList {
 public:
  // The rebuild from the profile: the fixed entries, "Disk Format" and
  // "Check Temperature" only when their items are on, then "Capacity Probe";
  // check marks by name.
  static TestItemList FromProfile(const ProfileSettings& settings);

  // Every check mark into the item of the same name; "Download" is on when
  // checked or when Preformat is on, and its mark follows.
  void applyTo(ProfileSettings& settings);
  // The command-line mask: all marks cleared, entry k checked for bit k (k = 0..7);
  // "Capacity Probe" keeps its mark.
  void applyMask(int mask);

  std::vector<TestItemEntry>& entries() { return entries_; }
  const std::vector<TestItemEntry>& entries() const { return entries_; }
  std::vector<std::string> texts() const;
  int checkedCount() const;

 private:
  std::vector<TestItemEntry> entries_;
};

// The settings as they come back from the pages: the rebuild, then the copy
// back (list values outside their lists take the first entry, spin-box values
// are held to their ranges, the LED boxes repack their fields, texts are cut to
// their edits' lengths, the bad-block mode radio keeps one choice). Messages
// the pages show on the way go to `op` when given.
void ApplyPagesRoundTrip(ProfileSettings& settings, Operator* op = nullptr);

}  // namespace qk
