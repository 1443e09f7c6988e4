#pragma once
// "Serial Number Information": the first serial of a batch, asked at start-up.
#include <QDialog>

#include <string>

#include "dialogs/TitleInput.h"

class QCheckBox;
class QLineEdit;

namespace qk::gui {

class TTitleForm : public QDialog {
  Q_OBJECT
 public:
  // showTitle: the profile's ShowTitle (1 or 2 pick the layout).
  explicit TTitleForm(int showTitle, QWidget* parent = nullptr);
  // Valid after OK: the serial text (may be empty) and "Auto Increase".
  const std::string& resultText() const { return result_; }
  bool autoIncrease() const { return autoIncrease_; }
  // The whole outcome, for ApplyTitleResult.
  TitleResult titleResult() const { return {result() == QDialog::Accepted, result_, autoIncrease_}; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

  std::string result_;
  bool autoIncrease_ = false;

 private:
  void okClicked();

  int showTitle_;
  QLineEdit* woEdit_ = nullptr;
  QLineEdit* snEdit_ = nullptr;
  QLineEdit* parts_[3] = {};
  QCheckBox* autoInc_ = nullptr;
};

}  // namespace qk::gui
