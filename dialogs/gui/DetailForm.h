#pragma once
// "Manual Setting": the identity of a drive that passed, read afresh.
#include <QDialog>

namespace qk {
class Station;
}

namespace qk::gui {

class TDetailForm : public QDialog {
  Q_OBJECT
 public:
  explicit TDetailForm(Station& station, QWidget* parent = nullptr);
  // Reads the drive of the 1-based selected port and fills the fields.
  void loadPort(int selectedPort);
};

}  // namespace qk::gui
