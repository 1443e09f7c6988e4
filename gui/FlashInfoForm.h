#pragma once
// "Flash Auto Detect Result": the detected flash type, the array shape and
// every catalogue entry that fits; with several fits the operator picks one.
#include <QDialog>

#include <optional>

#include "config/FlashAutoDetect.h"

class QLineEdit;
class QListWidget;
class QPushButton;

namespace qk {
class Operator;
}

namespace qk::gui {

class TFlashInfoFrom : public QDialog {
  Q_OBJECT
 public:
  TFlashInfoFrom(const FlashDetectView& view, Operator& op, QWidget* parent = nullptr);
  // The match picked when the dialog closed, if any.
  std::optional<std::size_t> chosen() const { return chosen_; }
  QListWidget* typeList() const { return list_; }

  // "Close": refused with "Please choose one flash type" while several
  // entries fit and none is selected.
  void formCloseBtnClick();

 protected:
  void reject() override;  // Escape and the title bar's close go through "Close" too

 private:
  Operator& op_;
  QListWidget* list_ = nullptr;
  std::optional<std::size_t> chosen_;
};

}  // namespace qk::gui
