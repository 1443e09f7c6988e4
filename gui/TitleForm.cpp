#include "gui/TitleForm.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qk::gui {

TTitleForm::TTitleForm(int showTitle, QWidget* parent) : QDialog(parent), showTitle_(showTitle) {
  setObjectName("TitleForm");
  setWindowTitle("Serial Number Information");

  // Everything starts hidden; the layout of ShowTitle shows its part.
  auto* single = new QGridLayout;
  auto labelled = [&](const char* name, const char* text, int row) {
    auto* label = new QLabel(text, this);
    label->setObjectName(QString(name) + "Label");
    auto* edit = new QLineEdit(this);
    edit->setObjectName(name);
    label->setBuddy(edit);
    single->addWidget(label, row, 0);
    single->addWidget(edit, row, 1);
    const bool shown = showTitle_ == 1;
    label->setVisible(shown);
    edit->setVisible(shown);
    return edit;
  };
  woEdit_ = labelled("WOEdit", " W/O", 0);
  snEdit_ = labelled("SNEdit", " S/N", 1);

  auto* split = new QHBoxLayout;
  const bool splitShown = showTitle_ == 2;
  for (int tag = 0; tag < 3; ++tag) {
    if (tag > 0) {
      auto* dash = new QLabel("-", this);
      dash->setObjectName(QString("Label%1").arg(tag));
      dash->setVisible(splitShown);
      split->addWidget(dash);
    }
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString("Edit%1").arg(tag + 1));
    edit->setProperty("tag", tag);
    edit->setVisible(splitShown);
    edit->installEventFilter(this);
    // Edit1Change: a text longer than its edit allows is cut (typing and pasting alike).
    connect(edit, &QLineEdit::textChanged, this, [edit, tag](const QString& text) {
      const std::string cut = TitleEditCut(text.toStdString(), tag);
      if (cut.size() != static_cast<std::size_t>(text.toUtf8().size())) edit->setText(QString::fromStdString(cut));
    });
    parts_[tag] = edit;
    split->addWidget(edit, tag == 1 ? 4 : 7);
  }

  autoInc_ = new QCheckBox("Auto Increase", this);
  autoInc_->setObjectName("SNChkBx");
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("OKBtn");
  ok->setDefault(true);
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("CancelBtn");
  connect(ok, &QPushButton::clicked, this, &TTitleForm::okClicked);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(autoInc_);
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(single);
  layout->addLayout(split);
  layout->addStretch();
  layout->addLayout(buttons);
  resize(420, 140);
}

void TTitleForm::okClicked() {
  TitleInput in;
  in.wo = woEdit_->text().toStdString();
  in.sn = snEdit_->text().toStdString();
  in.part1 = parts_[0]->text().toStdString();
  in.part2 = parts_[1]->text().toStdString();
  in.part3 = parts_[2]->text().toStdString();
  in.autoIncrease = autoInc_->isChecked();
  const TitleResult r = TitleOk(showTitle_, in);
  result_ = r.text;
  autoIncrease_ = r.autoIncrease;
  accept();
}

// AlphaNumKeyPress of the three edits.
bool TTitleForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  const QString text = key->text();
  // Keys without a character (arrows, Delete, ...) and control characters pass.
  if (text.isEmpty() || (text.size() == 1 && (text[0].unicode() < 0x20 || text[0].unicode() == 0x7F)))
    return QDialog::eventFilter(watched, event);
  QString taken;
  for (QChar ch : text) {
    const char16_t c = ch.unicode();
    if (c < 0x20 || c >= 0x7F) continue;
    if (auto k = AlphaNumKey(static_cast<char>(c))) taken += QChar(*k);
  }
  if (taken == text) return QDialog::eventFilter(watched, event);
  if (!taken.isEmpty()) static_cast<QLineEdit*>(watched)->insert(taken);
  return true;
}

}  // namespace qk::gui
