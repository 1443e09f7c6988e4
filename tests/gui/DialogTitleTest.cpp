// "Serial Number Information" driven with keys and clicks.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "gui/TitleForm.h"

namespace qk::gui {
namespace {

QLineEdit* edit(QWidget& w, const char* name) {
  auto* e = w.findChild<QLineEdit*>(name);
  EXPECT_NE(e, nullptr) << name;
  return e;
}

TEST(DialogTitle, LayoutOneJoinsWorkOrderAndSerial) {
  TTitleForm form(1);
  form.show();
  EXPECT_EQ(form.windowTitle(), "Serial Number Information");
  EXPECT_FALSE(edit(form, "WOEdit")->isHidden());
  EXPECT_FALSE(edit(form, "SNEdit")->isHidden());
  for (const char* hidden : {"Edit1", "Edit2", "Edit3"}) EXPECT_TRUE(edit(form, hidden)->isHidden()) << hidden;
  EXPECT_TRUE(form.findChild<QLabel*>("Label1")->isHidden());

  QTest::keyClicks(edit(form, "WOEdit"), "WO12");
  QTest::keyClicks(edit(form, "SNEdit"), "0042");
  form.findChild<QCheckBox*>("SNChkBx")->setChecked(true);
  QTest::mouseClick(form.findChild<QPushButton*>("OKBtn"), Qt::LeftButton);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(form.resultText(), "WO120042");
  EXPECT_TRUE(form.autoIncrease());
}

TEST(DialogTitle, LayoutTwoFiltersCutsAndJoins) {
  TTitleForm form(2);
  form.show();
  EXPECT_TRUE(edit(form, "WOEdit")->isHidden());
  for (const char* shown : {"Edit1", "Edit2", "Edit3"}) EXPECT_FALSE(edit(form, shown)->isHidden()) << shown;
  EXPECT_EQ(form.findChild<QLabel*>("Label2")->text(), "-");

  // Lower case comes out upper case, other characters are swallowed, the eighth is cut.
  QTest::keyClicks(edit(form, "Edit1"), "ab-c d_efgh");
  EXPECT_EQ(edit(form, "Edit1")->text(), "ABCDEFG");
  QTest::keyClicks(edit(form, "Edit2"), "12345");
  EXPECT_EQ(edit(form, "Edit2")->text(), "1234");
  QTest::keyClick(edit(form, "Edit2"), Qt::Key_Backspace);
  EXPECT_EQ(edit(form, "Edit2")->text(), "123");
  // Pasted text is cut as well.
  edit(form, "Edit3")->setText("12345678");
  EXPECT_EQ(edit(form, "Edit3")->text(), "1234567");

  edit(form, "Edit2")->clear();
  QTest::mouseClick(form.findChild<QPushButton*>("OKBtn"), Qt::LeftButton);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(form.resultText(), "ABCDEFG1234567");
  EXPECT_FALSE(form.autoIncrease());
}

TEST(DialogTitle, CancelKeepsNothing) {
  TTitleForm form(2);
  form.show();
  QTest::keyClicks(edit(form, "Edit1"), "ABC");
  form.findChild<QCheckBox*>("SNChkBx")->setChecked(true);
  QTest::mouseClick(form.findChild<QPushButton*>("CancelBtn"), Qt::LeftButton);
  EXPECT_EQ(form.result(), QDialog::Rejected);
  EXPECT_EQ(form.resultText(), "");
  EXPECT_FALSE(form.autoIncrease());

  ProfileSettings s;
  s.SerialNum = "SN0001";
  s.SNAutoInc = 0;
  ApplyTitleResult(form.titleResult(), s);
  EXPECT_EQ(s.SerialNum, "SN0001");
  EXPECT_EQ(s.SNAutoInc, 0);
}

}  // namespace
}  // namespace qk::gui
