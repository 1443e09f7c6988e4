#pragma once
// One port slot (PortPanel<i>): the serial edit with its "Port<i+1>:SN" label,
// the "?" button, the progress gauge and the second gauge, built from the
// template's geometry. Drawn only on the GUI thread.
#include <QFrame>

#include "run/SlotView.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace qk::gui {

class SlotPanel : public QFrame {
  Q_OBJECT
 public:
  SlotPanel(int slot, QWidget* parent);

  int slot() const { return slot_; }
  QLineEdit* edit() const { return edit_; }
  QPushButton* button() const { return button_; }
  QProgressBar* gauge() const { return gauge_; }
  QProgressBar* secondGauge() const { return gaugeP_; }

  void setColour(SlotColour colour);
  SlotColour colour() const { return colour_; }
  void setText(const QString& text);  // the panel's caption
  QString text() const;
  void setSecondGauge(bool visible, int percent, std::uint8_t r, std::uint8_t g, std::uint8_t b);
  // Unpinned, a press on the panel drags it around the scroll box.
  void setMovable(bool movable) { movable_ = movable; }

  // The smallest slot whose texts show whole in the system font: the label
  // of a two-digit port, a serial of 20 digits, a verdict line and gauges a
  // text line high. Wider slots give the extra width to the edit and caption.
  static QSize minimumSlotSize();
  static int maximumSlotWidth();

 Q_SIGNALS:
  void moved();

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  int slot_;
  SlotColour colour_ = SlotColour::Idle;
  QLabel* caption_;
  QLabel* label_;
  QLineEdit* edit_;
  QPushButton* button_;
  QProgressBar* gauge_;
  QProgressBar* gaugeP_;
  bool movable_ = false;
  bool dragging_ = false;
  QPoint grab_;
};

// The colour a slot is drawn in (idle: the button face of the style).
QColor SlotQColor(SlotColour colour, const QPalette& palette);

}  // namespace qk::gui
