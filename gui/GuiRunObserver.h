#pragma once
// The run's slot events from the worker threads, kept as the latest value of
// each slot field until the window's timer draws them in one batch on the GUI
// thread: a 50-port run costs one pass over the slots per tick, not one
// repaint per event, and no worker ever touches a widget.
#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "run/RunEngine.h"

namespace qk::gui {

class SlotPanel;

class GuiRunObserver : public RunObserver {
 public:
  void panelText(int slot, const std::string& text) override;
  void panelColour(int slot, SlotColour colour) override;
  void gauge(int slot, int percent) override;
  void serialText(int slot, const std::string& serial) override;
  void secondGauge(int slot, bool visible, int percent, std::uint8_t r, std::uint8_t g, std::uint8_t b) override;
  void slots(const std::vector<SlotView>& views) override;
  void elapsed(const std::string& text) override;

  // GUI thread: draws what changed since the last flush onto the slots (null
  // entries are skipped). The elapsed text, when it changed.
  std::optional<std::string> flush(const std::vector<SlotPanel*>& panels);
  // A worker has shown a step name since the last reset.
  bool sawStep() const;
  void resetSawStep();

 private:
  struct Second {
    bool visible = false;
    int percent = 0;
    std::uint8_t r = 0, g = 0, b = 0;
  };
  struct Pending {
    std::optional<bool> visible;
    std::optional<SlotColour> colour;
    std::optional<std::string> text;
    std::optional<std::string> serial;
    std::optional<int> gauge;
    std::optional<Second> second;
    bool any() const { return visible || colour || text || serial || gauge || second; }
  };

  mutable std::mutex mutex_;
  std::array<Pending, SlotLimit> pending_{};
  std::optional<std::string> elapsed_;
  bool sawStep_ = false;
};

}  // namespace qk::gui
