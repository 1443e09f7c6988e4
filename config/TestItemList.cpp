#include "config/TestItemList.h"

#include <algorithm>

#include "config/PageLists.h"

namespace qk {

TestItemList TestItemList::FromProfile(const ProfileSettings& s) {
  TestItemList list;
  for (const char* name : {"Flash Module Test", "Bus Interface Test", "Flash Interface Test", "Preformat", "Download",
                           "R/W Test", "Check Tables"}) {
    list.entries_.push_back({name, false});
  }
  if (s.TestItemEnabled[9]) list.entries_.push_back({"Disk Format", false});
  if (s.TestItemEnabled[11]) list.entries_.push_back({"Check Temperature", false});
  list.entries_.push_back({kTestItemNames[24], false});  // chosen here, so always listed
  for (auto& e : list.entries_) {
    for (int n = 1; n <= kTestItemCount; ++n) {
      if (e.name == kTestItemNames[static_cast<std::size_t>(n)]) e.checked = s.TestItemEnabled[static_cast<std::size_t>(n)] != 0;
    }
  }
  return list;
}

void TestItemList::applyTo(ProfileSettings& s) {
  for (auto& e : entries_) {
    for (int n = 1; n <= kTestItemCount; ++n) {
      if (e.name != kTestItemNames[static_cast<std::size_t>(n)]) continue;
      if (n == 6) e.checked = e.checked || s.TestItemEnabled[5] == 1;  // Preformat implies Download
      s.TestItemEnabled[static_cast<std::size_t>(n)] = e.checked ? 1 : 0;
    }
  }
}

void TestItemList::applyMask(int mask) {
  // The probe is not one of the mask's entries: it keeps its mark.
  for (std::size_t k = 0; k < entries_.size(); ++k) {
    if (entries_[k].name != kTestItemNames[24]) entries_[k].checked = k < 8 && ((mask >> k) & 1) != 0;
  }
}

std::vector<std::string> TestItemList::texts() const {
  std::vector<std::string> out;
  for (const auto& e : entries_) out.push_back(e.name);
  return out;
}

int TestItemList::checkedCount() const {
  return static_cast<int>(std::count_if(entries_.begin(), entries_.end(), [](const auto& e) { return e.checked; }));
}

namespace {

void cut(std::string& text, std::size_t max) {
  if (text.size() > max) text.resize(max);
}

std::int32_t inList(std::int32_t v, std::int32_t lo, std::int32_t hi, std::int32_t first) {
  return v >= lo && v <= hi ? v : first;
}

}  // namespace

void ApplyPagesRoundTrip(ProfileSettings& s, Operator* op) {
  TestItemList list = TestItemList::FromProfile(s);
  list.applyTo(s);
  s.TestItemEnabled[10] = s.TestItemEnabled[10] ? 1 : 0;
  s.CheckFlashMask &= 0x1F;
  s.DownloadType &= 0x3;
  // The LED boxes show one choice per field; what they show is packed back.
  s.LEDLightMode = PackLedLightMode(LedFieldIndex(s.LEDLightMode, 0), LedFieldIndex(s.LEDLightMode, 1),
                                    LedFieldIndex(s.LEDLightMode, 2));
  // The spin boxes hold a value inside their range.
  s.IDEMACapacity = std::clamp<std::int32_t>(s.IDEMACapacity, kIdemaCapacityMin, kIdemaCapacityMax);
  s.RWTestPercentage = std::clamp<std::int32_t>(s.RWTestPercentage, kRwPercentageMin, kRwPercentageMax);
  s.SataLBA48 = s.SataLBA48 ? 1 : 0;
  s.DiskFormat = 0;
  s.SNAutoInc = s.SNAutoInc ? 1 : 0;
  s.SNDecimal = s.SNDecimal ? 1 : 0;
  const std::int32_t snMin = (s.DownloadType & 2) ? 12 : 1;
  s.SNMinLength = std::clamp<std::int32_t>(s.SNMinLength, snMin, 20);
  s.ScrambleEnable = s.ScrambleEnable ? 1 : 0;
  s.RemapEnable = s.RemapEnable ? 1 : 0;
  s.KeepPreviouseEraseCount = s.KeepPreviouseEraseCount ? 1 : 0;
  // The flash lists: a value not in its list selects the first entry.
  s.Channel = inList(s.Channel, 1, 4, 1);
  s.Bank = inList(s.Bank, 1, 8, 1);
  s.DrvCurrent = inList(s.DrvCurrent, 0, 7, 0);
  s.Capacity = inList(s.Capacity, 0, 10, 0);
  // The bad-block mode radio: "Erase Search" wins over "Factory Default BB", which wins over "Factory + New BB".
  if (s.EnEraseReBuildBad) {
    s.EnLaterBad = 0, s.EnEarlyBad = 0, s.EnEraseReBuildBad = 1;
  } else if (s.EnEarlyBad) {
    s.EnLaterBad = 0, s.EnEarlyBad = 1;
  } else {
    s.EnLaterBad = 1;
  }
  // The edits cut what is longer than they take.
  cut(s.VendorID, 4);
  cut(s.ProductID, 4);
  cut(s.ModelNum, 40);
  cut(s.FirmwareVer, 8);
  std::string serial = s.SerialNum;
  cut(serial, 20);
  s.setSerialNum(serial);
  cut(s.ManufStr, 16);
  cut(s.VendorName, 16);
  cut(s.ProdStr, 24);
  if (s.DiskLabel.size() > 11) {
    s.DiskLabel.resize(11);
    if (op) op->showMessage("FAT32 only support Volume label 11 characters!", "Message");
  }
}

}  // namespace qk
