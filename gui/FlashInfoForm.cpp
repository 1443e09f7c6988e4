#include "gui/FlashInfoForm.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/Operator.h"

namespace qk::gui {

namespace {

QLineEdit* readOnly(const char* name, const std::string& text, QWidget* parent) {
  auto* e = new QLineEdit(QString::fromStdString(text), parent);
  e->setObjectName(name);
  e->setReadOnly(true);
  return e;
}

}  // namespace

TFlashInfoFrom::TFlashInfoFrom(const FlashDetectView& view, Operator& op, QWidget* parent)
    : QDialog(parent), op_(op) {
  setObjectName("TFlashInfoFrom");
  setWindowTitle(kFlashDetectCaption);
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  form->addRow("Vendor", readOnly("VendorEdit", view.vendor, this));
  form->addRow("Type", readOnly("TypeEdit", view.type, this));
  form->addRow("Channel / Bank", readOnly("ChnnelBankEdit", view.channelBank, this));
  form->addRow("Drive Current", readOnly("DrvCurrentEdit", view.driveCurrent, this));
  layout->addLayout(form);
  list_ = new QListWidget(this);
  list_->setObjectName("FlashTypeListBox");
  for (const auto& m : view.matches) list_->addItem(QString::fromStdString(m));
  if (view.matches.size() == 1) list_->setCurrentRow(0);
  layout->addWidget(list_);
  auto* close = new QPushButton("Close", this);
  close->setObjectName("FormCloseBtn");
  layout->addWidget(close);
  connect(close, &QPushButton::clicked, this, [this] { formCloseBtnClick(); });
}

void TFlashInfoFrom::formCloseBtnClick() {
  const int row = list_->currentItem() && list_->currentItem()->isSelected() ? list_->currentRow() : -1;
  const FlashDialogClose c = CloseFlashDialog(static_cast<std::size_t>(list_->count()), row);
  if (c.refused) {
    op_.showMessage(kChooseOneFlashType, kFlashDetectCaption, MessageIcon::Warning);
    return;
  }
  chosen_ = c.chosen;
  accept();
}

void TFlashInfoFrom::reject() { formCloseBtnClick(); }

}  // namespace qk::gui
