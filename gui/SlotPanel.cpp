#include "gui/SlotPanel.h"

#include <QApplication>
#include <QFontMetrics>
#include <QResizeEvent>

#include <algorithm>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>

namespace qk::gui {

QColor SlotQColor(SlotColour colour, const QPalette& palette) {
  switch (colour) {
    case SlotColour::Yellow: return QColor(255, 255, 0);
    case SlotColour::Green: return QColor(0, 255, 0);
    case SlotColour::Red: return QColor(255, 0, 0);
    case SlotColour::Idle: break;
  }
  return palette.color(QPalette::Button);
}

namespace {

QProgressBar* makeGauge(QWidget* parent, const QString& name) {
  auto* g = new QProgressBar(parent);
  g->setObjectName(name);
  g->setRange(0, 100);
  g->setValue(0);
  g->setTextVisible(true);
  g->setAlignment(Qt::AlignCenter);
  return g;
}

// Rows of a slot in the system font: the serial edit, the caption with "?",
// the gauges. Everything is measured, nothing is shrunk below the font.
struct SlotMetrics {
  int margin = 2;
  int labelWidth, editHeight, captionHeight, buttonWidth, gaugeWidth, gaugeHeight;
  int minWidth, minHeight;

  SlotMetrics() {
    const QFont font = QApplication::font();
    const QFontMetrics fm(font);
    labelWidth = fm.horizontalAdvance("Port50:SN") + 6;
    editHeight = fm.height() + 6;
    captionHeight = fm.height() + 2;
    buttonWidth = fm.horizontalAdvance("?") + 12;
    gaugeHeight = fm.height();
    gaugeWidth = fm.horizontalAdvance("100%") + 16;
    const int serialWidth = fm.horizontalAdvance(QString(20, '0')) + 10;
    minWidth = std::max(labelWidth + serialWidth, 2 * gaugeWidth + fm.horizontalAdvance("Pass") + 8) + 2 * margin;
    minHeight = editHeight + captionHeight + gaugeHeight + 2 * margin;
  }
};

const SlotMetrics& metrics() {
  static const SlotMetrics m;
  return m;
}

}  // namespace

QSize SlotPanel::minimumSlotSize() { return {metrics().minWidth, metrics().minHeight}; }
int SlotPanel::maximumSlotWidth() { return metrics().minWidth * 3 / 2; }

// The template's parts (label and serial edit on top, caption and "?" below,
// the two gauges at the bottom right), laid out for the panel's size.
SlotPanel::SlotPanel(int slot, QWidget* parent) : QFrame(parent), slot_(slot) {
  const QString n = QString::number(slot);
  setObjectName("PortPanel" + n);
  setProperty("tag", slot);
  setFrameShape(QFrame::Panel);
  setFrameShadow(QFrame::Raised);
  setAutoFillBackground(true);

  label_ = new QLabel(QString("Port%1:SN").arg(slot + 1), this);
  label_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  edit_ = new QLineEdit(this);
  edit_->setObjectName("PortLEdit" + n);
  edit_->setReadOnly(true);
  label_->setBuddy(edit_);

  caption_ = new QLabel(this);
  caption_->setObjectName("PortText" + n);
  caption_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  button_ = new QPushButton("?", this);
  button_->setObjectName("PortBitBtn" + n);
  button_->setProperty("tag", slot);

  gauge_ = makeGauge(this, "PortCGuage" + n);
  gauge_->setProperty("tag", slot);
  gaugeP_ = makeGauge(this, "PortCGuageP" + n);
  gaugeP_->setProperty("tag", slot);
  gaugeP_->hide();
  setColour(SlotColour::Idle);
  resize(minimumSlotSize());
}

void SlotPanel::resizeEvent(QResizeEvent* e) {
  QFrame::resizeEvent(e);
  const SlotMetrics& m = metrics();
  const int w = width() - 2 * m.margin;
  int y = m.margin;
  label_->setGeometry(m.margin, y, m.labelWidth - 2, m.editHeight);
  edit_->setGeometry(m.margin + m.labelWidth, y, w - m.labelWidth, m.editHeight);
  y += m.editHeight;
  caption_->setGeometry(m.margin + 2, y, w - m.buttonWidth - 4, m.captionHeight);
  button_->setGeometry(m.margin + w - m.buttonWidth, y, m.buttonWidth, m.captionHeight);
  y += m.captionHeight;
  gauge_->setGeometry(m.margin + w - m.gaugeWidth, y, m.gaugeWidth, m.gaugeHeight);
  gaugeP_->setGeometry(m.margin + w - 2 * m.gaugeWidth - 2, y, m.gaugeWidth, m.gaugeHeight);
}

void SlotPanel::setColour(SlotColour colour) {
  colour_ = colour;
  QPalette p = palette();
  p.setColor(QPalette::Window, SlotQColor(colour, QPalette()));
  setPalette(p);
}

void SlotPanel::setText(const QString& text) { caption_->setText(text); }
QString SlotPanel::text() const { return caption_->text(); }

void SlotPanel::setSecondGauge(bool visible, int percent, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  gaugeP_->setVisible(visible);
  gaugeP_->setValue(percent);
  QPalette p = gaugeP_->palette();
  p.setColor(QPalette::Highlight, QColor(r, g, b));
  gaugeP_->setPalette(p);
}

void SlotPanel::mousePressEvent(QMouseEvent* e) {
  if (movable_ && e->button() == Qt::LeftButton && cursor().shape() == Qt::ArrowCursor) {
    dragging_ = true;
    grab_ = e->position().toPoint();
    raise();
  }
  QFrame::mousePressEvent(e);
}

void SlotPanel::mouseMoveEvent(QMouseEvent* e) {
  if (dragging_) move(mapToParent(e->position().toPoint()) - grab_);
  QFrame::mouseMoveEvent(e);
}

void SlotPanel::mouseReleaseEvent(QMouseEvent* e) {
  if (dragging_) {
    dragging_ = false;
    Q_EMIT moved();
  }
  QFrame::mouseReleaseEvent(e);
}

}  // namespace qk::gui
