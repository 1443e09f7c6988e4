#include "gui/DetailForm.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

#include "app/Station.h"
#include "dialogs/DetailFields.h"

namespace qk::gui {

namespace {

constexpr int kDesignWidth = 532;
constexpr int kDesignHeight = 315;

// A model number of 40 characters, as wide as such texts run.
constexpr const char* kLongestModel = "QK SSD 2612 MODEL ABCDEFGHIJKLMN 0123456";

QLineEdit* labelledEdit(QWidget* parent, QGridLayout* grid, int row, int column, const DetailField& field,
                        int columnSpan = 1) {
  auto* label = new QLabel(field.label, parent);
  label->setObjectName(QString(field.name) + "Label");
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(field.name);
  edit->setReadOnly(true);
  // Read-only fields in the button-face colour.
  QPalette pal = edit->palette();
  pal.setColor(QPalette::Base, pal.color(QPalette::Button));
  edit->setPalette(pal);
  label->setBuddy(edit);
  grid->addWidget(label, row, column * 2);
  grid->addWidget(edit, row, column * 2 + 1, 1, columnSpan);
  return edit;
}

}  // namespace

TDetailForm::TDetailForm(Station& station, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      station_(station) {
  setObjectName("DetailForm");
  setWindowTitle("Manual Setting");

  const std::vector<DetailField> fields = DetailFields(DeviceDetail{});
  auto* top = new QGridLayout;
  fwInfoEdit_ = labelledEdit(this, top, 0, 0, fields[0]);
  loaderLabel_ = new QLabel(kLoaderModeText, this);
  loaderLabel_->setObjectName("Label1");
  QFont bold = loaderLabel_->font();
  bold.setBold(true);
  loaderLabel_->setFont(bold);
  loaderLabel_->hide();
  top->addWidget(loaderLabel_, 0, 1, Qt::AlignLeft);  // in place of FWInfoEdit
  edits_.push_back(fwInfoEdit_);

  auto* group = new QGroupBox(" Device Info. ", this);
  group->setObjectName("GroupBox1");
  auto* grid = new QGridLayout(group);
  // The model across the box (it runs to 40 characters); below it the rest
  // of the drive's identity on the left, the USB identity on the right.
  QLineEdit* model = labelledEdit(group, grid, 0, 0, fields[1], 3);
  model->setMinimumWidth(model->fontMetrics().horizontalAdvance(kLongestModel) + 12);
  edits_.push_back(model);
  for (std::size_t i = 2; i < fields.size(); ++i) {
    const int column = i <= 4 ? 0 : 1;
    const int row = static_cast<int>(i <= 4 ? i - 1 : i - 4);
    edits_.push_back(labelledEdit(group, grid, row, column, fields[i]));
  }
  grid->setRowStretch(7, 1);

  auto* badBlocks = new QPlainTextEdit(this);
  badBlocks->setObjectName("BadBlockMemo");
  badBlocks->hide();

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(group, 1);
  // The designed 532 x 315, wider or taller only when the font needs it.
  const QSize need = sizeHint();
  setFixedSize(std::max(kDesignWidth, need.width()), std::max(kDesignHeight, need.height()));
}

TDetailForm::~TDetailForm() {
  if (reader_.joinable()) reader_.join();
}

void TDetailForm::loadPort(int selectedPort) {
  for (QLineEdit* e : edits_) e->clear();
  loaderLabel_->hide();
  fwInfoEdit_->show();
  if (reader_.joinable()) reader_.join();
  int generation = 0;
  {
    std::lock_guard lock(mutex_);
    generation = ++generation_;
    answer_.reset();
  }
  if (selectedPort < 1 || selectedPort > SlotLimit) {
    if (reading_.exchange(false)) Q_EMIT readingChanged(false);
    return;
  }

  if (!reading_.exchange(true)) Q_EMIT readingChanged(true);
  reader_ = std::jthread([this, selectedPort, generation] {
    DeviceDetail detail = ReadSlotDetail(station_, selectedPort - 1);
    {
      std::lock_guard lock(mutex_);
      if (generation != generation_) return;
      answer_ = std::move(detail);
      answerGeneration_ = generation;
    }
    QMetaObject::invokeMethod(this, [this, generation] { readEnded(generation); }, Qt::QueuedConnection);
  });
}

void TDetailForm::readEnded(int generation) {
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return;  // a newer read has the drive now
  }
  if (reader_.joinable()) reader_.join();
  showLoaded();
  if (reading_.exchange(false)) Q_EMIT readingChanged(false);
}

void TDetailForm::waitForLoad() {
  if (reader_.joinable()) reader_.join();
  showLoaded();
  if (reading_.exchange(false)) Q_EMIT readingChanged(false);
}

void TDetailForm::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  // Centred on the screen, wherever the station's window lies.
  if (QScreen* s = screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(s->availableGeometry().center());
    move(frame.topLeft());
  }
}

bool TDetailForm::loading() const {
  std::lock_guard lock(mutex_);
  return reader_.joinable() && !answer_ && answerGeneration_ != generation_;
}

void TDetailForm::showLoaded() {
  std::optional<DeviceDetail> detail;
  {
    std::lock_guard lock(mutex_);
    if (!answer_ || answerGeneration_ != generation_) return;
    detail = std::move(answer_);
    answer_.reset();
  }
  const std::vector<DetailField> fields = DetailFields(*detail);
  for (std::size_t i = 0; i < fields.size() && i < edits_.size(); ++i) {
    edits_[i]->setText(QString::fromStdString(fields[i].text));
    edits_[i]->setCursorPosition(0);  // long models show their start
  }
  if (detail->loaderMode) {
    fwInfoEdit_->hide();
    loaderLabel_->show();
  }
}

}  // namespace qk::gui
