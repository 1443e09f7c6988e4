#include "gui/ErrorForm.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "dialogs/ErrorReportView.h"

namespace qk::gui {

namespace {

constexpr int kPhotoWidth = 320, kPhotoHeight = 180;

QPixmap toPixmap(const RgbImage& image) {
  QImage view(image.rgb.data(), image.width, image.height, image.width * 3, QImage::Format_RGB888);
  return QPixmap::fromImage(view.scaled(kPhotoWidth, kPhotoHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void showPhoto(QLabel* label, const std::string& folder, const char* name) {
  auto photo = LoadBoardPhoto(folder, name);
  if (photo)
    label->setPixmap(toPixmap(*photo));
  else
    label->clear();
}

}  // namespace

TErrorForm::TErrorForm(QWidget* parent) : QDialog(parent) {
  setObjectName("ErrorForm");
  setWindowTitle("Error");

  memo_ = new QPlainTextEdit(this);
  memo_->setObjectName("Memo1");
  memo_->setReadOnly(true);
  memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont mono("Monospace");
  mono.setStyleHint(QFont::TypeWriter);
  memo_->setFont(mono);  // the dump lines line up in columns

  auto* box = new QGroupBox("PCB Layout", this);
  box->setObjectName("PictureGBox");
  image1_ = new QLabel(box);
  image1_->setObjectName("Image1");
  image2_ = new QLabel(box);
  image2_->setObjectName("Image2");
  for (QLabel* image : {image1_, image2_}) {
    image->setFixedSize(kPhotoWidth, kPhotoHeight);
    image->setAlignment(Qt::AlignCenter);
  }
  auto* photos = new QVBoxLayout(box);
  photos->addWidget(image1_);
  photos->addWidget(image2_);
  photos->addStretch();

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(memo_, 1);
  layout->addWidget(box);
  resize(820, 440);
}

void TErrorForm::setReport(const std::vector<std::string>& lines, const std::string& photoFolder) {
  showPhoto(image1_, photoFolder, kBoardFrontPhoto);
  showPhoto(image2_, photoFolder, kBoardBackPhoto);
  memo_->setPlainText(QString::fromStdString(ErrorMemoText(lines)));
  memo_->moveCursor(QTextCursor::Start);
}

}  // namespace qk::gui
