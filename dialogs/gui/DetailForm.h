#pragma once
// "Manual Setting": the identity of a drive that passed, read afresh.
#include <QDialog>

#include <vector>

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
  // Reads the drive of the 1-based selected port and fills the fields.
  // Runs on the window's thread: the port has no worker at that time.
  void loadPort(int selectedPort);

 private:
  Station& station_;
  std::vector<QLineEdit*> edits_;  // in DetailFields order
  QLineEdit* fwInfoEdit_ = nullptr;
  QLabel* loaderLabel_ = nullptr;  // Label1, "Loader Mode! "
};

}  // namespace qk::gui
