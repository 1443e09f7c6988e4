#include "gui/GuiRunObserver.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "gui/SlotPanel.h"

namespace qk::gui {

namespace {
bool inRange(int slot) { return slot >= 0 && slot < SlotLimit; }
}  // namespace

void GuiRunObserver::panelText(int slot, const std::string& text) {
  if (!inRange(slot)) return;
  std::lock_guard lock(mutex_);
  pending_[static_cast<std::size_t>(slot)].text = text;
  sawStep_ = true;
}

void GuiRunObserver::panelColour(int slot, SlotColour colour) {
  if (!inRange(slot)) return;
  std::lock_guard lock(mutex_);
  pending_[static_cast<std::size_t>(slot)].colour = colour;
}

void GuiRunObserver::gauge(int slot, int percent) {
  if (!inRange(slot)) return;
  std::lock_guard lock(mutex_);
  pending_[static_cast<std::size_t>(slot)].gauge = percent;
}

void GuiRunObserver::serialText(int slot, const std::string& serial) {
  if (!inRange(slot)) return;
  std::lock_guard lock(mutex_);
  pending_[static_cast<std::size_t>(slot)].serial = serial;
}

void GuiRunObserver::secondGauge(int slot, bool visible, int percent, std::uint8_t r, std::uint8_t g,
                                 std::uint8_t b) {
  if (!inRange(slot)) return;
  std::lock_guard lock(mutex_);
  pending_[static_cast<std::size_t>(slot)].second = Second{visible, percent, r, g, b};
}

void GuiRunObserver::slots(const std::vector<SlotView>& views) {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < views.size() && i < pending_.size(); ++i) {
    const SlotView& v = views[i];
    Pending& p = pending_[i];
    p.visible = v.visible;
    p.colour = v.visible ? v.colour : SlotColour::Idle;
    if (!v.visible) continue;
    if (v.panelText) p.text = *v.panelText;
    if (v.editText) p.serial = *v.editText;
    if (v.resetGauge) p.gauge = 0;
  }
}

void GuiRunObserver::elapsed(const std::string& text) {
  std::lock_guard lock(mutex_);
  elapsed_ = text;
}

std::optional<std::string> GuiRunObserver::flush(const std::vector<SlotPanel*>& panels) {
  std::array<Pending, SlotLimit> todo{};
  std::optional<std::string> elapsed;
  {
    std::lock_guard lock(mutex_);
    std::swap(todo, pending_);
    std::swap(elapsed, elapsed_);
  }
  for (std::size_t i = 0; i < panels.size() && i < todo.size(); ++i) {
    SlotPanel* panel = panels[i];
    const Pending& p = todo[i];
    if (!panel || !p.any()) continue;
    if (p.visible) {
      panel->setVisible(*p.visible);
      panel->button()->setVisible(*p.visible);
    }
    if (p.colour) panel->setColour(*p.colour);
    if (p.text) panel->setText(QString::fromStdString(*p.text));
    if (p.serial) panel->edit()->setText(QString::fromStdString(*p.serial));
    if (p.gauge) panel->gauge()->setValue(*p.gauge);
    if (p.second) panel->setSecondGauge(p.second->visible, p.second->percent, p.second->r, p.second->g, p.second->b);
  }
  return elapsed;
}

bool GuiRunObserver::sawStep() const {
  std::lock_guard lock(mutex_);
  return sawStep_;
}

void GuiRunObserver::resetSawStep() {
  std::lock_guard lock(mutex_);
  sawStep_ = false;
}

}  // namespace qk::gui
