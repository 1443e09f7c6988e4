#include "gui/MainForm.h"

#include <QCheckBox>

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/Screenshot.h"
#include "app/Station.h"
#include "gui/SettingsPages.h"
#include "gui/SlotPanel.h"
#include "config/Profile.h"
#include "gui/DetailForm.h"
#include "gui/ErrorForm.h"
#include "gui/TitleForm.h"
#include "discovery/SafeRemoval.h"
#include "platform/DebugOutput.h"

namespace qk::gui {

namespace {

constexpr int kDrawIntervalMs = 40;    // slot batches while a run goes
constexpr int kRescanPollMs = 50;      // the hot-plug rescan's due check
constexpr int kAutoTestIntervalMs = 200;
constexpr int kDesignWidth = 1082;
constexpr int kDesignHeight = 798;
constexpr int kMinSettingsHeight = 170;
constexpr int kSettingsSharePercent = 40;
constexpr int kSettingsStep = 8;
constexpr int kFrameAllowance = 8;   // window borders the manager may add
constexpr int kTitleAllowance = 32;  // and its title bar

QWidget* panel(const char* name, int height, QWidget* parent) {
  auto* w = new QFrame(parent);
  w->setObjectName(name);
  w->setFixedHeight(height);
  return w;
}

QPushButton* button(const char* name, const char* text, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(name);
  return b;
}

}  // namespace

TMainForm::TMainForm(Station& station, MainFormOptions options, QWidget* parent)
    : QMainWindow(parent), station_(station), options_(std::move(options)) {
  setObjectName("MainForm");
  engine_ = std::make_unique<RunEngine>(station_, observer_);
  runDialog_ = [](QDialog& d) { d.exec(); };
  setWindowTitle(QString::fromStdString(station_.caption()));
  buildWindow();
  buildSlots();
  restoreLayout();
  updateDrawPanel();
  pages_->fillConnectionCheck(slotCount());
  waitPanel_->hide();
  waitPanel_->raise();
  pages_->applyLock();
  executeBtn_->setEnabled(station_.scanner().startEnabled());

  // FormCreate: first page, device-change notification, the command line.
  pages_->pageControl()->setCurrentIndex(0);
  Scanner& sc = station_.scanner();
  if (station_.hotplug().start([&sc](DeviceChange c) { sc.onDeviceChange(c); })) {
    if (station_.bench()) station_.bench()->startEvents();
  } else {
    debugPrintf("device-change notifications are not available");
  }
  rescanTimer_ = new QTimer(this);
  rescanTimer_->setInterval(kRescanPollMs);
  connect(rescanTimer_, &QTimer::timeout, this, [this] {
    // A plug or unplug notice turns START off at once; the rescan decides again.
    if (!running_ && !station_.scanner().startEnabled()) executeBtn_->setEnabled(false);
    if (running_ || busy()) return;
    if (station_.scanner().rescanTimer().takeExpired()) startScan(true);
  });
  rescanTimer_->start();

  const StationCommandLine& cl = options_.commandLine;
  if (!cl.error.empty()) station_.op().showMessage(cl.error);
  if (cl.mask) pages_->applyMask(*cl.mask);
  autoTestTimer_ = new QTimer(this);
  autoTestTimer_->setObjectName("AutoTestTimer");
  autoTestTimer_->setInterval(kAutoTestIntervalMs);
  connect(autoTestTimer_, &QTimer::timeout, this, &TMainForm::autoTestTimerTimer);
  // An unattended start with a mask that is no number would run whatever the
  // profile holds: it ends after the message instead.
  if (cl.autoQuit && !UnattendedStartRefused(cl)) autoTestTimer_->start();
}

TMainForm::~TMainForm() {
  if (runThread_.joinable()) {
    // Continuous production takes two: no more drives, then the running ports stop.
    engine_->stop();
    engine_->stop();
    runThread_.join();
  }
  if (removalThread_.joinable()) removalThread_.join();
  if (scanThread_.joinable()) scanThread_.join();
  if (station_.bench()) station_.bench()->stopEvents();
  station_.hotplug().stop();
  station_.accessProblems().setListener({});
}

void TMainForm::buildWindow() {
  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  // The settings area takes the height its pages need, up to a share of the
  // screen that leaves the slots theirs; beyond that it scrolls.
  topPanel_ = new QScrollArea(central);
  topPanel_->setObjectName("TopPanel");
  topPanel_->setWidgetResizable(true);
  topPanel_->setFrameShape(QFrame::NoFrame);
  auto* topContent = new QWidget;
  auto* top = new QHBoxLayout(topContent);
  top->setContentsMargins(2, 2, 2, 2);
  pages_ = new SettingsPages(station_, topContent);
  top->addWidget(pages_, 1);
  auto* profileColumn = new QVBoxLayout;
  for (QAbstractButton* b : pages_->profileButtons()) profileColumn->addWidget(b);
  profileColumn->addStretch();
  top->addLayout(profileColumn);
  topPanel_->setWidget(topContent);
  topPanel_->setFixedHeight(settingsAreaHeight(topContent->sizeHint().height() + 2));
  column->addWidget(topPanel_);

  scrollBox_ = new QScrollArea(central);
  scrollBox_->setObjectName("StyleScrollBox");
  scrollBox_->setWidgetResizable(false);
  canvas_ = new QWidget;
  canvas_->setObjectName("StyleCanvas");
  scrollBox_->setWidget(canvas_);
  column->addWidget(scrollBox_, 1);

  auto* toolBar = panel("ToolBarPanel", 42, central);
  toolBar_ = toolBar;
  auto* tools = new QHBoxLayout(toolBar);
  tools->setContentsMargins(4, 2, 4, 2);
  pinButton_ = new QToolButton(toolBar);
  pinButton_->setObjectName("PinSBtn");
  pinButton_->setText("Pin");
  pinButton_->setCheckable(true);
  pinButton_->setChecked(true);
  tools->addWidget(pinButton_);
  auto* reset = new QToolButton(toolBar);
  reset->setObjectName("SpeedButton2");
  reset->setText("Reset Layout");
  tools->addWidget(reset);
  for (QAbstractButton* b : pages_->toolBarButtons()) tools->addWidget(b);
  auto* iniLabel = new QLabel("INI File", toolBar);
  QLineEdit* iniFile = pages_->iniFileEdit();
  iniFile->setParent(toolBar);
  iniLabel->setBuddy(iniFile);
  tools->addSpacing(12);
  tools->addWidget(iniLabel);
  tools->addWidget(iniFile, 1);
  column->addWidget(toolBar);
  connect(reset, &QToolButton::clicked, this, &TMainForm::resetLayoutClick);
  connect(pinButton_, &QToolButton::toggled, this, [this](bool pinned) {
    for (SlotPanel* p : panels_) p->setMovable(!pinned);
  });

  bottomPanel_ = panel("BottomPanel", 57, central);
  auto* bottom = new QHBoxLayout(bottomPanel_);
  bottom->setContentsMargins(6, 4, 6, 4);
  refreshBtn_ = button("RefreshBtn", "Refresh", bottomPanel_);
  executeBtn_ = button("ExecuteBtn", "START", bottomPanel_);
  safeRmBtn_ = button("SafeRmBtn", "Safe Remove", bottomPanel_);
  safeRmBtn_->hide();
  auto* closeBtn = button("CloseBtn", "Close", bottomPanel_);
  QFont big = executeBtn_->font();
  big.setPointSize(big.pointSize() + 4);
  big.setBold(true);
  executeBtn_->setFont(big);
  executeBtn_->setMinimumSize(120, 40);
  bottom->addWidget(refreshBtn_);
  bottom->addWidget(executeBtn_);
  continuousChk_ = new QCheckBox("Continuous", bottomPanel_);
  continuousChk_->setObjectName("ContinuousChk");
  continuousChk_->setChecked(station_.profile().settings.ContinuousMode != 0);
  bottom->addWidget(continuousChk_);
  bottom->addWidget(safeRmBtn_);
  bottom->addWidget(closeBtn);

  waitPanel_ = new QFrame(bottomPanel_);
  waitPanel_->setObjectName("WaitPanel");
  auto* waitLayout = new QHBoxLayout(waitPanel_);
  waitLayout->setContentsMargins(0, 0, 0, 0);
  auto* busy = new QProgressBar(waitPanel_);
  busy->setObjectName("PaintBox1");
  busy->setRange(0, 0);  // a moving bar while the run goes
  busy->setFixedWidth(240);
  waitLayout->addWidget(busy);
  bottom->addWidget(waitPanel_);
  bottom->addStretch();

  auto* yieldLabel = new QLabel("Pass/Total", bottomPanel_);
  yieldEdit_ = new QLineEdit(bottomPanel_);
  yieldEdit_->setObjectName("YieldEdit");
  yieldEdit_->setReadOnly(true);
  yieldEdit_->setFixedWidth(110);
  yieldLabel->setBuddy(yieldEdit_);
  auto* resetYield = button("ResetYieldBtn", "Reset", bottomPanel_);
  elapsedTime_ = new QLabel(bottomPanel_);
  elapsedTime_->setObjectName("ElapsedTime");
  elapsedTime_->setMinimumWidth(150);
  bottom->addWidget(yieldLabel);
  bottom->addWidget(yieldEdit_);
  bottom->addWidget(resetYield);
  bottom->addWidget(elapsedTime_);
  column->addWidget(bottomPanel_);
  setCentralWidget(central);

  auto* status = new QStatusBar(this);
  status->setObjectName("StatusBar1");
  for (int width : {300, 260, 230, 50}) {
    auto* l = new QLabel(status);
    l->setFixedWidth(width);
    status->addWidget(l);
    statusPanels_.push_back(l);
  }
  // Permission failures of the real devices: the node and what is missing.
  accessPanel_ = new QLabel(status);
  accessPanel_->setObjectName("AccessPanel");
  status->addWidget(accessPanel_, 1);
  setStatusBar(status);
  QPointer<QLabel> access = accessPanel_;
  station_.accessProblems().setListener([access](const std::string& text) {
    QMetaObject::invokeMethod(access, [access, t = QString::fromStdString(text)] {
      if (access) access->setText(t);
    }, Qt::QueuedConnection);
  });

  connect(refreshBtn_, &QPushButton::clicked, this, &TMainForm::refreshBtnClick);
  connect(executeBtn_, &QPushButton::clicked, this, &TMainForm::executeBtnClick);
  connect(continuousChk_, &QCheckBox::toggled, this,
          [this](bool on) { station_.profile().settings.ContinuousMode = on ? 1 : 0; });
  connect(safeRmBtn_, &QPushButton::clicked, this, &TMainForm::safeRmBtnClick);
  connect(closeBtn, &QPushButton::clicked, this, &QWidget::close);
  connect(resetYield, &QPushButton::clicked, this, &TMainForm::resetYieldBtnClick);
  connect(pages_, &SettingsPages::refreshRequested, this, &TMainForm::refreshBtnClick);
  connect(pages_, &SettingsPages::stopRequested, this, &TMainForm::stopRun);
  connect(pages_, &SettingsPages::statusText, this, [this](int i, const QString& text) {
    if (i >= 0 && i < static_cast<int>(statusPanels_.size())) statusPanels_[static_cast<std::size_t>(i)]->setText(text);
  });
  connect(pages_, &SettingsPages::filesReady, this, [this](bool ready) {
    filesReady_ = ready;
    syncScanSettings();
    if (!running_) executeBtn_->setEnabled(ready && station_.scanner().startEnabled());
  });
  connect(pages_, &SettingsPages::captionChanged, this, [this](const QString& caption) { setWindowTitle(caption); });
  connect(pages_, &SettingsPages::busyChanged, this, [this](bool busy) {
    bottomPanel_->setEnabled(!busy);
    if (!busy && closePending_) close();
  });
  connect(pages_, &SettingsPages::profileLoaded, this, [this] {
    syncScanSettings();
    setWindowTitle(QString::fromStdString(station_.caption()));
    showYield();
  });

  drawTimer_ = new QTimer(this);
  drawTimer_->setInterval(kDrawIntervalMs);
  connect(drawTimer_, &QTimer::timeout, this, [this] {
    flushSlots();
    if (!options_.screenshotFolder.empty() && !runningShotTaken_ && observer_.sawStep() && !continuousChk_->isChecked()) {
      runningShotTaken_ = true;
      savePng("running.png");
    }
  });
  resize(kDesignWidth, kDesignHeight);
}

int TMainForm::settingsAreaHeight(int needed) const {
  const QScreen* s = screen();
  const int screenHeight = s ? s->availableGeometry().height() : 1024;
  // Everything but the slots must leave 50 slots their rows on a 1024-line screen.
  const int limit = std::max(kMinSettingsHeight, screenHeight * kSettingsSharePercent / 100);
  return std::clamp(needed, kMinSettingsHeight, limit);
}

QSize TMainForm::slotViewFor(QSize window) const {
  const int frame = 2 * scrollBox_->frameWidth();
  const int chrome = topPanel_->height() + toolBar_->height() + bottomPanel_->height() +
                     statusBar()->sizeHint().height() + frame;
  return {window.width() - frame, window.height() - chrome};
}

SlotGrid TMainForm::fitGrid(QSize view) const {
  const QSize least = SlotPanel::minimumSlotSize();
  return FitSlotGrid(slotCount(), view.width(), view.height(), least.width(), least.height(),
                     SlotPanel::maximumSlotWidth());
}

void TMainForm::placeSlots(const SlotGrid& g) {
  rows_ = g.rows;
  range_.reset();
  for (int i = 0; i < slotCount(); ++i) {
    const SlotRect r = DefaultSlotRect(i, g.rows, g.width, g.height);
    panels_[static_cast<std::size_t>(i)]->setGeometry(r.left, r.top, r.width, r.height);
    range_.cover(r);
  }
  canvas_->resize(std::max(range_.width, 1), std::max(range_.height, 1));
}

QSize TMainForm::defaultWindowSize() const {
  const QSize design(kDesignWidth, kDesignHeight);
  if (fitGrid(slotViewFor(design)).fits) return design;
  // More slots than the design size holds: the whole screen, less a title bar.
  const QScreen* s = screen();
  if (!s) return design;
  const QRect avail = s->availableGeometry();
  return {std::max(design.width(), avail.width() - kFrameAllowance),
          std::max(design.height(), avail.height() - kTitleAllowance)};
}

void TMainForm::buildSlots() {
  // The template: never shown, it only carries the slots' geometry.
  auto* style = new QFrame(canvas_);
  style->setObjectName("StylePanel");
  style->setGeometry(0, 0, kSlotPanelWidth, kSlotPanelHeight);
  style->hide();

  const int count = std::min(station_.scanner().slotCount(), SlotLimit);
  for (int i = 0; i < count; ++i) {
    auto* p = new SlotPanel(i, canvas_);
    p->hide();
    connect(p->button(), &QPushButton::clicked, this, [this, i] { myBitBtnClick(i); });
    connect(p, &SlotPanel::moved, this, [this, p] {
      autoGrid_ = false;  // the arrangement is the operator's from now on
      growCanvas({p->x(), p->y(), p->width(), p->height()});
    });
    panels_.push_back(p);
  }
  placeSlots(fitGrid(slotViewFor(size())));
}

void TMainForm::growCanvas(const SlotRect& r) {
  range_.cover(r);
  canvas_->resize(std::max(range_.width, 1), std::max(range_.height, 1));
}

void TMainForm::restoreLayout() {
  auto layout = ReadStyleFile(station_.folder().resolve("Style.cs"), slotCount());
  if (layout && savedLayoutFits(*layout)) {
    resize(layout->window.width, layout->window.height);
    placeSlots(fitGrid(slotViewFor(size())));  // slots saved as "NULL" keep a grid place
    range_.reset();
    for (int i = 0; i < slotCount(); ++i) {
      SlotPanel* p = panels_[static_cast<std::size_t>(i)];
      const auto& saved = layout->slots[static_cast<std::size_t>(i)];
      if (saved) p->setGeometry(saved->left, saved->top, saved->width, saved->height);
      range_.cover({p->x(), p->y(), p->width(), p->height()});
    }
    canvas_->resize(std::max(range_.width, 1), std::max(range_.height, 1));
    QPoint at(layout->window.left, layout->window.top);
    if (const QScreen* s = screen()) {
      // Saved on a larger or another screen: the whole window comes back onto this one.
      const QRect avail = s->availableGeometry();
      at.setX(std::clamp(at.x(), avail.left(), std::max(avail.left(), avail.right() + 1 - width())));
      at.setY(std::clamp(at.y(), avail.top(), std::max(avail.top(), avail.bottom() + 1 - height())));
    }
    move(at);
    return;
  }
  // No arrangement of the operator's that still fits this screen: a grid that shows every slot.
  autoGrid_ = true;
  const QScreen* s = screen();
  resize(defaultWindowSize());
  if (s && size().width() > kDesignWidth) move(s->availableGeometry().topLeft());
  // Still short of rows: the settings area gives up height and scrolls.
  while (!fitGrid(slotViewFor(size())).fits && topPanel_->height() > kMinSettingsHeight) {
    topPanel_->setFixedHeight(std::max(kMinSettingsHeight, topPanel_->height() - kSettingsStep));
  }
  placeSlots(fitGrid(slotViewFor(size())));
}

bool TMainForm::savedLayoutFits(const StyleLayout& layout) const {
  const QScreen* s = screen();
  if (!s) return true;
  const QRect avail = s->availableGeometry();
  const QRect window(layout.window.left, layout.window.top, layout.window.width, layout.window.height);
  if (window.width() > avail.width() || window.height() > avail.height()) return false;
  std::vector<SlotRect> saved;
  for (const auto& r : layout.slots) {
    if (r) saved.push_back(*r);
  }
  const QSize view = slotViewFor(window.size());
  return RectsFitView(saved, view.width(), view.height());
}

void TMainForm::saveLayout() {
  std::vector<NamedBounds> bounds;
  for (SlotPanel* p : panels_) bounds.push_back({p->objectName().toStdString(), {p->x(), p->y(), p->width(), p->height()}});
  if (!WriteStyleFile(station_.folder().resolve("Style.cs"), bounds, {x(), y(), width(), height()})) {
    debugPrintf("Style.cs could not be written");
  }
}

SlotPanel* TMainForm::slotPanel(int slot) const {
  if (slot < 0 || slot >= slotCount()) return nullptr;
  return panels_[static_cast<std::size_t>(slot)];
}

void TMainForm::setDialogs(TErrorForm* error, TDetailForm* detail) {
  errorForm_ = error;
  detailForm_ = nullptr;
  if (detail) watchDetailForm(detail);
}

void TMainForm::watchDetailForm(TDetailForm* detail) {
  detailForm_ = detail;
  // The dialog's read has the drive: no run, scan or removal may use it meanwhile.
  connect(detail, &TDetailForm::readingChanged, this, [this](bool reading) {
    if (reading) {
      executeBtn_->setEnabled(false);
      return;
    }
    if (closePending_) {
      close();
      return;
    }
    if (!running_ && !scanning()) executeBtn_->setEnabled(station_.scanner().startEnabled());
  });
}

bool TMainForm::busy() const {
  return scanning() || removalThread_.joinable() || pages_->detecting() || (detailForm_ && detailForm_->reading());
}

void TMainForm::formShow(const TTitleForm* title) {
  if (title) pages_->takeTitleResult(title->resultText(), title->autoIncrease());
  if (fileExists(station_.folder().resolve(station_.profile().settings.ExtFlashFile))) pages_->refreshFlashSelection();
  pages_->funCheckListBoxClickCheck();
  pages_->selectFirstItem();
  pages_->subPageControl();
  pages_->showStopButton();
}

void TMainForm::syncScanSettings() {
  const ProfileSettings& s = station_.profile().settings;
  ScanSettings settings;
  settings.connectDevNum = s.ConnectDevNum;
  settings.enBarCode = s.EnBarCode != 0;
  settings.filesReady = filesReady_ && station_.files().ProgramImagesPresent;
  station_.scanner().setSettings(settings);
}

void TMainForm::updateDrawPanel() {
  Scanner& sc = station_.scanner();
  std::vector<SlotView> views;
  {
    std::lock_guard lock(sc.scanLock());
    views = RefreshSlots(sc.ports(), slotCount(), station_.profile().settings);
  }
  observer_.slots(views);
  flushSlots();
}

void TMainForm::flushSlots() {
  if (auto elapsed = observer_.flush(panels_)) {
    elapsedTime_->setText(QString::fromStdString(*elapsed));
    // The run's clock ticks only once its workers go: then the busy bar shows.
    if (running_ && !waitPanel_->isVisible()) {
      waitPanel_->show();
      waitPanel_->raise();
    }
  }
  showYield();
}

void TMainForm::showYield() {
  Scanner& sc = station_.scanner();
  std::string text;
  {
    std::lock_guard lock(sc.scanLock());
    text = YieldText(station_.profile().settings);
  }
  yieldEdit_->setText(QString::fromStdString(text));
}

void TMainForm::afterScan() {
  Scanner& sc = station_.scanner();
  {
    std::lock_guard lock(sc.scanLock());
    for (int i = 0; i < slotCount(); ++i) {
      if (sc.ports()[static_cast<std::size_t>(i)].configured) continue;
      // A port left empty: its slot forgets the last drive.
      panels_[static_cast<std::size_t>(i)]->setText({});
      panels_[static_cast<std::size_t>(i)]->edit()->clear();
    }
  }
  updateDrawPanel();
  {
    std::lock_guard lock(sc.scanLock());
    for (int i = 0; i < slotCount(); ++i) {
      const PortContext& rec = sc.ports()[static_cast<std::size_t>(i)];
      if (!rec.configured || rec.active || rec.devicePath.empty()) continue;
      // A drive the station may not talk to says so rather than look unknown.
      const std::string denied = station_.accessProblems().slotText(rec.devicePath.str());
      if (!denied.empty()) panels_[static_cast<std::size_t>(i)]->setText(QString::fromStdString(denied));
    }
  }
  setWindowTitle(QString::fromStdString(station_.caption()));
  if (!running_) executeBtn_->setEnabled(sc.startEnabled());
}

void TMainForm::refreshBtnClick() {
  if (running_ || busy()) return;
  station_.scanner().clearPromptFlag();
  startScan(true);
}

void TMainForm::startScan(bool focusStart) {
  syncScanSettings();
  auto scanned = [this, focusStart] {
    afterScan();
    if (focusStart && executeBtn_->isVisible() && executeBtn_->isEnabled()) executeBtn_->setFocus();
  };
  if (station_.profile().settings.EnBarCode != 0) {
    // The scan waits for the operator's bar codes under the display lock:
    // it runs here, with the prompts, rather than beside a window that may
    // want the same lock.
    station_.scanner().scanDevices(false);
    scanned();
    return;
  }
  // A drive that answers slowly must not freeze the window: the scan runs
  // aside; the bottom buttons wait for its verdict.
  bottomPanel_->setEnabled(false);
  executeBtn_->setEnabled(false);
  scanThread_ = std::jthread([this, scanned] {
    station_.scanner().scanDevices(false);
    QMetaObject::invokeMethod(this, [this, scanned] {
      scanThread_.join();
      bottomPanel_->setEnabled(true);
      if (closePending_) {
        close();
        return;
      }
      scanned();
    }, Qt::QueuedConnection);
  });
}

void TMainForm::safeRmBtnClick() {
  if (running_ || busy()) return;
  bottomPanel_->setEnabled(false);
  removalThread_ = std::jthread([this] {
    SafeRemoval::removeAll(station_.scanner(), station_.removal(), station_.op());
    QMetaObject::invokeMethod(this, [this] {
      removalThread_.join();
      bottomPanel_->setEnabled(true);
      afterScan();
      if (closePending_) close();
    }, Qt::QueuedConnection);
  });
}

void TMainForm::resetYieldBtnClick() {
  ProfileSettings& s = station_.profile().settings;
  {
    std::lock_guard lock(station_.scanner().scanLock());
    s.TotalTestCount = 0;
    s.NumberOfPass = 0;
  }
  showYield();
  if (!WriteYieldCounters(station_.profile().logPath, s)) debugPrintf("QKSSD.log could not be written");
}

void TMainForm::resetLayoutClick() {
  if (pinButton_->isChecked()) return;
  const QSize least = SlotPanel::minimumSlotSize();
  const int rows = SlotRows(scrollBox_->viewport()->height(), least.height());
  if (rows == 0) return;
  placeSlots({rows, 0, least.width(), least.height(), false});
}

void TMainForm::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  if (!pinButton_) return;
  if (pinButton_->isChecked() && autoGrid_) {
    placeSlots(fitGrid(slotViewFor(size())));
    return;
  }
  resetLayoutClick();
}

void TMainForm::myBitBtnClick(int slot) {
  if (slot < 0 || slot >= slotCount()) return;
  selectedPort_ = slot + 1;
  Scanner& sc = station_.scanner();
  PortContext rec;
  {
    std::lock_guard lock(sc.scanLock());
    rec = sc.ports()[static_cast<std::size_t>(slot)];
  }
  if (sc.configuredCount() == 0 || !rec.active) return;
  if (rec.resultCode != 0) {
    if (!errorForm_) {
      ownErrorForm_ = std::make_unique<TErrorForm>(this);
      errorForm_ = ownErrorForm_.get();
    }
    // The board photos lie in the program folder, beside the data files.
    errorForm_->setReport(engine_->errorDialogLines(slot), station_.folder().path());
    runDialog_(*errorForm_);
  } else {
    if (!detailForm_) {
      ownDetailForm_ = std::make_unique<TDetailForm>(station_, this);
      watchDetailForm(ownDetailForm_.get());
    }
    if (detailForm_->reading()) return;  // the last read has not let go of its drive yet
    detailForm_->loadPort(selectedPort_);
    runDialog_(*detailForm_);
  }
}

void TMainForm::setRunControlsEnabled(bool enabled) {
  pages_->pageControl()->setEnabled(enabled);
  // "Load INI", "Save INI", the settings lock and the flash auto-detect would
  // change the profile (or drive a drive) under the run: off with the pages,
  // back as they were (the settings lock may keep Save off). Stop stays on.
  std::vector<QAbstractButton*> profileButtons = pages_->profileButtons();
  for (QAbstractButton* b : pages_->toolBarButtons()) {
    if (b->objectName() != "SpeedButton9") profileButtons.push_back(b);
  }
  if (!enabled) profileButtonsWere_.clear();
  for (std::size_t i = 0; i < profileButtons.size(); ++i) {
    QAbstractButton* b = profileButtons[i];
    if (!enabled) {
      profileButtonsWere_.push_back(b->isEnabled());
      b->setEnabled(false);
    } else {
      b->setEnabled(i < profileButtonsWere_.size() ? profileButtonsWere_[i] : true);
    }
  }
  // The slots stay readable while the run goes: only their buttons and dragging are off.
  for (SlotPanel* p : panels_) {
    p->button()->setEnabled(enabled);
    p->setMovable(enabled && !pinButton_->isChecked());
  }
  bottomPanel_->setEnabled(enabled);
  executeBtn_->setEnabled(enabled);
}

void TMainForm::executeBtnClick() { startRun(false); }

void TMainForm::autoTestTimerTimer() {
  autoTestTimer_->stop();
  if (!options_.screenshotFolder.empty()) savePng("before.png");
  if (executeBtn_->isEnabled() && options_.commandLine.mask) startRun(true);
}

void TMainForm::startRun(bool unattended) {
  if (running_ || runThread_.joinable() || busy()) return;
  // A notice arrived and its rescan has not run yet: the port table is stale.
  if (!station_.scanner().startEnabled() || station_.scanner().rescanTimer().armed()) {
    executeBtn_->setEnabled(false);
    return;
  }
  setRunControlsEnabled(false);
  running_ = true;
  if (!pages_->pagesToProfile()) {
    running_ = false;
    setRunControlsEnabled(true);
    return;
  }
  RunOptions options = pages_->runOptions();
  // The unattended run follows the command line's items; a START by hand
  // takes the list as the operator left it.
  if (unattended && options_.commandLine.mask) options.mask = options_.commandLine.mask;
  elapsedTime_->clear();
  runningShotTaken_ = false;
  observer_.resetSawStep();
  drawTimer_->start();
  if (continuousChk_->isChecked()) {
    ContinuousOptions co;
    co.run = options;
    // An unattended run ends once every drive on the line has run.
    const bool autoQuit = unattended && options_.commandLine.autoQuit;
    co.onSweep = [this, autoQuit, stopped = false](int running, int ended) mutable {
      if (!autoQuit || stopped || running > 0 || ended == 0) return;
      stopped = true;
      engine_->stop();
    };
    co.onDriveEnd = [this](const DriveEnd&) {
      QMetaObject::invokeMethod(this, [this] { driveEnded(); }, Qt::QueuedConnection);
    };
    runThread_ = std::jthread([this, co] {
      RunOutcome out = engine_->startContinuous(co);
      QMetaObject::invokeMethod(this, [this, out] { runEnded(out); }, Qt::QueuedConnection);
    });
    return;
  }
  runThread_ = std::jthread([this, options] {
    RunOutcome out = engine_->start(options);
    QMetaObject::invokeMethod(this, [this, out] { runEnded(out); }, Qt::QueuedConnection);
  });
}

void TMainForm::driveEnded() {
  // The first verdicts beside ports still running: the picture of continuous production.
  if (options_.screenshotFolder.empty() || runningShotTaken_) return;
  flushSlots();
  runningShotTaken_ = true;
  savePng("running.png");
}

void TMainForm::stopRun() {
  if (running_) engine_->stop();
}

void TMainForm::runEnded(const RunOutcome& out) {
  if (runThread_.joinable()) runThread_.join();
  drawTimer_->stop();
  flushSlots();
  waitPanel_->hide();
  lastOutcome_ = out;
  running_ = false;
  pages_->profileToPages();
  continuousChk_->setChecked(station_.profile().settings.ContinuousMode != 0);
  setRunControlsEnabled(true);
  if (out.startDisabled) executeBtn_->setEnabled(false);
  if (executeBtn_->isVisible() && executeBtn_->isEnabled()) executeBtn_->setFocus();
  setWindowTitle(QString::fromStdString(station_.caption()));

  if (options_.commandLine.hasFirstArgument && out.ran && !out.logFailed) takeScreenshot(out.end);
  if (!options_.screenshotFolder.empty() && out.ran) {
    if (!runningShotTaken_) savePng("running.png");
    savePng("verdicts.png");
  }
  Q_EMIT runFinished();
  if (out.closeRequested || options_.commandLine.autoQuit || closePending_) close();
}

namespace {

RgbImage toRgb(const QImage& picture) {
  const QImage img = picture.convertToFormat(QImage::Format_RGB888);
  RgbImage out;
  out.width = img.width();
  out.height = img.height();
  out.rgb.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) * 3);
  const auto row = static_cast<std::size_t>(out.width) * 3;
  for (int y = 0; y < out.height; ++y) {
    std::copy_n(img.constScanLine(y), row, out.rgb.begin() + static_cast<std::ptrdiff_t>(row * static_cast<std::size_t>(y)));
  }
  return out;
}

}  // namespace

void TMainForm::takeScreenshot(const LocalTime& end) {
  const std::string path = ScreenshotFileName(station_.profile().logPath, end);
  if (SaveScreenshot(path, toRgb(grab().toImage()))) {
    lastScreenshot_ = path;
  } else {
    debugPrintf("the screenshot %s could not be written", path.c_str());
  }
}

namespace {

// A window picture in few colours keeps the documentation's files small.
bool savePicture(QWidget* w, std::string folder, const std::string& name) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  const QImage img = w->grab().toImage().convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
  if (img.save(QString::fromStdString(folder + name), "PNG")) return true;
  debugPrintf("%s could not be saved", name.c_str());
  return false;
}

std::string pictureName(const QString& text) {
  std::string out;
  for (QChar c : text.toLower()) {
    if (c.isLetterOrNumber()) out += static_cast<char>(c.unicode());
    else if (c == ' ' || c == '_') out += '-';
  }
  return out;
}

}  // namespace

void TMainForm::savePng(const std::string& name) { savePicture(this, options_.screenshotFolder, name); }

void TMainForm::settingsTour(const std::string& folder) {
  QTabWidget* tabs = pages_->pageControl();
  auto* sub = tabs->findChild<QTabWidget*>("PageControl2");
  const int shownTab = tabs->currentIndex();
  for (int i = 0; i < tabs->count(); ++i) {
    QWidget* page = tabs->widget(i);
    if (page->objectName() == "TabSheet6") continue;  // the DRAM page is never shown
    const bool wasVisible = tabs->isTabVisible(i);
    tabs->setTabVisible(i, true);
    tabs->setCurrentIndex(i);
    const std::string tabName = pictureName(tabs->tabText(i));
    if (sub && page->isAncestorOf(sub)) {
      std::vector<bool> subVisible;
      for (int j = 0; j < sub->count(); ++j) subVisible.push_back(sub->isTabVisible(j));
      const int shownSub = sub->currentIndex();
      for (int j = 0; j < sub->count(); ++j) {
        for (int k = 0; k < sub->count(); ++k) sub->setTabVisible(k, k == j);
        sub->setCurrentIndex(j);
        QCoreApplication::processEvents();
        savePicture(topPanel_, folder, tabName + "-" + pictureName(sub->tabText(j)) + ".png");
      }
      for (int j = 0; j < sub->count(); ++j) sub->setTabVisible(j, subVisible[static_cast<std::size_t>(j)]);
      sub->setCurrentIndex(shownSub);
    } else {
      QCoreApplication::processEvents();
      savePicture(topPanel_, folder, tabName + ".png");
    }
    tabs->setTabVisible(i, wasVisible);
  }
  tabs->setCurrentIndex(shownTab);
}

void TMainForm::closeEvent(QCloseEvent* e) {
  if (closed_) {
    e->accept();
    return;
  }
  if (busy()) {
    // A scan, removal, flash detect or detail read may still have a drive: close once it has ended.
    closePending_ = true;
    e->ignore();
    return;
  }
  if (running_) {
    // Workers stop cooperatively; the window closes when the run has ended.
    closePending_ = true;
    engine_->stop();
    e->ignore();
    return;
  }
  closed_ = true;
  autoTestTimer_->stop();
  rescanTimer_->stop();
  saveLayout();
  pages_->pagesToProfile();
  if (!SaveAtExit(station_.profile(), station_.folder())) debugPrintf("the profile could not be saved at exit");
  e->accept();
}

}  // namespace qk::gui
