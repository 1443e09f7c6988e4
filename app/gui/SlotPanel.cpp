#include "app/gui/SlotPanel.h"

#include <QFontMetrics>
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

QProgressBar* makeGauge(QWidget* parent, const QString& name, const QRect& r) {
  auto* g = new QProgressBar(parent);
  g->setObjectName(name);
  g->setGeometry(r);
  g->setRange(0, 100);
  g->setValue(0);
  g->setTextVisible(true);
  QFont f = g->font();
  f.setPointSize(7);
  g->setFont(f);
  return g;
}

}  // namespace

// Template geometry: panel 249 x 65; edit (53, 2) 193 x 24 with its label to
// the left; "?" (229, 29) 17 x 19; gauges (195, 50) and (143, 50), 50 x 13.
SlotPanel::SlotPanel(int slot, QWidget* parent) : QFrame(parent), slot_(slot) {
  const QString n = QString::number(slot);
  setObjectName("PortPanel" + n);
  setProperty("tag", slot);
  setFrameShape(QFrame::Panel);
  setFrameShadow(QFrame::Raised);
  setAutoFillBackground(true);
  resize(249, 65);

  label_ = new QLabel(QString("Port%1:SN").arg(slot + 1), this);
  label_->setGeometry(2, 2, 50, 24);
  label_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // "Port10:SN" and up must fit the template's 50 pixels left of the edit.
  QFont labelFont = label_->font();
  while (QFontMetrics(labelFont).horizontalAdvance(label_->text()) > 49 && labelFont.pointSizeF() > 6)
    labelFont.setPointSizeF(labelFont.pointSizeF() - 0.5);
  label_->setFont(labelFont);
  edit_ = new QLineEdit(this);
  edit_->setObjectName("PortLEdit" + n);
  edit_->setGeometry(53, 2, 193, 24);
  edit_->setReadOnly(true);
  label_->setBuddy(edit_);

  caption_ = new QLabel(this);
  caption_->setObjectName("PortText" + n);
  caption_->setGeometry(6, 28, 220, 21);
  caption_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  button_ = new QPushButton("?", this);
  button_->setObjectName("PortBitBtn" + n);
  button_->setProperty("tag", slot);
  button_->setGeometry(229, 29, 17, 19);

  gauge_ = makeGauge(this, "PortCGuage" + n, QRect(195, 50, 50, 13));
  gauge_->setProperty("tag", slot);
  gaugeP_ = makeGauge(this, "PortCGuageP" + n, QRect(143, 50, 50, 13));
  gaugeP_->setProperty("tag", slot);
  gaugeP_->hide();
  setColour(SlotColour::Idle);
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
