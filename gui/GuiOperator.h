#pragma once
// The station's questions and messages as Qt dialogs. Callable from any
// thread: calls off the GUI thread wait for the answer on the GUI thread.
#include <QWidget>
#include <QPointer>

#include "platform/Operator.h"

namespace qk::gui {

class GuiOperator : public Operator {
 public:
  explicit GuiOperator(QWidget* parent = nullptr) : parent_(parent) {}
  void setParent(QWidget* parent) { parent_ = parent; }

  void showMessage(const std::string& text, const std::string& caption = {},
                   MessageIcon icon = MessageIcon::None) override;
  std::optional<std::string> askText(const std::string& caption, const std::string& prompt,
                                     const std::string& defaultText, bool hidden) override;
  std::optional<std::string> chooseFile(const std::string& filter, const std::string& defaultExt,
                                        const std::string& startFolder, bool save) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace qk::gui
