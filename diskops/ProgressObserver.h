#pragma once
// The slot's second gauge as the long disk operations drive it; the run
// engine adapts it to its display observer. Called from the worker's thread.
#include <cstdint>

namespace qk {

struct GaugeColour {
  std::uint8_t red = 0, green = 0, blue = 0;
  bool operator==(const GaugeColour&) const = default;
};

constexpr GaugeColour kGaugeWriting{255, 0, 0};   // red
constexpr GaugeColour kGaugeVerifying{0, 128, 0}; // dark green

class ProgressObserver {
 public:
  virtual ~ProgressObserver() = default;
  // visible false hides the gauge; percent is 0..100.
  virtual void secondGauge(bool visible, int percent, GaugeColour colour) = 0;
};

}  // namespace qk
