#pragma once
// Station-wide choice of how commands reach the drives. Written by the scan
// (under the scan lock) and by the firmware download; read by every worker.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace qk {

enum class TransportPath : std::uint8_t { UsbPath, SataPath };

class TransportState {
 public:
  TransportPath transportPath() const { return path_.load(std::memory_order_relaxed); }
  void setTransportPath(TransportPath p) { path_.store(p, std::memory_order_relaxed); }

  // ATA code variant for wrapped vendor commands: 0, 1 or 2 (2 at start-up).
  std::uint8_t ataWrapVariant() const { return variant_.load(std::memory_order_relaxed); }
  void setAtaWrapVariant(std::uint8_t v) { variant_.store(v, std::memory_order_relaxed); }

  bool keepVariantOne() const { return keepOne_.load(std::memory_order_relaxed); }
  void setKeepVariantOne(bool on) { keepOne_.store(on, std::memory_order_relaxed); }

  // The caption's bus word: "SATA" at start-up, "USB" once a native drive is bound.
  std::string busWord() const;
  void setBusWord(const std::string& word);

  // Called after every path selection so the front end can rebuild its caption.
  // Set once before scanning starts.
  void setCaptionListener(std::function<void(const std::string& busWord)> listener);
  void notifyCaption() const;

 private:
  std::atomic<TransportPath> path_{TransportPath::SataPath};
  std::atomic<std::uint8_t> variant_{2};
  std::atomic<bool> keepOne_{false};
  mutable std::mutex mutex_;
  std::string busWord_ = "SATA";
  std::function<void(const std::string&)> captionListener_;
};

}  // namespace qk
