#pragma once
// What the station asks of the person at the station. The GUI shows dialogs,
// the CLI prints to stderr and reads answers from options or the terminal,
// tests record the messages and script the answers.
#include <optional>
#include <string>

namespace qk {

enum class MessageIcon { None, Information, Warning, Error, Question };

class Operator {
 public:
  virtual ~Operator() = default;
  // A modal message box: caption empty means the application's title.
  virtual void showMessage(const std::string& text, const std::string& caption = {},
                           MessageIcon icon = MessageIcon::None) = 0;
  // An input box; nullopt when the person cancels.
  virtual std::optional<std::string> askText(const std::string& caption, const std::string& prompt,
                                             const std::string& defaultText, bool hidden) = 0;
  // An open (save = false) or save file dialog; nullopt when cancelled.
  virtual std::optional<std::string> chooseFile(const std::string& filter, const std::string& defaultExt,
                                                const std::string& startFolder, bool save) = 0;
};

// An operator nobody attends: messages are dropped, questions are cancelled.
class SilentOperator : public Operator {
 public:
  void showMessage(const std::string&, const std::string& = {}, MessageIcon = MessageIcon::None) override {}
  std::optional<std::string> askText(const std::string&, const std::string&, const std::string&, bool) override {
    return std::nullopt;
  }
  std::optional<std::string> chooseFile(const std::string&, const std::string&, const std::string&, bool) override {
    return std::nullopt;
  }
};

}  // namespace qk
