// The pages to and from the profile, and the flash and firmware refreshes.
#include "gui/SettingsPagesImpl.h"
#include "config/PageLists.h"
#include "config/StrictNumber.h"
#include "config/TestItemList.h"
#include "platform/ProgramFolder.h"

namespace qk::gui {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }
std::string ss(const QLineEdit* e) { return e->text().toStdString(); }

void setChecked(QAbstractButton* b, std::int32_t v) { b->setChecked(v != 0); }

// The bad-block mode radios: set in order, so a later one wins.
void setBadBlockRadios(QButtonGroup* group, QRadioButton* later, QRadioButton* early, QRadioButton* erase,
                       const ProfileSettings& s) {
  QRadioButton* winner = s.EnEraseReBuildBad ? erase : s.EnEarlyBad ? early : s.EnLaterBad ? later : nullptr;
  group->setExclusive(false);
  for (QRadioButton* r : {later, early, erase}) r->setChecked(r == winner);
  group->setExclusive(true);
}

}  // namespace

bool SettingsPages::pagesToProfile() {
  Impl& d = *d_;
  Station& st = d.station;
  auto& s = st.profile().settings;
  s.ConnectDevNum = d.connect->currentIndex() < 0 ? 0 : d.connect->currentIndex();
  funCheckListBoxClickCheck();

  // Number fields first convert, then store: a malformed one stops the copy with its message.
  auto number = [&](const QLineEdit* e, std::int32_t& field) {
    const std::string text = ss(e);
    const auto v = StrictToInt(text);
    if (!v) {
      st.op().showMessage(NotAnIntegerMessage(text), "Error", MessageIcon::Error);
      return false;
    }
    field = *v;
    return true;
  };

  std::int32_t mask = 0;
  for (std::size_t i = 0; i < d.checkId.size(); ++i)
    if (d.checkId[i]->isChecked()) mask |= 1 << i;
  s.CheckFlashMask = mask;
  s.DownloadType = (d.usbBin->isChecked() ? 2 : 0) | (d.sataBin->isChecked() ? 1 : 0);
  s.SataLBA48 = d.lba48->isChecked() ? 1 : 0;
  s.LEDLightMode = PackLedLightMode(d.lightIdle->currentIndex(), d.lightRead->currentIndex(),
                                    d.lightWrite->currentIndex());
  s.DiskFormat = d.fmtType->currentIndex() < 0 ? 0 : d.fmtType->currentIndex();
  s.DiskLabel = ss(d.volumeLabel);
  s.TestItemEnabled[10] = d.copyImage->isChecked() ? 1 : 0;
  s.CopyImagePath = ss(d.imagePath);
  if (!number(d.maxTemperature, s.CheckMaxTemperatureValue)) return false;
  s.ModelNum = ss(d.modelNum);
  s.FirmwareVer = ss(d.firmwareVer);
  s.setSerialNum(ss(d.serialNum));
  s.SNAutoInc = d.snInc->isChecked() ? 1 : 0;
  s.SNDecimal = d.snDecimal->isChecked() ? 1 : 0;
  s.SNMinLength = d.snMinLength->value();
  s.VendorID = ss(d.vendorId);
  s.ProductID = ss(d.productId);
  s.VendorName = ss(d.vendorName);
  s.ProductName = ss(d.productName);
  s.ManufStr = ss(d.manufStr);
  s.ProdStr = ss(d.prodStr);
  s.EncryptionString = ss(d.encryption);

  const FlashCatalogue& cat = st.profile().catalogue;
  const int vendor = d.flashVendor->currentIndex();
  const int type = d.flashCode->currentIndex();
  if (vendor >= 0 && type >= 0) {
    const int index = cat.firstType(vendor) + type;
    if (index >= 0 && static_cast<std::size_t>(index) < cat.types.size())
      s.FlashUniName = cat.types[static_cast<std::size_t>(index)].uniqueName;
  }
  s.Channel = ChannelAt(d.flashChan->currentIndex() < 0 ? 0 : d.flashChan->currentIndex());
  s.Bank = BankAt(d.flashBank->currentIndex() < 0 ? 0 : d.flashBank->currentIndex());
  s.DrvCurrent = DriveCurrentAt(d.drvCurrent->currentIndex() < 0 ? 0 : d.drvCurrent->currentIndex());
  s.Capacity = d.capacity->currentIndex() < 0 ? 0 : d.capacity->currentIndex();

  if (!number(d.bch16Rd, s.Bch16ReadErrorThreshold) || !number(d.bch24Rd, s.Bch24ReadErrorThreshold) ||
      !number(d.bch16Ecc, s.Bch16EccErrorCopyThreshold) || !number(d.bch24Ecc, s.Bch24EccErrorCopyThreshold))
    return false;
  if (!d.wearLev->text().isEmpty() && !number(d.wearLev, s.WearLevelFrequency)) return false;
  s.ScrambleEnable = d.scramble->isChecked() ? 1 : 0;
  s.RemapEnable = d.remap->isChecked() ? 1 : 0;
  s.KeepPreviouseEraseCount = d.keepEraseCount->isChecked() ? 1 : 0;
  s.EnLaterBad = d.laterChk->isChecked() ? 1 : 0;
  s.EnEarlyBad = d.earlyChk->isChecked() ? 1 : 0;
  s.EnEraseReBuildBad = d.eraseChk->isChecked() ? 1 : 0;
  s.TableIn = ss(d.tableIn);
  s.TableOut = ss(d.tableOut);
  s.LaterTableIn = ss(d.laterTableIn);
  s.LaterTableOut = ss(d.laterTableOut);
  s.IDEMACapacity = d.idemaCapacity->value();
  s.RWTestPercentage = d.rwPercentage->value();
  if (!number(d.lbaCapacity, s.LBACapacity)) return false;
  return true;
}

void SettingsPages::profileToPages() {
  Impl& d = *d_;
  const auto& s = d.station.profile().settings;
  d.refreshing = true;
  {
    QSignalBlocker block(d.list);
    d.list->clear();
    const TestItemList model = TestItemList::FromProfile(s);
    for (const auto& e : model.entries()) {
      auto* item = new QListWidgetItem(qs(e.name), d.list);
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
      item->setCheckState(e.checked ? Qt::Checked : Qt::Unchecked);
    }
  }
  d.updateFirmware->setVisible(false);
  d.usbBin->setVisible(false);
  d.connect->setCurrentIndex(ListIndex(s.ConnectDevNum, d.connect->count()));
  for (std::size_t i = 0; i < d.checkId.size(); ++i) d.checkId[i]->setChecked((s.CheckFlashMask >> i) & 1);
  d.usbBin->setChecked(s.DownloadType & 2);
  d.sataBin->setChecked(s.DownloadType & 1);
  (s.SataLBA48 ? d.lba48 : d.lba28)->setChecked(true);
  d.lightIdle->setCurrentIndex(LedFieldIndex(s.LEDLightMode, 0));
  d.lightRead->setCurrentIndex(LedFieldIndex(s.LEDLightMode, 1));
  d.lightWrite->setCurrentIndex(LedFieldIndex(s.LEDLightMode, 2));
  d.formatGroup->setVisible(s.TestItemEnabled[9] != 0);
  d.fmtType->setCurrentIndex(ListIndex(s.DiskFormat, d.fmtType->count()));
  d.refreshing = false;
  // The label goes through its change handler: an overlong one is cut with the message.
  d.volumeLabel->setText(qs(s.DiskLabel));
  d.refreshing = true;
  setChecked(d.copyImage, s.TestItemEnabled[10]);
  d.imagePath->setText(qs(s.CopyImagePath));
  d.genImage->setVisible(s.EnGenImage != 0);
  d.maxTemperature->setText(QString::number(s.CheckMaxTemperatureValue));
  d.modelNum->setText(qs(s.ModelNum));
  d.firmwareVer->setText(qs(s.FirmwareVer));
  d.serialNum->setText(qs(s.SerialNum));
  setChecked(d.snInc, s.SNAutoInc);
  (s.SNDecimal ? d.snDecimal : d.snHex)->setChecked(true);
  d.snMinLength->setValue(s.SNMinLength);
  d.vendorId->setText(qs(s.VendorID));
  d.productId->setText(qs(s.ProductID));
  d.vendorName->setText(qs(s.VendorName));
  d.productName->setText(qs(s.ProductName));
  d.manufStr->setText(qs(s.ManufStr));
  d.prodStr->setText(qs(s.ProdStr));
  d.encryption->setText(qs(s.EncryptionString));
  for (QWidget* w : {static_cast<QWidget*>(d.encryptionGroup), static_cast<QWidget*>(d.keyFile),
                     static_cast<QWidget*>(d.encryption)})
    w->setVisible(s.EncryptionEnable != 0);

  // Flash page: the selected type decides the vendor and the type index.
  const FlashCatalogue& cat = d.station.profile().catalogue;
  {
    QSignalBlocker b1(d.flashVendor), b2(d.flashCode);
    d.flashVendor->clear();
    for (const auto& v : cat.vendors) d.flashVendor->addItem(qs(v));
    int index = 0;
    for (std::size_t i = 0; i < cat.types.size() && i < static_cast<std::size_t>(kMaxFlashTypes); ++i) {
      if (cat.types[i].uniqueName == s.FlashUniName) {
        index = static_cast<int>(i);
        break;
      }
    }
    const int vendor = cat.vendorOf(index);
    d.flashVendor->setCurrentIndex(vendor);
    d.flashCode->clear();
    if (vendor >= 0) {
      for (int t = cat.firstType(vendor); t < cat.boundaries[static_cast<std::size_t>(vendor)]; ++t)
        d.flashCode->addItem(qs(FlashTypeListText(cat.types[static_cast<std::size_t>(t)])));
      d.flashCode->setCurrentIndex(index - cat.firstType(vendor));
    }
  }
  d.capacity->setCurrentIndex(ListIndex(s.Capacity, d.capacity->count()));
  d.flashChan->setCurrentIndex(ChannelIndex(s.Channel));
  d.flashBank->setCurrentIndex(BankIndex(s.Bank));
  d.drvCurrent->setCurrentIndex(DriveCurrentIndex(s.DrvCurrent));

  d.defRatio->setText(QString::number(s.DefPercentage));
  d.resRatio->setText(QString::number(s.ResPercentage));
  d.bch16Rd->setText(QString::number(s.Bch16ReadErrorThreshold));
  d.bch24Rd->setText(QString::number(s.Bch24ReadErrorThreshold));
  d.bch16Ecc->setText(QString::number(s.Bch16EccErrorCopyThreshold));
  d.bch24Ecc->setText(QString::number(s.Bch24EccErrorCopyThreshold));
  d.wearLev->setText(QString::number(s.WearLevelFrequency));
  setChecked(d.smart, s.SMARTEnable);
  setChecked(d.security, s.SecurityEnable);
  setChecked(d.slumber, s.SlumberEnable);
  setChecked(d.interleave, s.InterleaveEnable);
  setChecked(d.paralMem, s.ParallelMemory);
  setChecked(d.securityErase, s.SecurityErase);
  setChecked(d.scramble, s.ScrambleEnable);
  setChecked(d.remap, s.RemapEnable);
  setChecked(d.keepEraseCount, s.KeepPreviouseEraseCount);
  setChecked(d.skipEraseGood, s.EnSkipEraseGood);
  d.skipEraseGood->setVisible(s.EnSkipEraseGood != 0);
  setBadBlockRadios(d.badBlockGroup, d.laterChk, d.earlyChk, d.eraseChk, s);
  d.tableIn->setText(qs(s.TableIn));
  d.tableOut->setText(qs(s.TableOut));
  d.laterTableIn->setText(qs(s.LaterTableIn));
  d.laterTableOut->setText(qs(s.LaterTableOut));
  d.idemaCapacity->setValue(s.IDEMACapacity);
  d.rwPercentage->setValue(s.RWTestPercentage);
  d.lbaCapacity->setText(QString::number(s.LBACapacity));
  d.prodModal->setText(qs(s.ProductModel));
  d.prodModal->setVisible(s.ProductModel != "QK");
  d.tabs->setTabVisible(d.tabs->indexOf(d.tab5), s.EnableGetPutTable != 0);
  d.refreshing = false;
}

void SettingsPages::refreshFlashSelection() {
  updateFlashList(false);
  flashInfoChange();
}

void SettingsPages::updateFlashList(bool fromVendor) {
  Impl& d = *d_;
  const FlashCatalogue& cat = d.station.profile().catalogue;
  const int remembered = d.flashCode->currentIndex();
  const int vendor = d.flashVendor->currentIndex();
  {
    QSignalBlocker block(d.flashCode);
    d.flashCode->clear();
    if (vendor < 0 || static_cast<std::size_t>(vendor) >= cat.boundaries.size()) {
      d.station.op().showMessage("Please select a valid Flash Vendor!");
      return;
    }
    for (int t = cat.firstType(vendor); t < cat.boundaries[static_cast<std::size_t>(vendor)]; ++t)
      d.flashCode->addItem(qs(FlashTypeListText(cat.types[static_cast<std::size_t>(t)])));
    d.flashCode->setCurrentIndex(fromVendor ? 0 : remembered);
  }
  if (fromVendor) flashInfoChange();
}

void SettingsPages::flashInfoChange() {
  Impl& d = *d_;
  Station& st = d.station;
  if (!pagesToProfile()) return;
  const FlashInfo info = st.flashInfoChange();
  profileToPages();
  Q_EMIT statusText(0, qs(info.statusText));
  const DataFileState& files = st.files();
  const std::string gdp = bareFileName(files.gdpPath.empty() ? std::string(kGdpImageName) : files.gdpPath);
  Q_EMIT statusText(2, qs(gdp + "(" + files.gdpVersion + ") / SataTest (" + files.satatestVersion + ")"));
  QString details;
  for (const auto& line : info.details) details += qs(line) + "\n";
  d.flashDetails->setPlainText(details);
  d.capacityEdit->setText(qs(info.capacity1000));
  d.capacityEdit2->setText(qs(info.capacity1024));
  funCheckListBoxClickCheck();
}

void SettingsPages::binFileChkClick() {
  Impl& d = *d_;
  Station& st = d.station;
  auto& s = st.profile().settings;
  s.DownloadType = (d.usbBin->isChecked() ? 2 : 0) | (d.sataBin->isChecked() ? 1 : 0);
  s.SNMinLength = d.snMinLength->value();
  st.checkFirmwareFiles();
  const FirmwareSelection& f = st.firmware();
  d.snMinLength->setMinimum(f.snMinimum);
  d.snMinLength->setValue(f.snMinLength);
  s.SNMinLength = f.snMinLength;
  d.serialLabel->setText(qs(f.serialLabel));
  d.sataGroup->setVisible(f.sataGroupVisible);
  d.usbGroup->setVisible(f.usbGroupVisible);
  d.commonGroup->setVisible(f.commonGroupVisible);
  Q_EMIT statusText(1, qs(f.statusText));
  Q_EMIT captionChanged(qs(f.caption));
  Q_EMIT filesReady(st.files().ProgramImagesPresent);
}

}  // namespace qk::gui
