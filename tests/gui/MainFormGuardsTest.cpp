// What the window must not let the operator do: start on a stale port table,
// run unattended on a mask that is no number, run a port whose drive the
// detail dialog is still reading. And the profile box that names the file
// Save and START write.
#include <QEvent>
#include <QListWidget>
#include <QTimer>

#include <cstdio>

#include "gui/SettingsPages.h"
#include "gui/SlotPanel.h"
#include "gui/DetailForm.h"
#include "tests/gui/MainFormFixture.h"

namespace qk::gui {
namespace {

class MainFormGuards : public MainFormTest {
 protected:
  QPushButton* startButton() { return child<QPushButton>("ExecuteBtn"); }
  bool startEnabledAgain() {
    return QTest::qWaitFor([this] { return startButton()->isEnabled() && !form->scanning(); }, 60000);
  }
};

// Counts how often a widget is shown.
class ShowCounter : public QObject {
 public:
  int shows = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Show) ++shows;
    return false;
  }
};

TEST_F(MainFormGuards, StartIsRefusedFromAPlugNoticeUntilItsRescanHasRun) {
  ASSERT_NO_FATAL_FAILURE(start(benchText(4, 2, false), kItemsProfile));
  ASSERT_TRUE(startButton()->isEnabled());

  for (DeviceChange change : {DeviceChange::Arrival, DeviceChange::Removal}) {
    const std::int64_t delay = change == DeviceChange::Arrival ? 1500 : 200;
    // The notice comes from the hot-plug thread; START is pressed before the window redraws.
    station->scanner().onDeviceChange(change);
    form->executeBtnClick();
    EXPECT_FALSE(form->running());
    EXPECT_FALSE(form->lastOutcome());
    ASSERT_TRUE(QTest::qWaitFor([this] { return !startButton()->isEnabled(); }, 5000));

    clock.advance(delay - 1);
    form->executeBtnClick();
    EXPECT_FALSE(form->running());
    EXPECT_TRUE(station->scanner().rescanTimer().armed());

    clock.advance(1);
    ASSERT_TRUE(startEnabledAgain()) << delay;
    EXPECT_FALSE(station->scanner().rescanTimer().armed());
  }
  QTest::mouseClick(startButton(), Qt::LeftButton);
  EXPECT_TRUE(form->running());
  ASSERT_TRUE(runEnds());
  EXPECT_TRUE(form->lastOutcome()->ran);
}

TEST_F(MainFormGuards, AutoquitWithoutAValidMaskShowsTheErrorAndNeverStarts) {
  MainFormOptions options;
  options.commandLine = ParseStationCommandLine({"autoquit"});
  ASSERT_NO_FATAL_FAILURE(start(benchText(4, 1, false), kItemsProfile, options));
  ASSERT_FALSE(op.messages.empty());
  EXPECT_EQ(op.messages.front().text, "'autoquit' is not a valid integer value");
  EXPECT_TRUE(startButton()->isEnabled());
  EXPECT_FALSE(child<QTimer>("AutoTestTimer")->isActive());
  EXPECT_FALSE(form->running());
}

TEST_F(MainFormGuards, StartWaitsForTheDetailDialogsRead) {
  ASSERT_NO_FATAL_FAILURE(start(benchText(4, 2, false), kItemsProfile));
  // Before any run the drives have no result: "?" opens the detail dialog.
  QTest::mouseClick(form->slotPanel(0)->button(), Qt::LeftButton);
  ASSERT_EQ(shown.size(), 1u);
  auto* detail = qobject_cast<TDetailForm*>(shown[0]);
  ASSERT_NE(detail, nullptr);
  ASSERT_TRUE(detail->reading());
  EXPECT_FALSE(startButton()->isEnabled());
  form->executeBtnClick();
  EXPECT_FALSE(form->running());
  form->refreshBtnClick();
  EXPECT_FALSE(form->scanning());
  // A second "?" while the drive is still read does not start another read.
  QTest::mouseClick(form->slotPanel(1)->button(), Qt::LeftButton);
  EXPECT_EQ(shown.size(), 1u);

  ASSERT_TRUE(startEnabledAgain());
  EXPECT_FALSE(detail->reading());
  EXPECT_FALSE(detail->findChild<QLineEdit*>("CapEdit")->text().isEmpty());
  QTest::mouseClick(startButton(), Qt::LeftButton);
  EXPECT_TRUE(form->running());
  ASSERT_TRUE(runEnds());
}

TEST_F(MainFormGuards, BusyBarShowsOnlyWhileWorkersRun) {
  ASSERT_NO_FATAL_FAILURE(start(benchText(4, 2, false), kItemsProfile));
  ShowCounter counter;
  child("WaitPanel")->installEventFilter(&counter);

  // Nothing checked: START ends without a worker.
  auto* list = form->pages()->testItemList();
  for (int i = 0; i < list->count(); ++i) list->item(i)->setCheckState(Qt::Unchecked);
  QTest::mouseClick(startButton(), Qt::LeftButton);
  EXPECT_FALSE(child("WaitPanel")->isVisible());  // still validating
  ASSERT_TRUE(runEnds());
  EXPECT_FALSE(form->lastOutcome()->ran);
  EXPECT_EQ(counter.shows, 0);

  list->item(0)->setCheckState(Qt::Checked);
  QTest::mouseClick(startButton(), Qt::LeftButton);
  ASSERT_TRUE(runEnds());
  EXPECT_TRUE(form->lastOutcome()->ran);
  EXPECT_GE(counter.shows, 1);
  EXPECT_FALSE(child("WaitPanel")->isVisible());
}

TEST_F(MainFormGuards, ProfileBoxNamesTheFileSaveAndStartWrite) {
  ASSERT_NO_FATAL_FAILURE(start(benchText(4, 1, false), kItemsProfile));
  auto* box = child<QLineEdit>("INIFileEdit");
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isReadOnly());
  EXPECT_EQ(box->text().toStdString(), home.file("QKMassProd.ini"));

  // "Save INI" to another name: the box follows, and the next START writes there.
  op.files.push_back(home.file("line2.ini"));
  form->pages()->iniSaveBtnClick();
  EXPECT_EQ(box->text().toStdString(), home.file("line2.ini"));
  ASSERT_EQ(std::remove(home.file("line2.ini").c_str()), 0);
  QTest::mouseClick(startButton(), Qt::LeftButton);
  ASSERT_TRUE(runEnds());
  EXPECT_TRUE(fileExists(home.file("line2.ini")));

  // "Load INI" of a file that does not exist yet: START and exit write it, so the box shows it.
  op.files.push_back(home.file("new.ini"));
  form->pages()->iniLoadBtnClick();
  EXPECT_EQ(box->text().toStdString(), home.file("new.ini"));
}

}  // namespace
}  // namespace qk::gui
