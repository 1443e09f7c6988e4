// "Load INI" in the running program: the parameter block and the pages follow
// the new profile, also when its log folder cannot be made.
#include <QTest>

#include "tests/gui/PagesTestSupport.h"

namespace qk::gui {
namespace {

using test::PagesFixture;

// A copy of the sample profile with these keys changed, saved as `name`.
std::string otherProfile(PagesFixture& f, const std::string& name,
                         const std::vector<std::tuple<std::string, std::string, std::string>>& edits) {
  IniFile ini = IniFile::load(f.dir.file("QKMassProd.ini"));
  for (const auto& [s, k, v] : edits) ini.setString(s, k, v);
  const std::string path = f.dir.file(name);
  EXPECT_TRUE(ini.save(path));
  return path;
}

TEST(PagesLoadIni, LoadTimeValuesReachTheParameterBlockAsAtStartUp) {
  PagesFixture f;
  const GlobalParameter before = f.station->globalParameter();
  ASSERT_EQ(before.DumpDebugFile, 0);
  ASSERT_EQ(before.CheckFlashMask, 31);
  f.op.files.push_back(otherProfile(f, "other.ini",
                                    {{"TestItems", "CheckFlashMask", "5"},
                                     {"DeviceSetting", "IDE_UDMA5", "1"},
                                     {"FwSetting", "UsbRemovable", "1"},
                                     {"FwSetting", "UsbLedP14", "1"},
                                     {"FwSetting", "LEDControl", "2"},
                                     {"FwSetting", "InterleaveWay", "3"},
                                     {"RDSetting", "DumpDebugFile", "1"},
                                     {"Setting", "EnSaveDefectTable", "1"}}));
  f.find<QAbstractButton>("INILoadBtn")->click();
  const GlobalParameter& gp = f.station->globalParameter();
  EXPECT_EQ(gp.CheckFlashMask, 5);
  EXPECT_EQ(gp.IdeUdma5, 1);
  EXPECT_EQ(gp.UsbRemovable, 1);
  EXPECT_EQ(gp.OptionBytes[1], 1);
  EXPECT_EQ(gp.LedInterleave, 2 * 16 + 3);
  EXPECT_EQ(gp.DumpDebugFile, 1);
  EXPECT_EQ(gp.EnSaveDefectTable, 1);

  // The Check ID boxes reach the block as soon as the pages are copied.
  f.find<QCheckBox>("CheckID1")->setChecked(false);
  f.find<QCheckBox>("CheckID2")->setChecked(true);
  ASSERT_TRUE(f.pages->pagesToProfile());
  f.station->flashInfoChange();
  EXPECT_EQ(f.station->globalParameter().CheckFlashMask, 0b110);
}

TEST(PagesLoadIni, AFailedLogFolderStillRefreshesThePagesBeforeItIsReported) {
  PagesFixture f;
  f.dir.write("plainfile", "x");
  const std::string other = otherProfile(f, "other.ini",
                                         {{"Setting", "LogPath", f.dir.file("plainfile") + "/log/"},
                                          {"DeviceSetting", "ModelNum", "Loaded Model"}});
  f.op.files.push_back(other);
  f.find<QAbstractButton>("INILoadBtn")->click();
  ASSERT_FALSE(f.op.messages.empty());
  EXPECT_EQ(f.op.messages.back().text, "Cannot create log directory.");
  EXPECT_EQ(f.settings().ModelNum, "Loaded Model");
  EXPECT_EQ(f.find<QLineEdit>("ModelNumEdit")->text(), "Loaded Model");
  // A save now writes the loaded values, not the old page values.
  ASSERT_TRUE(f.pages->pagesToProfile());
  EXPECT_EQ(f.settings().ModelNum, "Loaded Model");
  EXPECT_EQ(f.station->profile().iniFilePath, other);
}

}  // namespace
}  // namespace qk::gui
