#pragma once
// "Serial Number Information": the first serial of a batch, asked at start-up.
#include <QDialog>

#include <string>

namespace qk::gui {

class TTitleForm : public QDialog {
  Q_OBJECT
 public:
  // showTitle: the profile's ShowTitle (1 or 2 pick the layout).
  explicit TTitleForm(int showTitle, QWidget* parent = nullptr);
  // Valid after OK: the serial text (may be empty) and "Auto Increase".
  const std::string& resultText() const { return result_; }
  bool autoIncrease() const { return autoIncrease_; }

 protected:
  std::string result_;
  bool autoIncrease_ = false;
};

}  // namespace qk::gui
