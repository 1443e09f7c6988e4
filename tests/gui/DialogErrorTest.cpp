// "Error": the core's report in Memo1 and the board photos beside it.
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include "gui/ErrorForm.h"
#include "run/FailureReport.h"
#include "sim/SampleData.h"
#include "support/TempDir.h"

namespace qk::gui {
namespace {

std::vector<std::string> report(int code, std::vector<std::uint8_t> record) {
  record.resize(kDetailSize);
  ReportFlash flash;
  flash.pageSectors = 1;  // a dump of 512 bytes
  return ErrorDialogLines(code, record, flash);
}

TEST(DialogError, ReportAndPhotos) {
  test::TempDir home;
  ASSERT_TRUE(WriteSampleData(home.path()));
  TErrorForm form;
  EXPECT_EQ(form.windowTitle(), "Error");
  EXPECT_EQ(form.findChild<QGroupBox*>("PictureGBox")->title(), "PCB Layout");
  auto* memo = form.findChild<QPlainTextEdit*>("Memo1");
  ASSERT_NE(memo, nullptr);
  EXPECT_TRUE(memo->isReadOnly());

  form.setReport(report(26, {}), home.path());
  EXPECT_EQ(memo->toPlainText(), "Timeout");
  auto* front = form.findChild<QLabel*>("Image1");
  auto* back = form.findChild<QLabel*>("Image2");
  EXPECT_FALSE(front->pixmap().isNull());
  EXPECT_FALSE(back->pixmap().isNull());

  // Later bad counts: one memo line each, no empty lines between them.
  std::vector<std::uint8_t> bb = {0xBB};
  for (std::uint32_t v : {9u, 10u, 20u, 30u, 40u}) {
    for (int i = 0; i < 4; ++i) bb.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  form.setReport(report(8, bb), home.path());
  const QStringList lines = memo->toPlainText().split('\n');
  ASSERT_EQ(lines.size(), 5 + 512 / 8);
  EXPECT_EQ(lines[0], "The Later Bad Counts are too large");
  EXPECT_EQ(lines[1], "Read fail count is (40)");
  EXPECT_EQ(lines[4], "Uncorrectable ECC fail count is (30)");
  EXPECT_TRUE(lines[5].startsWith("0000 : ")) << lines[5].toStdString();
  EXPECT_EQ(lines.filter(QRegularExpression("^$")).size(), 0);
}

TEST(DialogError, MissingPhotosLeaveTheImagesEmpty) {
  test::TempDir home;
  home.write("Layout_Back.jpg", "no picture");
  TErrorForm form;
  form.setReport(report(26, {}), home.path());
  EXPECT_TRUE(form.findChild<QLabel*>("Image1")->pixmap().isNull());
  EXPECT_TRUE(form.findChild<QLabel*>("Image2")->pixmap().isNull());

  // Photos shown for one port do not linger for the next folder.
  ASSERT_TRUE(WriteSampleData(home.path()));
  form.setReport(report(26, {}), home.path());
  EXPECT_FALSE(form.findChild<QLabel*>("Image1")->pixmap().isNull());
  test::TempDir empty;
  form.setReport(report(26, {}), empty.path());
  EXPECT_TRUE(form.findChild<QLabel*>("Image1")->pixmap().isNull());
}

}  // namespace
}  // namespace qk::gui
