#pragma once
// Records every message the station shows and answers questions from a script.
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/Operator.h"

namespace qk::test {

struct ShownMessage {
  std::string text;
  std::string caption;
  MessageIcon icon;
};

class RecordingOperator : public Operator {
 public:
  void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
    messages.push_back({text, caption, icon});
  }
  std::optional<std::string> askText(const std::string& caption, const std::string& prompt,
                                     const std::string&, bool hidden) override {
    questions.push_back(caption + "|" + prompt + (hidden ? "|hidden" : ""));
    if (answers.empty()) return std::nullopt;
    auto a = answers.front();
    answers.pop_front();
    return a;
  }
  std::optional<std::string> chooseFile(const std::string&, const std::string&, const std::string&,
                                        bool) override {
    if (files.empty()) return std::nullopt;
    auto f = files.front();
    files.pop_front();
    return f;
  }

  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const auto& m : messages) out.push_back(m.text);
    return out;
  }

  std::vector<ShownMessage> messages;
  std::vector<std::string> questions;
  std::deque<std::optional<std::string>> answers;
  std::deque<std::optional<std::string>> files;
};

}  // namespace qk::test
