// Placeholder: the test-item list and the "Connect Check" list only; the full
// pages replace this file.
#include "app/gui/SettingsPages.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QListWidget>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/Station.h"
#include "config/TestItemList.h"

namespace qk::gui {

struct SettingsPages::Impl {
  Station& station;
  QTabWidget* tabs = nullptr;
  QListWidget* list = nullptr;
  QComboBox* connect = nullptr;
};

SettingsPages::SettingsPages(Station& station, QWidget* parent) : QWidget(parent), d_(new Impl{station}) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  d_->tabs = new QTabWidget(this);
  d_->tabs->setObjectName("PageControl1");
  auto* page = new QWidget;
  page->setObjectName("TabSheet1");
  auto* pl = new QVBoxLayout(page);
  d_->list = new QListWidget(page);
  d_->list->setObjectName("FunCheckListBox");
  d_->connect = new QComboBox(page);
  d_->connect->setObjectName("ConnectionChkCmbox");
  pl->addWidget(d_->list);
  pl->addWidget(d_->connect);
  d_->tabs->addTab(page, "Test Items");
  layout->addWidget(d_->tabs);
  connect(d_->list, &QListWidget::itemChanged, this, [this] { funCheckListBoxClickCheck(); });
  connect(d_->connect, &QComboBox::activated, this, [this](int index) {
    d_->station.profile().settings.ConnectDevNum = index;
    Q_EMIT refreshRequested();
  });
  profileToPages();
}

SettingsPages::~SettingsPages() { delete d_; }

QTabWidget* SettingsPages::pageControl() const { return d_->tabs; }
QListWidget* SettingsPages::testItemList() const { return d_->list; }
QComboBox* SettingsPages::connectionCheck() const { return d_->connect; }
std::vector<QAbstractButton*> SettingsPages::toolBarButtons() const { return {}; }
std::vector<QAbstractButton*> SettingsPages::profileButtons() const { return {}; }

bool SettingsPages::pagesToProfile() {
  funCheckListBoxClickCheck();
  return true;
}

void SettingsPages::profileToPages() {
  QSignalBlocker block(d_->list);
  d_->list->clear();
  const auto model = TestItemList::FromProfile(d_->station.profile().settings);
  for (const auto& e : model.entries()) {
    auto* item = new QListWidgetItem(QString::fromStdString(e.name), d_->list);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(e.checked ? Qt::Checked : Qt::Unchecked);
  }
}

void SettingsPages::funCheckListBoxClickCheck() {
  auto model = TestItemList::FromProfile(d_->station.profile().settings);
  auto& entries = model.entries();
  for (int i = 0; i < d_->list->count() && i < static_cast<int>(entries.size()); ++i)
    entries[static_cast<std::size_t>(i)].checked = d_->list->item(i)->checkState() == Qt::Checked;
  model.applyTo(d_->station.profile().settings);
  QSignalBlocker block(d_->list);
  for (int i = 0; i < d_->list->count() && i < static_cast<int>(entries.size()); ++i)
    d_->list->item(i)->setCheckState(entries[static_cast<std::size_t>(i)].checked ? Qt::Checked : Qt::Unchecked);
}

void SettingsPages::subPageControl() {}
void SettingsPages::selectFirstItem() {
  if (d_->list->count() > 0) d_->list->setCurrentRow(0);
}

void SettingsPages::applyMask(int mask) {
  QSignalBlocker block(d_->list);
  for (int i = 0; i < d_->list->count(); ++i)
    d_->list->item(i)->setCheckState(i < 8 && (mask >> i) & 1 ? Qt::Checked : Qt::Unchecked);
  funCheckListBoxClickCheck();
}

void SettingsPages::applyLock() {}
void SettingsPages::refreshFlashSelection() {}

void SettingsPages::fillConnectionCheck(int slotCount) {
  QSignalBlocker block(d_->connect);
  d_->connect->clear();
  d_->connect->addItem("Don't Care");
  for (int i = 1; i <= slotCount; ++i) d_->connect->addItem(QString::number(i));
  d_->connect->setCurrentIndex(d_->station.profile().settings.ConnectDevNum);
}

void SettingsPages::takeTitleResult(const std::string&, bool) {}
void SettingsPages::showStopButton() {}
RunOptions SettingsPages::runOptions() const { return {}; }

}  // namespace qk::gui
