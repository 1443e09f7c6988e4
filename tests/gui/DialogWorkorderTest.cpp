// "Workorder": the three fields, Enter moving on, "Input error".
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "gui/WorkorderForm.h"
#include "support/RecordingOperator.h"

namespace qk::gui {
namespace {

class DialogWorkorder : public ::testing::Test {
 protected:
  void SetUp() override { form.show(); }
  QLineEdit* field(const char* name) { return form.findChild<QLineEdit*>(name); }
  QPushButton* start() { return form.findChild<QPushButton*>("StartBn"); }

  test::RecordingOperator op;
  TWorkorderForm form{op};
};

TEST_F(DialogWorkorder, EnterMovesOnWithoutStarting) {
  field("WorkorderLEdit")->setFocus();
  QTest::keyClick(field("WorkorderLEdit"), Qt::Key_Return);
  EXPECT_EQ(form.focusWidget(), field("PartNumberLEdit"));
  QTest::keyClick(field("PartNumberLEdit"), Qt::Key_Enter);
  EXPECT_EQ(form.focusWidget(), field("WeekcodeLEdit"));
  QTest::keyClick(field("WeekcodeLEdit"), Qt::Key_Return);
  EXPECT_EQ(form.focusWidget(), start());
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(DialogWorkorder, AMissingFieldShowsInputErrorAndStaysOpen) {
  QTest::keyClicks(field("WorkorderLEdit"), "WO-7");
  QTest::keyClicks(field("PartNumberLEdit"), "PN 1");
  field("WorkorderLEdit")->setFocus();
  start()->click();
  ASSERT_EQ(op.texts(), std::vector<std::string>{"Input error"});
  EXPECT_TRUE(form.isVisible());
  EXPECT_NE(form.result(), QDialog::Accepted);
  EXPECT_EQ(form.focusWidget(), field("PartNumberLEdit"));
  EXPECT_EQ(form.weekCode(), "");

  QTest::keyClicks(field("WeekcodeLEdit"), "1123");
  start()->click();
  EXPECT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.workOrder(), "WO-7");
  EXPECT_EQ(form.partNumber(), "PN 1");
  EXPECT_EQ(form.weekCode(), "1123");
}

}  // namespace
}  // namespace qk::gui
