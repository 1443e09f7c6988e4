#pragma once
// "Workorder": work order, part number and week code.
#include <QDialog>

#include <string>

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
  std::string workOrder_, partNumber_, weekCode_;
};

}  // namespace qk::gui
