#pragma once
// "Error": the failure report of the port chosen with its "?" button, and
// the board photos.
#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QPlainTextEdit;

namespace qk::gui {

class TErrorForm : public QDialog {
  Q_OBJECT
 public:
  explicit TErrorForm(QWidget* parent = nullptr);
  // The report lines of the core (ErrorDialogLines) and the folder where
  // "Layout_Front.jpg" / "Layout_Back.jpg" are looked for.
  void setReport(const std::vector<std::string>& lines, const std::string& photoFolder);

 private:
  QPlainTextEdit* memo_ = nullptr;  // Memo1
  QLabel* image1_ = nullptr;        // front photo
  QLabel* image2_ = nullptr;        // back photo
};

}  // namespace qk::gui
