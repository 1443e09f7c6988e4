#pragma once
// What each port slot shows, computed from the port table: both front ends
// draw this, neither computes it. The refresh also counts finished ports into
// the yield counters, once per run end.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/ProfileSettings.h"
#include "run/PortContext.h"

namespace qk {

enum class SlotColour { Idle, Yellow, Green, Red };

struct SlotView {
  bool visible = false;                  // panel and its "?" button
  SlotColour colour = SlotColour::Idle;
  std::optional<std::string> panelText;  // unset: the panel keeps its text (a running step's name)
  std::optional<std::string> editText;   // the "PortN:SN" edit: the drive's serial
  bool resetGauge = false;
};

// One refresh of slots 0..slotCount-1. Counts each ended port (yieldEvent
// 1 or -1) into the counters and clears its event. Call under the display lock.
std::vector<SlotView> RefreshSlots(PortTable& ports, int slotCount, ProfileSettings& counters);

// A port the operator stopped: its result codes and the slot's text.
constexpr int kStoppedCode = -1;
inline constexpr const char* kStoppedText = "Stopped by operator";

// The verdict text of an ended port ("Pass", "Fail (...)"); empty while none.
std::string VerdictText(const PortContext& port);

}  // namespace qk
