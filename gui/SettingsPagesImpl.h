#pragma once
// The widgets of the settings pages, shared by the files that build them and
// copy them to and from the profile.
#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>

#include <array>
#include <thread>

#include "app/Station.h"
#include "gui/SettingsPages.h"

namespace qk::gui {

struct SettingsPages::Impl {
  explicit Impl(Station& s) : station(s) {}
  Station& station;
  bool refreshing = false;     // profileToPages at work: change handlers stay quiet
  bool listTouched = false;    // the test-item list was clicked or keyed once
  bool specialMode = false;
  std::jthread detectThread;   // the flash auto-detect under way

  QTabWidget* tabs = nullptr;  // PageControl1
  QWidget *tab1 = nullptr, *tab2 = nullptr, *tab6 = nullptr, *tab3 = nullptr, *tab4 = nullptr, *tab5 = nullptr;

  // "Test Items"
  QListWidget* list = nullptr;
  QComboBox* connect = nullptr;
  QTabWidget* subPages = nullptr;  // PageControl2
  std::array<QCheckBox*, 5> checkId{};
  QCheckBox *sataBin = nullptr, *usbBin = nullptr, *updateFirmware = nullptr;
  QRadioButton *lba48 = nullptr, *lba28 = nullptr;
  QComboBox *lightIdle = nullptr, *lightRead = nullptr, *lightWrite = nullptr;
  QGroupBox* formatGroup = nullptr;
  QComboBox* fmtType = nullptr;
  QLineEdit* volumeLabel = nullptr;
  QCheckBox* copyImage = nullptr;
  QLineEdit* imagePath = nullptr;
  QPushButton* genImage = nullptr;
  QLineEdit* maxTemperature = nullptr;
  QRadioButton *laterChk = nullptr, *earlyChk = nullptr, *eraseChk = nullptr;
  QButtonGroup* badBlockGroup = nullptr;
  QCheckBox *skipEraseGood = nullptr, *keepEraseCount = nullptr, *repairUsed = nullptr;
  QSpinBox *idemaCapacity = nullptr, *rwPercentage = nullptr;
  QLineEdit* lbaCapacity = nullptr;
  QLabel* prodModal = nullptr;  // ProdModalPanel
  QWidget* specialTip = nullptr;

  // "Flash Setting"
  QComboBox *flashVendor = nullptr, *flashCode = nullptr, *flashChan = nullptr, *flashBank = nullptr,
            *drvCurrent = nullptr, *capacity = nullptr;
  QPlainTextEdit* flashDetails = nullptr;
  QLineEdit *capacityEdit = nullptr, *capacityEdit2 = nullptr, *idemaEdit = nullptr, *idemaRatio = nullptr;
  QPushButton *idemaSet = nullptr, *idemaRestore = nullptr, *autoDetect = nullptr;

  // "Dram Setting" (never shown)
  QGroupBox* dramGroup = nullptr;

  // "Device Setting"
  QLineEdit *modelNum = nullptr, *firmwareVer = nullptr, *serialNum = nullptr;
  QCheckBox* snInc = nullptr;
  QRadioButton *snDecimal = nullptr, *snHex = nullptr;
  QSpinBox* snMinLength = nullptr;
  QLabel* serialLabel = nullptr;
  QLineEdit *vendorId = nullptr, *productId = nullptr, *vendorName = nullptr, *productName = nullptr,
            *manufStr = nullptr, *prodStr = nullptr;
  QGroupBox *sataGroup = nullptr, *usbGroup = nullptr, *commonGroup = nullptr;
  QGroupBox* encryptionGroup = nullptr;  // GroupBox7
  QLineEdit* encryption = nullptr;
  QPushButton* keyFile = nullptr;
  QLineEdit* decodeNameEdit = nullptr;
  QPushButton* decodeName = nullptr;

  // "F/W Setting"
  QWidget *panel4 = nullptr, *panel5 = nullptr, *panel8 = nullptr;
  QLineEdit *defRatio = nullptr, *resRatio = nullptr, *bch16Rd = nullptr, *bch24Rd = nullptr, *bch16Ecc = nullptr,
            *bch24Ecc = nullptr, *wearLev = nullptr;
  QCheckBox *smart = nullptr, *security = nullptr, *slumber = nullptr, *interleave = nullptr, *scramble = nullptr,
            *remap = nullptr, *paralMem = nullptr, *securityErase = nullptr;

  // "RD"
  QCheckBox *getDefTab = nullptr, *putDefTab = nullptr, *getLaterTab = nullptr, *putLaterTab = nullptr;
  QCheckBox *claimNew = nullptr, *rebuildClose = nullptr;
  QLineEdit *tableIn = nullptr, *tableOut = nullptr, *laterTableIn = nullptr, *laterTableOut = nullptr;

  // Tool bar and profile buttons
  // SpeedButton8, 6, 9: the window moves them into its tool bar and may delete them first.
  QPointer<QToolButton> lockBtn, autoDetectBtn, stopBtn;
  QPushButton *loadIni = nullptr, *saveIni = nullptr;
  QPointer<QLineEdit> iniFile;  // INIFileEdit: the profile Save and START write (the window places it)
};

}  // namespace qk::gui
