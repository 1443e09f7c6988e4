#include "gui/GuiOperator.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QThread>

namespace qk::gui {
namespace {

// Runs `fn` on the GUI thread and waits for it.
template <typename Fn>
void onGuiThread(Fn&& fn) {
  if (QThread::currentThread() == qApp->thread()) {
    fn();
  } else {
    QMetaObject::invokeMethod(qApp, std::forward<Fn>(fn), Qt::BlockingQueuedConnection);
  }
}

QMessageBox::Icon toQt(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Warning: return QMessageBox::Warning;
    case MessageIcon::Error: return QMessageBox::Critical;
    case MessageIcon::Question: return QMessageBox::Question;
    case MessageIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

void GuiOperator::showMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
  onGuiThread([&] {
    QMessageBox box(toQt(icon), caption.empty() ? QApplication::applicationName() : QString::fromStdString(caption),
                    QString::fromStdString(text), QMessageBox::Ok, parent_);
    box.exec();
  });
}

std::optional<std::string> GuiOperator::askText(const std::string& caption, const std::string& prompt,
                                                const std::string& defaultText, bool hidden) {
  std::optional<std::string> answer;
  onGuiThread([&] {
    QInputDialog box(parent_);
    box.setObjectName("InputBox");
    box.setWindowTitle(QString::fromStdString(caption));
    box.setLabelText(QString::fromStdString(prompt));
    box.setTextValue(QString::fromStdString(defaultText));
    if (hidden) {
      // A password prompt: what is typed shows as "*".
      box.setTextEchoMode(QLineEdit::Password);
      if (auto* edit = box.findChild<QLineEdit*>()) edit->setStyleSheet("lineedit-password-character: 42");
    }
    if (box.exec() == QDialog::Accepted) answer = box.textValue().toStdString();
  });
  return answer;
}

std::optional<std::string> GuiOperator::chooseFile(const std::string& filter, const std::string& defaultExt,
                                                   const std::string& startFolder, bool save) {
  std::optional<std::string> answer;
  onGuiThread([&] {
    // "Text (*.txt)|*.txt|..." pairs into Qt's ";;" form.
    QStringList parts = QString::fromStdString(filter).split('|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) filters << parts[i];
    QFileDialog dialog(parent_, QString(), QString::fromStdString(startFolder), filters.join(";;"));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (!save) dialog.setFileMode(QFileDialog::ExistingFile);
    if (!defaultExt.empty()) dialog.setDefaultSuffix(QString::fromStdString(defaultExt).remove(0, defaultExt[0] == '.' ? 1 : 0));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
      answer = dialog.selectedFiles().first().toStdString();
  });
  return answer;
}

}  // namespace qk::gui
