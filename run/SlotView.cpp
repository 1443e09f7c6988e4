#include "run/SlotView.h"

#include <cstdio>

#include "run/ResultCodes.h"

namespace qk {

std::string VerdictText(const PortContext& r) {
  const int verdict = r.stepStatus[25];
  if (verdict == 1) return "Pass";
  if (verdict != -1) return {};
  // The stop leaves -1, a code with no row: the slot says what happened; the
  // report still carries the code.
  if (r.shownCode == kStoppedCode) return kStoppedText;
  const ResultCodeRow& row = ResultCodeInfo(r.shownCode);
  char text[128];
  if (r.failedUnitCount >= 2) {
    std::snprintf(text, sizeof text, "Fail (%s)(- -)", row.shortCode);
  } else if (r.failedUnitCount > 0) {
    std::snprintf(text, sizeof text, "Fail (%s)(%2.2d)", row.shortCode, r.failedUnit);
  } else if (r.stepStatus[11] == -1 && r.shownCode == 11) {
    // Only a drive that failed on its temperature shows it; a later step
    // marked failed after another failure has read no temperature.
    std::snprintf(text, sizeof text, "Fail (%s), Temperature:%d", row.shortCode,
                  static_cast<int>(static_cast<std::int8_t>(r.temperature)));
  } else {
    std::snprintf(text, sizeof text, "%s Fail (%s)", row.stepName, row.shortCode);
  }
  return text;
}

std::vector<SlotView> RefreshSlots(PortTable& ports, int slotCount, ProfileSettings& counters) {
  std::vector<SlotView> views;
  const int n = slotCount < 0 ? 0 : (slotCount > SlotLimit ? SlotLimit : slotCount);
  views.resize(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    PortContext& r = ports[static_cast<std::size_t>(i)];
    SlotView& v = views[static_cast<std::size_t>(i)];
    if (!r.active) continue;
    if (r.yieldEvent == 1) {
      ++counters.TotalTestCount;
      ++counters.NumberOfPass;
    } else if (r.yieldEvent == -1) {
      ++counters.TotalTestCount;
    }
    r.yieldEvent = 0;

    v.visible = true;
    v.colour = SlotColour::Yellow;
    std::string text;
    if (!r.serialNumber.empty()) {
      v.editText = r.serialNumber.str();
    } else {
      text = std::to_string(r.capacityMB) + " MB";
      v.resetGauge = true;
    }
    if (r.stepStatus[25] == 1) {
      text = VerdictText(r);
      v.colour = SlotColour::Green;
    } else if (r.stepStatus[25] == -1) {
      text = VerdictText(r);
      v.colour = SlotColour::Red;
    }
    if (!text.empty()) v.panelText = text;
  }
  return views;
}

}  // namespace qk
