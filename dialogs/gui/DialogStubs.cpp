// Placeholders until the dialogs land: empty windows with the right captions.
#include "dialogs/gui/DetailForm.h"
#include "dialogs/gui/ErrorForm.h"
#include "dialogs/gui/TitleForm.h"
#include "dialogs/gui/WorkorderForm.h"

namespace qk::gui {

TErrorForm::TErrorForm(QWidget* parent) : QDialog(parent) { setWindowTitle("Error"); }
void TErrorForm::setReport(const std::vector<std::string>&, const std::string&) {}

TDetailForm::TDetailForm(Station&, QWidget* parent) : QDialog(parent) { setWindowTitle("Manual Setting"); }
void TDetailForm::loadPort(int) {}

TTitleForm::TTitleForm(int, QWidget* parent) : QDialog(parent) { setWindowTitle("Serial Number Information"); }

TWorkorderForm::TWorkorderForm(Operator&, QWidget* parent) : QDialog(parent) { setWindowTitle("Workorder"); }

}  // namespace qk::gui
