#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/Station.h"
#include "gui/MainForm.h"
#include "gui/SettingsPages.h"
#include "gui/SlotPanel.h"
#include "config/IniFile.h"
#include "gui/DetailForm.h"
#include "gui/ErrorForm.h"
#include "platform/Jpeg.h"
#include "sim/SampleData.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"
#include "tests/gui/MainFormFixture.h"

namespace qk::gui {
namespace {

TEST_F(MainFormTest, TenSlotsFillColumnsTopToBottomAndAllShow) {
  ASSERT_NO_FATAL_FAILURE(start(benchText(10, 0, false), kItemsProfile));
  ASSERT_EQ(form->slotCount(), 10);
  const int rows = form->slotRows();
  ASSERT_GT(rows, 1);
  auto place = [this](int i) { return child(QString("PortPanel%1").arg(i))->geometry(); };
  const QSize slot = place(0).size();
  EXPECT_GE(slot.width(), SlotPanel::minimumSlotSize().width());
  EXPECT_EQ(place(0).topLeft(), QPoint(0, 0));
  EXPECT_EQ(place(1).topLeft(), QPoint(0, slot.height()));
  EXPECT_EQ(place(rows).topLeft(), QPoint(slot.width(), 0));  // the next column starts at the top
  EXPECT_TRUE(everySlotShows());
  EXPECT_EQ(child("PortPanel10"), nullptr);
  // Every slot has its five parts; nothing is plugged in, so all are hidden.
  for (const char* part : {"PortLEdit9", "PortBitBtn9", "PortCGuage9", "PortCGuageP9"}) EXPECT_NE(child(part), nullptr) << part;
  EXPECT_FALSE(child("PortPanel0")->isVisible());
  EXPECT_FALSE(child("PortCGuageP0")->isVisibleTo(child("PortPanel0")));
  QStringList labels;
  for (auto* l : child("PortPanel9")->findChildren<QLabel*>()) labels << l->text();
  EXPECT_TRUE(labels.contains("Port10:SN")) << labels.join(",").toStdString();
  EXPECT_EQ(child<QPushButton>("ExecuteBtn")->text(), "START");
  EXPECT_FALSE(child("SafeRmBtn")->isVisible());
  EXPECT_FALSE(child("WaitPanel")->isVisible());
  EXPECT_EQ(form->windowTitle().toStdString(), station->caption());
}

TEST_F(MainFormTest, FiftySlotsShowWholeOnAScreenOf1280By1024) {
  ASSERT_NO_FATAL_FAILURE(start(benchText(50, 0, false), kItemsProfile));
  ASSERT_EQ(form->slotCount(), 50);
  form->resize(1280, 1024 - 32);  // less a title bar
  EXPECT_TRUE(everySlotShows());
  // Readable: no part of a slot in a font smaller than the system's, the gauge a text line high.
  const QFont system = QApplication::font();
  for (QWidget* part : form->slotPanel(49)->findChildren<QWidget*>()) {
    EXPECT_GE(part->font().pointSizeF(), system.pointSizeF()) << part->objectName().toStdString();
  }
  EXPECT_GE(form->slotPanel(49)->gauge()->height(), QFontMetrics(system).height());
  form->resize(1920, 1080 - 32);
  EXPECT_TRUE(everySlotShows());
}

TEST_F(MainFormTest, StyleFileRestoresSavedSlotsAndIsRewrittenAtClose) {
  home.write("Style.cs",
             "[Style]\nPortPanel0=Left 300 Top 10 Width 249 Height 65\nPortPanel1=NULL\n"
             "PortPanel12=Left 9 Top 9 Width 9 Height 9\n[Main]\nLeft=0\nTop=0\nWidth=800\nHeight=590\n");
  ASSERT_NO_FATAL_FAILURE(start(benchText(10, 0, false), kItemsProfile));
  EXPECT_EQ(child("PortPanel0")->geometry(), QRect(300, 10, 249, 65));
  const QRect grid = child("PortPanel1")->geometry();  // "NULL": its place on the grid
  EXPECT_EQ(grid.topLeft(), QPoint(0, grid.height()));
  EXPECT_EQ(form->height(), 590);
  EXPECT_GE(child("StyleCanvas")->width(), 549);  // the scroll range covers the moved slot

  form->close();
  IniFile style = IniFile::load(home.file("Style.cs"));
  const auto keys = style.keys("Style");
  ASSERT_EQ(keys.size(), 10u);
  EXPECT_EQ(keys.front(), "PortPanel0");
  EXPECT_FALSE(style.hasKey("Style", "PortPanel12"));
  EXPECT_EQ(style.getString("Style", "PortPanel0", ""), "Left 300 Top 10 Width 249 Height 65");
  EXPECT_EQ(style.getString("Style", "PortPanel1", ""), FormatSlotBounds({0, grid.height(), grid.width(), grid.height()}));
  EXPECT_EQ(style.getInt("Main", "Height", 0), 590);
}

TEST_F(MainFormTest, SavedLayoutBeyondTheScreenGivesWayToAGridThatShowsEverySlot) {
  // The old pinned grid of seven rows, 1992 pixels wide.
  std::string saved = "[Style]\n";
  for (int i = 0; i < 50; ++i) saved += "PortPanel" + std::to_string(i) + "=" + FormatSlotBounds(DefaultSlotRect(i, 7, 249, 65)) + "\n";
  home.write("Style.cs", saved + "[Main]\nLeft=0\nTop=0\nWidth=780\nHeight=560\n");
  ASSERT_NO_FATAL_FAILURE(start(benchText(50, 0, false), kItemsProfile));
  EXPECT_NE(form->slotPanel(49)->x(), 1743);
  form->resize(1280, 1024 - 32);
  EXPECT_TRUE(everySlotShows());
}

TEST_F(MainFormTest, StartRunsTheBenchAndDrawsVerdicts) {
  ASSERT_NO_FATAL_FAILURE(start(benchText(4, 2, true), kItemsProfile));
  auto* pass = form->slotPanel(0);
  auto* fail = form->slotPanel(1);
  EXPECT_TRUE(pass->isVisible());
  EXPECT_EQ(pass->colour(), SlotColour::Yellow);
  EXPECT_FALSE(form->slotPanel(2)->isVisible());
  ASSERT_TRUE(child("ExecuteBtn")->isEnabled());

  QTest::mouseClick(child<QPushButton>("ExecuteBtn"), Qt::LeftButton);
  EXPECT_TRUE(form->running());
  EXPECT_FALSE(child("ExecuteBtn")->isEnabled());
  ASSERT_TRUE(runEnds());
  ASSERT_TRUE(form->lastOutcome()->ran) << (op.messages.empty() ? "" : op.messages.back().text);

  EXPECT_EQ(pass->colour(), SlotColour::Green);
  EXPECT_EQ(pass->text(), "Pass");
  EXPECT_EQ(pass->gauge()->value(), 100);
  EXPECT_EQ(fail->colour(), SlotColour::Red);
  EXPECT_EQ(fail->text(), "Fail (B07)(00)");
  EXPECT_FALSE(child("WaitPanel")->isVisible());
  EXPECT_TRUE(child("ExecuteBtn")->isEnabled());

  // The yield counts each end once, however often the slots are drawn again.
  EXPECT_EQ(yield(), "1 / 2");
  ASSERT_TRUE(refreshed());
  EXPECT_TRUE(child("BottomPanel")->isEnabled());
  EXPECT_EQ(yield(), "1 / 2");
  EXPECT_EQ(fail->text(), "Fail (B07)(00)");  // a rescan keeps the last verdict on screen
  QTest::mouseClick(child<QPushButton>("ResetYieldBtn"), Qt::LeftButton);
  EXPECT_EQ(yield(), "0 / 0");
  const std::string counters = station->profile().logPath + "QKSSD.log";
  EXPECT_EQ(readIniInt(counters, "TestRecord", "TotalTestCount", -1), 0);
  EXPECT_EQ(readIniInt(counters, "TestRecord", "NumberOfPass", -1), 0);

  // "?": the failed port's report, the passed port's detail.
  QTest::mouseClick(fail->button(), Qt::LeftButton);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(qobject_cast<TErrorForm*>(shown[0]), nullptr);
  EXPECT_EQ(form->selectedPort(), 2);
  QTest::mouseClick(pass->button(), Qt::LeftButton);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_NE(qobject_cast<TDetailForm*>(shown[1]), nullptr);
  EXPECT_EQ(form->selectedPort(), 1);
}

TEST_F(MainFormTest, UnattendedRunChecksItsItemsSavesThePictureAndQuits) {
  MainFormOptions options;
  options.commandLine = ParseStationCommandLine({"7", "autoquit"});
  // Items the mask clears.
  writeIniString(home.file("QKMassProd.ini"), "TestItems", "EnDownload", "1");
  writeIniString(home.file("QKMassProd.ini"), "TestItems", "EnFlashModule", "0");
  ASSERT_NO_FATAL_FAILURE(start(benchText(4, 1, false), kItemsProfile, options));
  auto* list = form->pages()->testItemList();
  ASSERT_GE(list->count(), 4);
  for (int i = 0; i < list->count(); ++i) EXPECT_EQ(list->item(i)->checkState() == Qt::Checked, i < 3) << i;

  ASSERT_TRUE(runEnds());  // START came from the timer, 200 ms after start-up
  const RunOutcome& out = *form->lastOutcome();
  ASSERT_TRUE(out.ran);
  std::ifstream log(out.logFile);
  std::stringstream logText;
  logText << log.rdbuf();
  EXPECT_NE(logText.str().find("Pass"), std::string::npos);

  ASSERT_FALSE(form->lastScreenshot().empty());
  EXPECT_EQ(bareFileName(form->lastScreenshot()).rfind("Image_", 0), 0u);
  auto picture = LoadJpegFile(form->lastScreenshot());
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->width, form->width());
  EXPECT_FALSE(form->isVisible());  // the program ends after the run
  EXPECT_TRUE(fileExists(home.file("Style.cs")));
}

TEST_F(MainFormTest, AutoquitWithoutAMaskStartsNothing) {
  MainFormOptions options;
  options.commandLine = ParseStationCommandLine({"", "autoquit"});
  ASSERT_NO_FATAL_FAILURE(start(benchText(4, 1, false), kItemsProfile, options));
  EXPECT_TRUE(child("ExecuteBtn")->isEnabled());
  QTest::qWait(300);  // past the timer's 200 ms
  EXPECT_FALSE(form->running());
  EXPECT_FALSE(form->lastOutcome());
  EXPECT_TRUE(form->isVisible());
}

}  // namespace
}  // namespace qk::gui
