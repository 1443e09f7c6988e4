#pragma once
// "Workorder": work order, part number and week code.
#include <QDialog>

#include <string>

class QLineEdit;

namespace qk {
class Operator;
}

namespace qk::gui {

class TWorkorderForm : public QDialog {
  Q_OBJECT
 public:
  explicit TWorkorderForm(Operator& op, QWidget* parent = nullptr);
  const std::string& workOrder() const { return workOrder_; }
  const std::string& partNumber() const { return partNumber_; }
  const std::string& weekCode() const { return weekCode_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

  std::string workOrder_, partNumber_, weekCode_;

 private:
  void startClicked();

  Operator& op_;
  QLineEdit* fields_[3] = {};
};

}  // namespace qk::gui
