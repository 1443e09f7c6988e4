// The settings area: building the pages and wiring their handlers. The rules
// behind them live in the core (EditRules, PageLists, SettingsLock, ...).
#include "gui/SettingsPages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QVBoxLayout>

#include <functional>

#include "app/SettingsLock.h"
#include "gui/SettingsPagesImpl.h"
#include "config/EditRules.h"
#include "config/FirmwareNameDecoder.h"
#include "config/FlashSelection.h"
#include "config/KeyFile.h"
#include "config/PageLists.h"
#include "config/TestItemList.h"
#include "gui/FlashInfoForm.h"
#include "platform/DebugOutput.h"
#include "run/RunModeChoice.h"

namespace qk::gui {

namespace {

// A small area that reports mouse presses with the state of the Ctrl key.
template <typename Base>
class PressArea : public Base {
 public:
  using Base::Base;
  std::function<void(bool ctrl)> onPress;

 protected:
  void mousePressEvent(QMouseEvent* e) override {
    if (onPress) onPress((e->modifiers() & Qt::ControlModifier) != 0);
    Base::mousePressEvent(e);
  }
};

// The key filters of the edits: a rejected key is swallowed, a lower-case hex
// digit is typed as upper case, and an input limit stops typing (but not
// texts set by the program, which the change handlers cut instead).
class KeyFilterObject : public QObject {
 public:
  KeyFilterObject(std::function<std::optional<KeyFilter>()> filter, int inputLimit, QObject* parent)
      : QObject(parent), filter_(std::move(filter)), limit_(inputLimit) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    auto* edit = qobject_cast<QLineEdit*>(watched);
    auto* key = static_cast<QKeyEvent*>(event);
    const QString text = key->text();
    if (!edit || text.size() != 1) return false;
    const QChar ch = text.at(0);
    if (ch.unicode() < 0x20 || ch.unicode() == 0x7F) return false;
    if (limit_ > 0 && edit->text().size() >= limit_ && !edit->hasSelectedText()) return true;
    const auto filter = filter_();
    if (!filter) return false;
    if (ch.unicode() > 0x7F) return *filter != KeyFilter::NoBackslash;
    const auto accepted = FilterKey(*filter, static_cast<char>(ch.unicode()));
    if (!accepted) return true;
    if (*accepted == static_cast<char>(ch.unicode())) return false;
    edit->insert(QString(QChar(*accepted)));
    return true;
  }

 private:
  std::function<std::optional<KeyFilter>()> filter_;
  int limit_;
};

void filterKeys(QLineEdit* edit, std::function<std::optional<KeyFilter>()> filter, int inputLimit = 0) {
  edit->installEventFilter(new KeyFilterObject(std::move(filter), inputLimit, edit));
}
void filterKeys(QLineEdit* edit, KeyFilter filter, int inputLimit = 0) {
  filterKeys(edit, [filter] { return std::optional<KeyFilter>(filter); }, inputLimit);
}

template <typename W, typename... Args>
W* named(const char* name, Args&&... args) {
  auto* w = new W(std::forward<Args>(args)...);
  w->setObjectName(name);
  return w;
}

QComboBox* comboOf(const char* name, const std::vector<std::string>& items) {
  auto* c = named<QComboBox>(name);
  for (const auto& i : items) c->addItem(QString::fromStdString(i));
  return c;
}

QString qs(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

SettingsPages::SettingsPages(Station& station, QWidget* parent) : QWidget(parent), d_(new Impl(station)) {
  Impl& d = *d_;
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  d.tabs = named<QTabWidget>("PageControl1", this);
  layout->addWidget(d.tabs, 1);

  // ---- "Test Items"
  d.tab1 = named<QWidget>("TabSheet1");
  {
    auto* grid = new QGridLayout(d.tab1);
    d.list = named<QListWidget>("FunCheckListBox");
    d.connect = comboOf("ConnectionChkCmbox", kConnectChoices);
    auto* left = new QVBoxLayout;
    left->addWidget(d.list);
    auto* connectRow = new QHBoxLayout;
    connectRow->addWidget(new QLabel("Connect Check"));
    connectRow->addWidget(d.connect);
    left->addLayout(connectRow);
    d.prodModal = named<QLabel>("ProdModalPanel");
    d.prodModal->setFrameShape(QFrame::Panel);
    left->addWidget(d.prodModal);
    auto* tip = new PressArea<QFrame>;
    tip->setObjectName("SpecialTipShape");
    tip->setFixedSize(10, 10);
    tip->onPress = [this](bool ctrl) { specialTipMouseDown(ctrl); };
    d.specialTip = tip;
    left->addWidget(tip);
    grid->addLayout(left, 0, 0);

    d.subPages = named<QTabWidget>("PageControl2");
    auto addPage = [&](const char* name) {
      auto* page = named<QWidget>(name);
      d.subPages->addTab(page, name);
      return page;
    };
    // OP_Download: firmware images, addressing, LED modes.
    {
      auto* p = addPage("OP_Download");
      auto* f = new QGridLayout(p);
      d.sataBin = named<QCheckBox>("SataBinChk", "SATA Bin");
      d.usbBin = named<QCheckBox>("UsbBinChk", "USB Bin");
      d.updateFirmware = named<QCheckBox>("UpdateFirmwareChk", "Update Firmware");
      d.lba48 = named<QRadioButton>("SataLBA48", "LBA 48");
      d.lba28 = named<QRadioButton>("SataLBA28", "LBA 28");
      auto* lbaGroup = new QButtonGroup(p);
      lbaGroup->addButton(d.lba48);
      lbaGroup->addButton(d.lba28);
      d.lightIdle = comboOf("LightIdleComboBox", kLedChoices);
      d.lightRead = comboOf("LightReadComboBox", kLedChoices);
      d.lightWrite = comboOf("LightWriteComboBox", kLedChoices);
      f->addWidget(d.sataBin, 0, 0);
      f->addWidget(d.usbBin, 0, 1);
      f->addWidget(d.updateFirmware, 0, 2);
      f->addWidget(d.lba48, 1, 0);
      f->addWidget(d.lba28, 1, 1);
      f->addWidget(new QLabel("Idle"), 2, 0);
      f->addWidget(d.lightIdle, 2, 1);
      f->addWidget(new QLabel("Read"), 3, 0);
      f->addWidget(d.lightRead, 3, 1);
      f->addWidget(new QLabel("Write"), 4, 0);
      f->addWidget(d.lightWrite, 4, 1);
    }
    {
      auto* p = addPage("OP_Format");
      auto* v = new QVBoxLayout(p);
      d.formatGroup = named<QGroupBox>("FormatGroupBox", "Format");
      auto* f = new QFormLayout(d.formatGroup);
      d.fmtType = comboOf("FmtTypeComboBox", kFormatChoices);
      d.volumeLabel = named<QLineEdit>("VolumeLabeledEdit");
      f->addRow("File System", d.fmtType);
      f->addRow("Volume Label", d.volumeLabel);
      v->addWidget(d.formatGroup);
    }
    {
      auto* p = addPage("OP_CopyImage");
      auto* f = new QFormLayout(p);
      d.copyImage = named<QCheckBox>("CopyImageCheckBox", "Copy Image");
      d.imagePath = named<QLineEdit>("ImagePathEdit");
      d.genImage = named<QPushButton>("GenImageBn", "GenImage");
      f->addRow(d.copyImage);
      f->addRow("Image Path", d.imagePath);
      f->addRow(d.genImage);
    }
    {
      auto* p = addPage("OP_PFormat");
      auto* v = new QVBoxLayout(p);
      d.laterChk = named<QRadioButton>("LaterChk", "Factory + New BB");
      d.earlyChk = named<QRadioButton>("EarlyChk", "Factory Default BB");
      d.eraseChk = named<QRadioButton>("EraseChk", "Erase Search");
      d.badBlockGroup = new QButtonGroup(p);
      for (auto* r : {d.laterChk, d.earlyChk, d.eraseChk}) {
        d.badBlockGroup->addButton(r);
        v->addWidget(r);
      }
      d.skipEraseGood = named<QCheckBox>("SkipEraseGoodChkBox", "Skip Erase Good Block");
      d.keepEraseCount = named<QCheckBox>("KeepPreviousEraseCountChk", "Keep Previous Erase Count");
      d.repairUsed = named<QCheckBox>("RepairUsedChkBox", "Repair Used Module");
      v->addWidget(d.skipEraseGood);
      v->addWidget(d.keepEraseCount);
      v->addWidget(d.repairUsed);
    }
    {
      auto* p = addPage("OP_FlashModule");
      auto* h = new QHBoxLayout(p);
      const char* names[] = {"CheckID1", "CheckID2", "CheckID3", "CheckID4", "CheckID5"};
      for (int i = 0; i < 5; ++i) {
        d.checkId[static_cast<std::size_t>(i)] = named<QCheckBox>(names[i], QString("ID %1").arg(i + 1));
        h->addWidget(d.checkId[static_cast<std::size_t>(i)]);
      }
    }
    {
      auto* p = addPage("OP_CheckIDEMACapacity");
      auto* f = new QFormLayout(p);
      d.idemaCapacity = named<QSpinBox>("IDEMA_Capacity");
      d.idemaCapacity->setRange(kIdemaCapacityMin, kIdemaCapacityMax);
      f->addRow("IDEMA Capacity (GB)", d.idemaCapacity);
    }
    {
      auto* p = addPage("OP_RWTestPercentage");
      auto* f = new QFormLayout(p);
      d.rwPercentage = named<QSpinBox>("RWTestPercentageValue");
      d.rwPercentage->setRange(kRwPercentageMin, kRwPercentageMax);
      f->addRow("Percentage", d.rwPercentage);
    }
    {
      auto* p = addPage("OP_CheckTemperature");
      auto* f = new QFormLayout(p);
      d.maxTemperature = named<QLineEdit>("CheckMaxTemperatureValue");
      filterKeys(d.maxTemperature, KeyFilter::Digits);
      f->addRow("Max Temperature", d.maxTemperature);
    }
    {
      auto* p = addPage("OP_CheckLBACapacity");
      auto* f = new QFormLayout(p);
      d.lbaCapacity = named<QLineEdit>("LBA_Capacity");
      f->addRow("LBA Capacity", d.lbaCapacity);
    }
    grid->addWidget(d.subPages, 0, 1);
  }
  d.tabs->addTab(d.tab1, "Test Items");

  // ---- "Flash Setting"
  d.tab2 = named<QWidget>("TabSheet2");
  {
    auto* grid = new QGridLayout(d.tab2);
    d.flashVendor = named<QComboBox>("FlashVendorCmbx");
    d.flashCode = named<QComboBox>("FlashCodeCmBx");
    d.flashChan = comboOf("FlashChanCmBx", ChannelChoices());
    d.flashBank = comboOf("FlashBankCmBx", BankChoices());
    d.drvCurrent = comboOf("DrvCurrentCmBx", DriveCurrentChoices());
    d.capacity = comboOf("CapacityCmBx", kCapacityChoices);
    auto* f = new QFormLayout;
    f->addRow("Vendor", d.flashVendor);
    f->addRow("Type", d.flashCode);
    f->addRow("Channel", d.flashChan);
    f->addRow("Bank", d.flashBank);
    f->addRow("Drive Current", d.drvCurrent);
    f->addRow("Capacity Check", d.capacity);
    grid->addLayout(f, 0, 0);
    d.flashDetails = named<QPlainTextEdit>("FlashDetailMemo");
    d.flashDetails->setReadOnly(true);
    grid->addWidget(d.flashDetails, 0, 1);
    auto* cap = new QFormLayout;
    d.capacityEdit = named<QLineEdit>("CapacityEdit");
    d.capacityEdit2 = named<QLineEdit>("CapacityEdit2");
    d.capacityEdit->setReadOnly(true);
    d.capacityEdit2->setReadOnly(true);
    cap->addRow("(1K=1000)", d.capacityEdit);
    cap->addRow("(1K=1024)", d.capacityEdit2);
    d.idemaEdit = named<QLineEdit>("IDEMAEdit");
    filterKeys(d.idemaEdit, KeyFilter::Digits);
    d.idemaRatio = named<QLineEdit>("IDEMARatio");
    d.idemaRatio->setReadOnly(true);
    d.idemaSet = named<QPushButton>("CalcIDEMAToRatioBn", "Set");
    d.idemaRestore = named<QPushButton>("RestoreReservedRatio", "Restore default value");
    d.autoDetect = named<QPushButton>("FlashAutoDetectBtn", "Auto Detect");
    cap->addRow("IDEMA Capacity", d.idemaEdit);
    cap->addRow("Reserved Ratio", d.idemaRatio);
    cap->addRow(d.idemaSet, d.idemaRestore);
    cap->addRow(d.autoDetect);
    grid->addLayout(cap, 0, 2);
  }
  d.tabs->addTab(d.tab2, "Flash Setting");

  // ---- "Dram Setting": never shown; Ctrl+click on "Type " toggles its timing group.
  d.tab6 = named<QWidget>("TabSheet6");
  {
    auto* v = new QVBoxLayout(d.tab6);
    auto* typeLabel = new PressArea<QLabel>("Type ");
    typeLabel->setObjectName("DramTypeLabel");
    typeLabel->onPress = [this](bool ctrl) {
      if (ctrl) d_->dramGroup->setVisible(!d_->dramGroup->isVisibleTo(d_->tab6));
    };
    v->addWidget(typeLabel);
    v->addWidget(named<QComboBox>("DramTypeCmBx"));
    d.dramGroup = named<QGroupBox>("DramGroupBox", "Timing");
    auto* g = new QFormLayout(d.dramGroup);
    g->addRow("CAS", named<QSpinBox>("DramCasSpin"));
    v->addWidget(d.dramGroup);
    d.dramGroup->setVisible(false);
  }
  d.tabs->addTab(d.tab6, "Dram Setting");
  d.tabs->setTabVisible(d.tabs->indexOf(d.tab6), false);

  // ---- "Device Setting"
  d.tab3 = named<QWidget>("TabSheet3");
  {
    auto* grid = new QGridLayout(d.tab3);
    d.commonGroup = named<QGroupBox>("CommonGroupBox", "Common");
    {
      auto* f = new QFormLayout(d.commonGroup);
      d.serialNum = named<QLineEdit>("SerialNumEdit");
      d.serialNum->setProperty("tag", 2);
      d.serialLabel = named<QLabel>("SerialNumLabel", "Serial Number (20) ");
      d.snInc = named<QCheckBox>("SNIncChk", "Auto Increase");
      d.snDecimal = named<QRadioButton>("SNDecimal", "Decimal");
      d.snHex = named<QRadioButton>("SNHexadecimal", "Hexadecimal");
      auto* snGroup = new QButtonGroup(d.commonGroup);
      snGroup->addButton(d.snDecimal);
      snGroup->addButton(d.snHex);
      d.snMinLength = named<QSpinBox>("SNMinLengthSpin");
      d.snMinLength->setRange(1, 20);
      f->addRow(d.serialLabel, d.serialNum);
      f->addRow(d.snInc);
      auto* radix = new QHBoxLayout;
      radix->addWidget(d.snDecimal);
      radix->addWidget(d.snHex);
      f->addRow(radix);
      f->addRow("Length", d.snMinLength);
    }
    d.sataGroup = named<QGroupBox>("SATAGroupBox", "SATA");
    {
      auto* f = new QFormLayout(d.sataGroup);
      d.modelNum = named<QLineEdit>("ModelNumEdit");
      d.modelNum->setProperty("tag", 0);
      d.firmwareVer = named<QLineEdit>("FirmwareVerEdit");
      d.firmwareVer->setProperty("tag", 1);
      f->addRow("Model Number", d.modelNum);
      f->addRow("Firmware Version", d.firmwareVer);
    }
    d.usbGroup = named<QGroupBox>("USBGroupBox", "USB");
    {
      auto* f = new QFormLayout(d.usbGroup);
      d.vendorId = named<QLineEdit>("VendorIDEdit");
      d.vendorId->setProperty("tag", 0);
      d.productId = named<QLineEdit>("ProductIDEdit");
      d.productId->setProperty("tag", 1);
      d.vendorName = named<QLineEdit>("VendorNameEdit");
      d.vendorName->setProperty("tag", 3);
      d.productName = named<QLineEdit>("ProductNameEdit");
      d.manufStr = named<QLineEdit>("ManufStrEdit");
      d.manufStr->setProperty("tag", 3);
      d.prodStr = named<QLineEdit>("ProdStrEdit");
      d.prodStr->setProperty("tag", 4);
      f->addRow("VID", d.vendorId);
      f->addRow("PID", d.productId);
      f->addRow("Vendor Name", d.vendorName);
      f->addRow("Product Name", d.productName);
      f->addRow("Manufacturer", d.manufStr);
      f->addRow("Product", d.prodStr);
    }
    d.encryptionGroup = named<QGroupBox>("GroupBox7", "Encryption");
    {
      auto* f = new QFormLayout(d.encryptionGroup);
      d.encryption = named<QLineEdit>("LeEncryption");
      d.keyFile = named<QPushButton>("BnKeyFile", "KeyFiles");
      f->addRow("Encryption", d.encryption);
      f->addRow(d.keyFile);
      d.decodeNameEdit = named<QLineEdit>("DecodeNameEdit", kDefaultDecodeName);
      d.decodeName = named<QPushButton>("DecodeNameBn", "DecodeName");
      d.decodeNameEdit->setVisible(false);
      d.decodeName->setVisible(false);
      f->addRow(d.decodeNameEdit, d.decodeName);
    }
    grid->addWidget(d.commonGroup, 0, 0);
    grid->addWidget(d.sataGroup, 0, 1);
    grid->addWidget(d.usbGroup, 0, 2);
    grid->addWidget(d.encryptionGroup, 0, 3);
  }
  d.tabs->addTab(d.tab3, "Device Setting");

  // ---- "F/W Setting": tuning fields, editable in special mode.
  d.tab4 = named<QWidget>("TabSheet4");
  {
    auto* h = new QHBoxLayout(d.tab4);
    d.panel4 = named<QWidget>("Panel4");
    d.panel5 = named<QWidget>("Panel5");
    d.panel8 = named<QWidget>("Panel8");
    auto edit = [](const char* name) { return named<QLineEdit>(name); };
    d.defRatio = edit("DefBlkRatioEdit");
    d.resRatio = edit("ResBlkRatioEdit");
    d.wearLev = edit("WearLevFreqEdit");
    d.bch16Rd = edit("Bch16RdErrThldEdit");
    d.bch24Rd = edit("Bch24RdErrThldEdit");
    d.bch16Ecc = edit("Bch16EccErrCpyThldEdit");
    d.bch24Ecc = edit("Bch24EccErrCpyThldEdit");
    auto* f4 = new QFormLayout(d.panel4);
    f4->addRow("Defect Ratio", d.defRatio);
    f4->addRow("Reserved Ratio", d.resRatio);
    f4->addRow("Wear Level", d.wearLev);
    auto* f5 = new QFormLayout(d.panel5);
    f5->addRow("BCH16 Read", d.bch16Rd);
    f5->addRow("BCH24 Read", d.bch24Rd);
    f5->addRow("BCH16 ECC Copy", d.bch16Ecc);
    f5->addRow("BCH24 ECC Copy", d.bch24Ecc);
    auto* v8 = new QVBoxLayout(d.panel8);
    auto chk = [&](const char* name, const char* text) {
      auto* c = named<QCheckBox>(name, text);
      v8->addWidget(c);
      return c;
    };
    d.smart = chk("SMARTChk", "SMART");
    d.security = chk("SecurityChk", "Security");
    d.slumber = chk("SlumberChk", "Slumber");
    d.interleave = chk("InterleaveChk", "Interleave");
    d.scramble = chk("ScrambleChk", "Scramble");
    d.remap = chk("RemapChk", "Remap");
    d.paralMem = chk("ParalMemChk", "Parallel Memory");
    d.securityErase = chk("SecurityEraseChk", "Security Erase");
    h->addWidget(d.panel4);
    h->addWidget(d.panel5);
    h->addWidget(d.panel8);
    for (QWidget* w : {d.panel4, d.panel5, d.panel8}) w->setEnabled(false);
    for (QCheckBox* c : {d.smart, d.security, d.slumber, d.interleave, d.scramble, d.remap, d.paralMem,
                         d.securityErase})
      c->setEnabled(false);
    for (QLineEdit* e : {d.defRatio, d.resRatio, d.wearLev, d.bch16Rd, d.bch24Rd, d.bch16Ecc, d.bch24Ecc}) {
      e->setAutoFillBackground(true);
      QPalette p = e->palette();
      p.setColor(QPalette::Base, p.color(QPalette::Button));
      e->setPalette(p);
    }
  }
  d.tabs->addTab(d.tab4, "F/W Setting");

  // ---- "RD": defect-table service modes.
  d.tab5 = named<QWidget>("TabSheet5");
  {
    auto* grid = new QGridLayout(d.tab5);
    d.getDefTab = named<QCheckBox>("GetDefTabChk", "Get Def. Table");
    d.putDefTab = named<QCheckBox>("PutDefTabChk", "Put Def. Table");
    d.getLaterTab = named<QCheckBox>("GetLaterTabChk", "Get Later Table");
    d.putLaterTab = named<QCheckBox>("PutLaterTabChk", "Put Later Table");
    d.tableIn = named<QLineEdit>("TableInEdit");
    d.tableOut = named<QLineEdit>("TableOutEdit");
    d.laterTableIn = named<QLineEdit>("LaterTableInEdit");
    d.laterTableOut = named<QLineEdit>("LaterTableOutEdit");
    QCheckBox* checks[] = {d.getDefTab, d.putDefTab, d.getLaterTab, d.putLaterTab};
    QLineEdit* edits[] = {d.tableIn, d.tableOut, d.laterTableIn, d.laterTableOut};
    const char* captions[] = {"Save To", "Put From", "Save To", "Put From"};
    for (int i = 0; i < 4; ++i) {
      const TableFileButton& button = kTableFileButtons[i];
      auto* btn = named<QPushButton>(button.button, captions[i]);
      grid->addWidget(checks[i], i, 0);
      grid->addWidget(edits[i], i, 1);
      grid->addWidget(btn, i, 2);
      QLineEdit* target = edits[i];
      connect(btn, &QPushButton::clicked, this, [this, button, target] {
        auto file = d_->station.op().chooseFile(button.filter, kTableFileExt, d_->station.folder().path(), button.save);
        if (!file) return;
        target->setText(qs(*file));
        pagesToProfile();
      });
    }
    d.claimNew = named<QCheckBox>("ClaimNewChk", "Rebuild bad block mark by according to defect table");
    d.rebuildClose = named<QCheckBox>("RebuildCloseChk", "Close AP after Rebuild ");
    d.rebuildClose->setEnabled(false);
    grid->addWidget(d.claimNew, 4, 0, 1, 3);
    grid->addWidget(d.rebuildClose, 5, 0, 1, 3);
    connect(d.claimNew, &QCheckBox::toggled, this, [this](bool on) { d_->rebuildClose->setEnabled(on); });
  }
  d.tabs->addTab(d.tab5, "RD");

  // ---- Profile buttons and tool-bar buttons (the window places them).
  d.loadIni = named<QPushButton>("INILoadBtn", "Load INI");
  d.saveIni = named<QPushButton>("INISaveBtn", "Save INI");
  d.iniFile = named<QLineEdit>("INIFileEdit");
  d.iniFile->setReadOnly(true);
  showIniFile();
  auto* profileColumn = new QVBoxLayout;
  profileColumn->addWidget(d.loadIni);
  profileColumn->addWidget(d.saveIni);
  profileColumn->addStretch();
  layout->addLayout(profileColumn);
  d.lockBtn = named<QToolButton>("SpeedButton8");  // parentless until the window places it
  d.lockBtn->setText("Lock");
  d.lockBtn->setCheckable(true);
  d.autoDetectBtn = named<QToolButton>("SpeedButton6");
  d.autoDetectBtn->setText("Detect");
  d.autoDetectBtn->setVisible(false);
  d.stopBtn = named<QToolButton>("SpeedButton9");
  d.stopBtn->setText("Stop");
  d.stopBtn->setVisible(false);

  // ---- Key filters and change handlers.
  filterKeys(d.vendorId, KeyFilter::Hex);
  filterKeys(d.productId, KeyFilter::Hex);
  filterKeys(d.serialNum, [this] { return std::optional<KeyFilter>(SerialKeyFilter(d_->station.profile().settings.SNDecimal)); });
  filterKeys(d.modelNum, KeyFilter::NoBackslash, 40);
  filterKeys(d.vendorName, KeyFilter::NoBackslash, 8);
  filterKeys(d.productName, KeyFilter::NoBackslash, 16);
  for (QLineEdit* e : {d.vendorId, d.productId}) {
    connect(e, &QLineEdit::textChanged, this, [this, e](const QString& text) {
      std::string t = text.toStdString();
      if (CutText(t, kUsbIdLength)) {
        QSignalBlocker block(e);
        e->setText(qs(t));
      }
      auto& s = d_->station.profile().settings;
      (e->property("tag").toInt() == 0 ? s.VendorID : s.ProductID) = t;
    });
  }
  for (QLineEdit* e : {d.modelNum, d.firmwareVer, d.serialNum, d.manufStr, d.vendorName, d.prodStr}) {
    connect(e, &QLineEdit::textChanged, this, [e](const QString& text) {
      std::string t = text.toStdString();
      if (CutText(t, StringEditLimit(e->property("tag").toInt()))) {
        QSignalBlocker block(e);
        e->setText(qs(t));
      }
    });
  }
  auto fatLabel = [this] {
    std::string label = d_->volumeLabel->text().toStdString();
    if (!CutFat32Label(label, d_->fmtType->currentIndex())) return;
    {
      QSignalBlocker block(d_->volumeLabel);
      d_->volumeLabel->setText(qs(label));
    }
    d_->station.op().showMessage(kFat32LabelMessage, kFat32LabelCaption);
  };
  connect(d.volumeLabel, &QLineEdit::textChanged, this, fatLabel);
  connect(d.fmtType, &QComboBox::currentIndexChanged, this, fatLabel);

  // ---- Test-item list.
  connect(d.list, &QListWidget::itemChanged, this, [this] {
    if (!d_->refreshing) funCheckListBoxClickCheck();
  });
  connect(d.list, &QListWidget::itemPressed, this, [this] {
    d_->listTouched = true;
    subPageControl();
  });
  connect(d.list, &QListWidget::currentRowChanged, this, [this] {
    if (d_->listTouched) subPageControl();
  });
  connect(d.connect, &QComboBox::activated, this, [this](int index) {
    d_->station.profile().settings.ConnectDevNum = index;
    Q_EMIT refreshRequested();
  });
  connect(d.sataBin, &QCheckBox::clicked, this, [this] { binFileChkClick(); });
  connect(d.usbBin, &QCheckBox::clicked, this, [this] { binFileChkClick(); });
  connect(d.genImage, &QPushButton::clicked, this, [this] { d_->station.captureImage(); });

  // ---- Flash page.
  connect(d.flashVendor, &QComboBox::activated, this, [this] { updateFlashList(true); });
  for (QComboBox* c : {d.flashCode, d.flashChan, d.flashBank})
    connect(c, &QComboBox::activated, this, [this] { flashInfoChange(); });
  connect(d.idemaSet, &QPushButton::clicked, this, [this] {
    if (!pagesToProfile()) return;
    d_->station.flashInfoChange();
    const IdemaRatioResult r = IdemaToReservedRatio(d_->idemaEdit->text().toStdString(), d_->station.globalParameter());
    if (r.message) {
      d_->station.op().showMessage(*r.message);
      return;
    }
    d_->station.profile().settings.ResPercentage = r.resPercentage;
    d_->idemaRatio->setText(QString::number(static_cast<double>(r.ratio)));
    flashInfoChange();
  });
  connect(d.idemaRestore, &QPushButton::clicked, this, [this] {
    d_->idemaEdit->clear();
    d_->idemaRatio->clear();
    RestoreReservedRatio(d_->station.profile().settings);
    flashInfoChange();
  });
  connect(d.autoDetect, &QPushButton::clicked, this, [this] { flashAutoDetectBtnClick(); });

  // ---- Firmware tools.
  connect(d.keyFile, &QPushButton::clicked, this, [this] {
    GenerateKeyFile(d_->station.folder(), d_->encryption->text().toStdString(), RandomByteSource(),
                    d_->station.op());
  });
  connect(d.decodeName, &QPushButton::clicked, this, [this] {
    const std::string name = d_->decodeNameEdit->text().toStdString();
    if (name.empty()) return;
    d_->station.op().showMessage(DecodeFirmwareName(name));
  });

  // ---- Buttons.
  connect(d.loadIni, &QPushButton::clicked, this, [this] { iniLoadBtnClick(); });
  connect(d.saveIni, &QPushButton::clicked, this, [this] { iniSaveBtnClick(); });
  connect(d.lockBtn.data(), &QToolButton::clicked, this, [this] { lockButtonClick(); });
  connect(d.autoDetectBtn.data(), &QToolButton::clicked, this, [this] { speedButton6Click(); });
  connect(d.stopBtn.data(), &QToolButton::clicked, this, [this] { Q_EMIT stopRequested(); });

  profileToPages();
}

SettingsPages::~SettingsPages() {
  // The window closes only after the detect has ended; a stop here ends its
  // drive commands and skips the choice dialog.
  if (d_->detectThread.joinable()) {
    d_->detectThread.request_stop();
    d_->detectThread.join();
  }
  // Tool-bar buttons the window never took over are still ours.
  for (QToolButton* b : {d_->lockBtn.data(), d_->autoDetectBtn.data(), d_->stopBtn.data()}) {
    if (b && !b->parent()) delete b;
  }
  if (d_->iniFile && !d_->iniFile->parent()) delete d_->iniFile.data();
  delete d_;
}

QTabWidget* SettingsPages::pageControl() const { return d_->tabs; }
QListWidget* SettingsPages::testItemList() const { return d_->list; }
QComboBox* SettingsPages::connectionCheck() const { return d_->connect; }
std::vector<QAbstractButton*> SettingsPages::toolBarButtons() const {
  return {d_->lockBtn.data(), d_->autoDetectBtn.data(), d_->stopBtn.data()};
}
std::vector<QAbstractButton*> SettingsPages::profileButtons() const { return {d_->loadIni, d_->saveIni}; }
QLineEdit* SettingsPages::iniFileEdit() const { return d_->iniFile; }

void SettingsPages::showIniFile() {
  Station& st = d_->station;
  const std::string& path = st.profile().iniFilePath;
  const QString full = path.empty() ? QString() : qs(st.folder().resolve(path));
  d_->iniFile->setText(full);
  d_->iniFile->setToolTip(full);
  d_->iniFile->setCursorPosition(full.size());  // the file name is the part to read
}
bool SettingsPages::specialMode() const { return d_->specialMode; }

void SettingsPages::funCheckListBoxClickCheck() {
  Impl& d = *d_;
  auto& s = d.station.profile().settings;
  TestItemList model;
  for (int i = 0; i < d.list->count(); ++i)
    model.entries().push_back({d.list->item(i)->text().toStdString(), d.list->item(i)->checkState() == Qt::Checked});
  model.applyTo(s);
  {
    QSignalBlocker block(d.list);
    for (int i = 0; i < d.list->count(); ++i)
      d.list->item(i)->setCheckState(model.entries()[static_cast<std::size_t>(i)].checked ? Qt::Checked
                                                                                          : Qt::Unchecked);
  }
  binFileChkClick();
}

void SettingsPages::subPageControl() {
  Impl& d = *d_;
  d.listTouched = true;
  const QListWidgetItem* item = d.list->currentItem();
  const std::string page = item ? OptionPageFor(item->text().toStdString()) : std::string();
  for (int i = 0; i < d.subPages->count(); ++i)
    d.subPages->setTabVisible(i, !page.empty() && d.subPages->widget(i)->objectName().toStdString() == page);
  for (int i = 0; i < d.subPages->count(); ++i) {
    if (d.subPages->isTabVisible(i)) d.subPages->setCurrentIndex(i);
  }
}

void SettingsPages::selectFirstItem() {
  if (d_->list->count() > 0) d_->list->setCurrentRow(0);
}

void SettingsPages::applyMask(int mask) {
  {
    QSignalBlocker block(d_->list);
    for (int i = 0; i < d_->list->count(); ++i)
      d_->list->item(i)->setCheckState(i < 8 && (mask >> i) & 1 ? Qt::Checked : Qt::Unchecked);
  }
  funCheckListBoxClickCheck();
}

void SettingsPages::applyLock() { lockFrom(static_cast<int>(LockSender::Window)); }

void SettingsPages::lockButtonClick() { lockFrom(static_cast<int>(LockSender::LockButton)); }

void SettingsPages::lockFrom(int sender) {
  const LockOutcome out = ApplySettingsLock(d_->station.profile().settingsUnlocked,
                                            static_cast<LockSender>(sender), d_->station.op());
  Impl& d = *d_;
  if (out.tabsEnabled)
    for (int i = 0; i < d.tabs->count(); ++i) d.tabs->widget(i)->setEnabled(*out.tabsEnabled);
  if (out.saveEnabled) d.saveIni->setEnabled(*out.saveEnabled);
  d.lockBtn->setChecked(out.buttonDown);
}

void SettingsPages::speedButton6Click() {
  if (AskAccessCode(d_->station.op())) {
    flashAutoDetectBtnClick();
  } else {
    d_->station.op().showMessage(kPasswordFail);
  }
}

void SettingsPages::specialTipMouseDown(bool ctrlHeld) {
  if (!ctrlHeld) return;
  Impl& d = *d_;
  d.station.op().showMessage("Enter Special mode");
  for (QWidget* w : {d.panel4, d.panel5, d.panel8}) w->setEnabled(true);
  for (QCheckBox* c : {d.smart, d.security, d.slumber, d.interleave, d.scramble, d.remap, d.paralMem,
                       d.securityErase})
    c->setEnabled(true);
  for (QLineEdit* e : {d.defRatio, d.resRatio, d.wearLev, d.bch16Rd, d.bch24Rd, d.bch16Ecc, d.bch24Ecc})
    e->setPalette(QPalette());
  d.specialMode = true;
  auto& s = d.station.profile().settings;
  s.EnableGetPutTable = 1;
  s.SpecialMode = 1;
  d.tabs->setTabVisible(d.tabs->indexOf(d.tab5), true);
}

void SettingsPages::iniLoadBtnClick() {
  Station& st = d_->station;
  auto file = st.op().chooseFile(kIniFilter, kIniExt, st.folder().path(), false);
  if (!file) return;
  Profile& profile = st.profile();
  if (IsFlashListChoice(*file, st.folder().path(), profile.settings.ExtFlashFile)) {
    st.op().showMessage(kFlashFileChosenMessage);
    return;
  }
  // Another station's profile or log folder is not taken over (message shown).
  if (!st.holdRecords(*file, ProfileLogFolder(*file, st.folder()))) return;
  const LoadResult r = st.reloadProfile(*file);
  showIniFile();  // even a failed load leaves START and exit writing there
  // The pages follow the loaded settings before a failed log folder is
  // reported, so no later Save or START writes the old pages into the new file.
  if (r != LoadResult::Failed) profileToPages();
  if (r == LoadResult::LogFolderFailed) {
    st.op().showMessage(kCannotCreateLogDirectory, "Error", MessageIcon::Error);
    return;
  }
  refreshFlashSelection();
  applyLock();
  funCheckListBoxClickCheck();
  Q_EMIT profileLoaded();
}

void SettingsPages::iniSaveBtnClick() {
  if (!pagesToProfile()) return;
  Station& st = d_->station;
  auto file = st.op().chooseFile(kIniFilter, kIniExt, st.folder().path(), true);
  if (!file) return;
  st.profile().iniFilePath = *file;
  showIniFile();
  if (!SaveProfile(*file, st.profile(), st.folder()))
    debugPrintf("Save INI: %s not written", file->c_str());
}

void SettingsPages::flashAutoDetectBtnClick() {
  Impl& d = *d_;
  if (d.detectThread.joinable()) return;
  if (!pagesToProfile()) return;
  // The drive is read aside so a slow answer never freezes the window; the
  // pages and the profile buttons wait for it, as the window's START does.
  d.tabs->setEnabled(false);
  d.loadIni->setEnabled(false);
  const bool saveWasEnabled = d.saveIni->isEnabled();
  d.saveIni->setEnabled(false);
  Q_EMIT busyChanged(true);
  d.detectThread = std::jthread([this, saveWasEnabled](std::stop_token stop) {
    auto choose = [this, stop](const FlashDetectView& view,
                               const std::vector<FlashMatch>&) -> std::optional<std::size_t> {
      std::optional<std::size_t> chosen;
      if (stop.stop_requested()) return chosen;
      // The choice is the operator's: the dialog runs on the window's thread.
      QMetaObject::invokeMethod(this, [this, &view, &chosen] {
        TFlashInfoFrom dialog(view, d_->station.op(), this);
        dialog.exec();
        chosen = dialog.chosen();
      }, Qt::BlockingQueuedConnection);
      return chosen;
    };
    const Station::AutoDetectResult r = d_->station.flashAutoDetect(stop, choose);
    const bool found = r.outcome == Station::AutoDetectResult::Outcome::Found;
    QMetaObject::invokeMethod(this, [this, found, saveWasEnabled] {
      Impl& d = *d_;
      d.detectThread.join();
      d.tabs->setEnabled(true);
      d.loadIni->setEnabled(true);
      d.saveIni->setEnabled(saveWasEnabled);
      if (found) {
        profileToPages();
        flashInfoChange();
      }
      Q_EMIT busyChanged(false);
    }, Qt::QueuedConnection);
  });
}

bool SettingsPages::detecting() const { return d_->detectThread.joinable(); }

void SettingsPages::fillConnectionCheck(int slotCount) {
  QSignalBlocker block(d_->connect);
  d_->connect->clear();
  d_->connect->addItem("Don't Care");
  for (int i = 1; i <= slotCount; ++i) d_->connect->addItem(QString::number(i));
  d_->connect->setCurrentIndex(ListIndex(d_->station.profile().settings.ConnectDevNum, d_->connect->count()));
}

void SettingsPages::takeTitleResult(const std::string& serial, bool increment) {
  auto& s = d_->station.profile().settings;
  if (!serial.empty()) {
    s.setSerialNum(serial);
    d_->serialNum->setText(qs(s.SerialNum));
  }
  d_->snInc->setChecked(increment);
  s.SNAutoInc = increment ? 1 : 0;
}

void SettingsPages::showStopButton() { d_->stopBtn->setVisible(true); }

RunOptions SettingsPages::runOptions() const {
  const Impl& d = *d_;
  RunOptions o;
  RdPageState rd;
  rd.rdPageActive = d.tabs->tabText(d.tabs->currentIndex()) == "RD";
  rd.claimNew = d.claimNew->isChecked();
  rd.getDefect = d.getDefTab->isChecked();
  rd.putDefect = d.putDefTab->isChecked();
  rd.getLater = d.getLaterTab->isChecked();
  rd.putLater = d.putLaterTab->isChecked();
  ChooseRunMode(rd, o);
  o.rebuildClose = d.rebuildClose->isChecked();
  o.repairUsed = d.repairUsed->isChecked();
  return o;
}

}  // namespace qk::gui
