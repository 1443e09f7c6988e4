#include "transport/TransportState.h"

namespace qk {

std::string TransportState::busWord() const {
  std::lock_guard lock(mutex_);
  return busWord_;
}

void TransportState::setBusWord(const std::string& word) {
  std::lock_guard lock(mutex_);
  busWord_ = word;
}

void TransportState::setCaptionListener(std::function<void(const std::string&)> listener) {
  std::lock_guard lock(mutex_);
  captionListener_ = std::move(listener);
}

void TransportState::notifyCaption() const {
  std::function<void(const std::string&)> listener;
  std::string word;
  {
    std::lock_guard lock(mutex_);
    listener = captionListener_;
    word = busWord_;
  }
  if (listener) listener(word);
}

}  // namespace qk
