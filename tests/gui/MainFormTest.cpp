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
#include "app/gui/MainForm.h"
#include "app/gui/SettingsPages.h"
#include "app/gui/SlotPanel.h"
#include "config/IniFile.h"
#include "dialogs/gui/DetailForm.h"
#include "dialogs/gui/ErrorForm.h"
#include "platform/Jpeg.h"
#include "sim/SampleData.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"

namespace qk::gui {
namespace {

// One hub of `ports` ports; drives on the first ports, the second one faulty
// when asked: its flash interface test answers kind 7 for the first chip.
std::string benchText(int ports, int drives, bool faulty) {
  std::string b = "[Hub1]\nParent=root\nKind=usb2\nPorts=" + std::to_string(ports) + "\n";
  for (int d = 1; d <= drives; ++d) {
    b += "[Drive" + std::to_string(d) + "]\nAt=Hub1:" + std::to_string(d) + "\nToken=R20X\nFlash=WBG\nChannel=4\nBank=2\n";
    if (faulty && d == 2) b += "FaultInterface=7:0:0\n";
  }
  return b;
}

// The sample profile with items 0..2 (flash module, bus and flash interface) checked.
const char* kItemsProfile = "";

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QApplication::setQuitOnLastWindowClosed(false);
    ASSERT_TRUE(WriteSampleData(home.path()));
    writeIniString(home.file("QKMassProd.ini"), "TestItems", "EnSataTest", "1");
    writeIniString(home.file("QKMassProd.ini"), "TestItems", "EnFlashTest", "1");
  }
  void TearDown() override {
    if (form) form->close();
    form.reset();
  }

  void start(const std::string& bench, const std::string& profile, MainFormOptions options = {}) {
    home.write("t.bench", bench);
    if (!profile.empty()) home.write("QKMassProd.ini", profile);
    station = std::make_unique<Station>(ProgramFolder(home.path()), op);
    ASSERT_EQ(station->startUp("", home.file("t.bench"), &clock), Station::StartResult::Ok);
    form = std::make_unique<TMainForm>(*station, options);
    form->setDialogRunner([this](QDialog& d) { shown.push_back(&d); });
    form->formShow(nullptr);
    form->show();
  }

  template <typename T = QWidget>
  T* child(const QString& name) {
    return form->findChild<T*>(name);
  }
  bool runEnds() {
    return QTest::qWaitFor([this] { return !form->running() && form->lastOutcome(); }, 60000);
  }
  std::string yield() { return child<QLineEdit>("YieldEdit")->text().toStdString(); }
  // "Refresh" scans on a thread of its own; its verdict is drawn by a queued call.
  bool refreshed() {
    QTest::mouseClick(child<QPushButton>("RefreshBtn"), Qt::LeftButton);
    return QTest::qWaitFor([this] { return !form->scanning(); }, 60000);
  }

  test::TempDir home;
  test::RecordingOperator op;
  VirtualClock clock;
  std::unique_ptr<Station> station;
  std::unique_ptr<TMainForm> form;
  std::vector<QDialog*> shown;
};

TEST_F(MainFormTest, TenSlotsFillSevenRowsColumnByColumn) {
  ASSERT_NO_FATAL_FAILURE(start(benchText(10, 0, false), kItemsProfile));
  ASSERT_EQ(form->slotCount(), 10);
  EXPECT_EQ(form->slotRows(), 7);
  auto place = [this](int i) { return child(QString("PortPanel%1").arg(i))->geometry(); };
  EXPECT_EQ(place(0), QRect(0, 0, 249, 65));
  EXPECT_EQ(place(6), QRect(0, 390, 249, 65));
  EXPECT_EQ(place(7), QRect(249, 0, 249, 65));
  EXPECT_EQ(place(9), QRect(249, 130, 249, 65));
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

TEST_F(MainFormTest, StyleFileRestoresSavedSlotsAndIsRewrittenAtClose) {
  home.write("Style.cs",
             "[Style]\nPortPanel0=Left 600 Top 10 Width 249 Height 65\nPortPanel1=NULL\n"
             "PortPanel12=Left 9 Top 9 Width 9 Height 9\n[Main]\nLeft=0\nTop=0\nWidth=900\nHeight=700\n");
  ASSERT_NO_FATAL_FAILURE(start(benchText(10, 0, false), kItemsProfile));
  EXPECT_EQ(child("PortPanel0")->geometry(), QRect(600, 10, 249, 65));
  EXPECT_EQ(child("PortPanel1")->geometry(), QRect(0, 65, 249, 65));  // "NULL": default grid
  EXPECT_EQ(form->size(), QSize(900, 700));
  EXPECT_EQ(child("StyleCanvas")->width(), 849);  // the scroll range covers the moved slot

  form->close();
  IniFile style = IniFile::load(home.file("Style.cs"));
  const auto keys = style.keys("Style");
  ASSERT_EQ(keys.size(), 10u);
  EXPECT_EQ(keys.front(), "PortPanel0");
  EXPECT_FALSE(style.hasKey("Style", "PortPanel12"));
  EXPECT_EQ(style.getString("Style", "PortPanel0", ""), "Left 600 Top 10 Width 249 Height 65");
  EXPECT_EQ(style.getString("Style", "PortPanel1", ""), "Left 0 Top 65 Width 249 Height 65");
  EXPECT_EQ(style.getInt("Main", "Width", 0), 900);
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
  EXPECT_TRUE(child("WaitPanel")->isVisible());
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
