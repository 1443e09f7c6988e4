#include "gui/WorkorderForm.h"

#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/WorkorderInput.h"
#include "platform/Operator.h"

namespace qk::gui {

TWorkorderForm::TWorkorderForm(Operator& op, QWidget* parent) : QDialog(parent), op_(op) {
  setObjectName("WorkorderForm");
  setWindowTitle("Workorder");

  auto* form = new QFormLayout;
  const char* names[3] = {"WorkorderLEdit", "PartNumberLEdit", "WeekcodeLEdit"};
  const char* labels[3] = {"Work Order", "Part Number", "Week Code"};
  for (int i = 0; i < 3; ++i) {
    auto* label = new QLabel(labels[i], this);
    label->setObjectName(QString(names[i]) + "Label");
    fields_[i] = new QLineEdit(this);
    fields_[i]->setObjectName(names[i]);
    fields_[i]->installEventFilter(this);
    label->setBuddy(fields_[i]);
    form->addRow(label, fields_[i]);
  }
  auto* start = new QPushButton("Start", this);
  start->setObjectName("StartBn");
  // Enter in a field moves on; it must not press Start.
  start->setAutoDefault(false);
  connect(start, &QPushButton::clicked, this, &TWorkorderForm::startClicked);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(start, 0, Qt::AlignRight);
  resize(320, 150);
}

void TWorkorderForm::startClicked() {
  const WorkorderInput in{fields_[0]->text().toStdString(), fields_[1]->text().toStdString(),
                          fields_[2]->text().toStdString()};
  if (WorkorderComplete(in)) {
    workOrder_ = in.workOrder;
    partNumber_ = in.partNumber;
    weekCode_ = in.weekCode;
    accept();
    return;
  }
  op_.showMessage(kWorkorderInputError);
  focusNextChild();
}

// WorkorderLEditKeyPress: Enter in any of the three fields moves the focus on.
bool TWorkorderForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      focusNextChild();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace qk::gui
