// The operator's input box: a password prompt hides what is typed.
#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include "gui/GuiOperator.h"

namespace qk::gui {
namespace {

struct Seen {
  QString title, label;
  QLineEdit::EchoMode echo = QLineEdit::Normal;
};

// Answers the input box once it is up and notes how it looked.
std::optional<std::string> ask(bool hidden, Seen& seen, const QString& answer) {
  // Polls the event loop of the box; a box that never shows ends the wait after
  // a bounded number of turns instead of hanging the test.
  auto* timer = new QTimer;
  int turns = 0;
  QObject::connect(timer, &QTimer::timeout, [&seen, answer, timer, &turns] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QInputDialog*>(w);
      if (!box || !box->isVisible()) continue;
      seen.title = box->windowTitle();
      seen.label = box->labelText();
      seen.echo = box->findChild<QLineEdit*>()->echoMode();
      box->setTextValue(answer);
      box->accept();
      timer->stop();
      return;
    }
    if (++turns > 1000) {
      timer->stop();
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    }
  });
  timer->start(0);
  GuiOperator op;
  auto answered = op.askText("Please Input the Password", "Password", "", hidden);
  delete timer;
  return answered;
}

TEST(DialogOperator, PasswordInputIsHidden) {
  Seen seen;
  EXPECT_EQ(ask(true, seen, "vornish"), "vornish");
  EXPECT_EQ(seen.title, "Please Input the Password");
  EXPECT_EQ(seen.label, "Password");
  EXPECT_EQ(seen.echo, QLineEdit::Password);

  Seen plain;
  EXPECT_EQ(ask(false, plain, "x"), "x");
  EXPECT_EQ(plain.echo, QLineEdit::Normal);
}

}  // namespace
}  // namespace qk::gui
