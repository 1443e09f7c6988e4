#pragma once
// "Manual Setting": the identity of a drive that passed, read afresh.
#include <QDialog>

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "protocol/DeviceDetail.h"

class QLabel;
class QLineEdit;

namespace qk {
class Station;
}

namespace qk::gui {

class TDetailForm : public QDialog {
  Q_OBJECT
 public:
  explicit TDetailForm(Station& station, QWidget* parent = nullptr);
  ~TDetailForm() override;
  // Empties the fields and reads the drive of the 1-based selected port on a
  // thread of its own, so a drive that answers slowly never freezes the
  // window; the fields fill in when the answer is back.
  void loadPort(int selectedPort);
  // Waits for the read under way and shows its answer (tests).
  void waitForLoad();
  bool loading() const;
  // A read has the drive: the window keeps the port's run and scans off it.
  bool reading() const { return reading_; }

 Q_SIGNALS:
  void readingChanged(bool reading);

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void showLoaded();
  void readEnded(int generation);

  mutable std::mutex mutex_;
  std::optional<DeviceDetail> answer_;  // a read's result not yet shown
  int generation_ = 0;                  // the newest loadPort; older answers are dropped
  int answerGeneration_ = 0;
  std::jthread reader_;
  std::atomic<bool> reading_{false};
  Station& station_;
  std::vector<QLineEdit*> edits_;  // in DetailFields order
  QLineEdit* fwInfoEdit_ = nullptr;
  QLabel* loaderLabel_ = nullptr;  // Label1, "Loader Mode! "
};

}  // namespace qk::gui
