#include "config/DataFiles.h"

#include <gtest/gtest.h>

#include "config/FirmwareNameDecoder.h"
#include "config/KeyFile.h"
#include "sim/SampleData.h"
#include "support/RecordingOperator.h"
#include "support/TempDir.h"

using namespace qk;
using qk::test::RecordingOperator;
using qk::test::TempDir;

namespace {

// A firmware image of `size` bytes with `version` at 774 and `family` at 809, sealed.
std::string firmware(size_t size, const std::string& version = "100205", const std::string& family = "21") {
  std::string image(size, '\x11');
  for (size_t i = 0; i < size; ++i) image[i] = static_cast<char>(i * 7);
  if (size >= 781) image.replace(774, 7, version + std::string(7 - version.size(), '\0'));
  if (size >= 811) image.replace(809, 2, family);
  SealFirmwareImage(image);
  return image;
}

std::string programImage(const std::string& version) {
  std::string image(2048, 'p');
  image.replace(772, 6, version + std::string(6 - version.size(), '\0'));
  return image;
}

}  // namespace

TEST(FirmwareIntegrity, OnlyTheSealedImagePassesAndEverySingleByteChangeIsCaught) {
  std::string image = firmware(1024);
  ASSERT_TRUE(FirmwareImageIntact(image));
  for (size_t i = 0; i < image.size(); ++i) {
    if (i == image.size() - 2) continue;
    std::string bad = image;
    bad[i] = static_cast<char>(bad[i] + 1 + static_cast<int>(i % 200));
    EXPECT_FALSE(FirmwareImageIntact(bad)) << "byte " << i;
  }
  std::string noMarker = image;
  noMarker[noMarker.size() - 2] = '\xA4';
  EXPECT_FALSE(FirmwareImageIntact(noMarker));
}

TEST(FirmwareIntegrity, TinyImagesNeverReadOutOfRange) {
  EXPECT_FALSE(FirmwareImageIntact(""));
  EXPECT_FALSE(FirmwareImageIntact("\xA5"));
  EXPECT_TRUE(FirmwareImageIntact(std::string("\xA5\x00", 2)));
  EXPECT_TRUE(FirmwareImageIntact(std::string("\x01\xA5\xFF", 3)));
  EXPECT_EQ(ExtractText("short", 774, 6), "");
  EXPECT_EQ(ExtractText(std::string(776, 'a') + "bc", 774, 6), "aabc");
  EXPECT_EQ(ExtractText(std::string(774, 'a') + std::string("12\0" "45", 5), 774, 6), "12");
}

TEST(ProgramImages, VersionsPathsAndMissingFiles) {
  TempDir dir;
  dir.write("GDP.bin", programImage("101007"));
  dir.write("satatest.bin", programImage("100903"));
  RecordingOperator op;
  DataFileState st;
  EXPECT_TRUE(CheckProgramImages(ProgramFolder(dir.path()), op, st));
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(st.gdpPath, dir.file("GDP.bin"));
  EXPECT_EQ(st.satatestPath, dir.file("satatest.bin"));
  EXPECT_EQ(st.gdpVersion, "101007");
  EXPECT_EQ(st.satatestVersion, "100903");
  EXPECT_TRUE(st.ProgramImagesPresent);

  std::remove(dir.file("GDP.bin").c_str());
  EXPECT_FALSE(CheckProgramImages(ProgramFolder(dir.path()), op, st));
  EXPECT_EQ(op.texts(), (std::vector<std::string>{"<WARNING> Can't find file : " + dir.file("GDP.bin")}));
  EXPECT_EQ(st.gdpVersion, "");
  EXPECT_EQ(st.satatestVersion, "100903");
  EXPECT_FALSE(st.ProgramImagesPresent);

  // Once cleared the flag stays cleared until a restart.
  dir.write("GDP.bin", programImage("101007"));
  EXPECT_TRUE(CheckProgramImages(ProgramFolder(dir.path()), op, st));
  EXPECT_FALSE(st.ProgramImagesPresent);
}

TEST(ProgramImages, EmptyVersionIsCorruptButNotMissing) {
  TempDir dir;
  dir.write("GDP.bin", programImage(""));
  dir.write("satatest.bin", "too short for a version");
  RecordingOperator op;
  DataFileState st;
  EXPECT_FALSE(CheckProgramImages(ProgramFolder(dir.path()), op, st));
  EXPECT_EQ(op.texts(), (std::vector<std::string>{"The GDP.bin is a corrupt file, please check it.",
                                                  "The satatest.bin is a corrupt file, please check it."}));
  EXPECT_TRUE(st.ProgramImagesPresent);  // the station still starts
}

class FirmwareSelectionTest : public ::testing::Test {
 protected:
  FirmwareSelection select(const FirmwareChoice& choice) {
    return SelectFirmware(ProgramFolder(dir.path()), choice, op, st);
  }
  TempDir dir;
  RecordingOperator op;
  DataFileState st;
};

TEST_F(FirmwareSelectionTest, SataImageWithVersionShowsNameAndVersion) {
  dir.write("SYS_S.bin", firmware(4096, "100205", "21"));
  FirmwareChoice c;
  c.snMinLength = 8;
  auto sel = select(c);
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(sel.statusText, "SYS_S.bin (100205)");
  EXPECT_EQ(st.sataVersion, "100205");
  EXPECT_EQ(st.familyText, "21");
  EXPECT_EQ(sel.sata.path, dir.file("SYS_S.bin"));
  EXPECT_FALSE(sel.usb.selected);
  EXPECT_EQ(sel.snMinimum, 1);
  EXPECT_EQ(sel.snMinLength, 8);
  EXPECT_EQ(sel.serialLabel, "Serial Number (20) ");
  EXPECT_TRUE(sel.sataGroupVisible);
  EXPECT_FALSE(sel.usbGroupVisible);
  EXPECT_TRUE(sel.commonGroupVisible);
  EXPECT_EQ(sel.caption, "Talvery 205 SATA M.P. Tool A.1.0.8 S/U ");
}

TEST_F(FirmwareSelectionTest, UsbImageRaisesSerialLengthAndFamilyComesFromTheLastImageRead) {
  dir.write("SYS_S.bin", firmware(4096, "100205", "21"));
  dir.write("SYS_U.bin", firmware(8192, "100300", "20"));
  FirmwareChoice c;
  c.usbChecked = true;
  c.snMinLength = 8;
  c.busWord = "USB";
  auto sel = select(c);
  EXPECT_EQ(sel.statusText, "SYS_S.bin (100205) / SYS_U.bin (100300)");
  EXPECT_EQ(st.usbVersion, "100300");
  EXPECT_EQ(st.familyText, "20");
  EXPECT_EQ(sel.snMinimum, 12);
  EXPECT_EQ(sel.snMinLength, 12);
  EXPECT_EQ(sel.serialLabel, "Serial Number (12-20) ");
  EXPECT_TRUE(sel.usbGroupVisible);
  EXPECT_EQ(sel.caption, "Talvery 205 USB M.P. Tool A.1.0.8 S/U ");

  c.snMinLength = 16;  // above the minimum: kept
  EXPECT_EQ(select(c).snMinLength, 16);
}

TEST_F(FirmwareSelectionTest, MissingImagesAreListedByNameAndVersionsCleared) {
  dir.write("SYS_S.bin", firmware(4096, "100205", "21"));
  FirmwareChoice c;
  select(c);
  std::remove(dir.file("SYS_S.bin").c_str());
  c.usbChecked = true;
  auto sel = select(c);
  EXPECT_EQ(sel.statusText, "SYS_S.bin / SYS_U.bin");
  EXPECT_EQ(st.sataVersion, "");
  EXPECT_EQ(st.familyText, "21");  // kept from the last image read
  EXPECT_FALSE(sel.sata.present);
  EXPECT_TRUE(op.messages.empty());

  c.sataChecked = c.usbChecked = false;
  sel = select(c);
  EXPECT_EQ(sel.statusText, "");
  EXPECT_FALSE(sel.commonGroupVisible);
}

TEST_F(FirmwareSelectionTest, CorruptImageIsReportedUnlessInSpecialMode) {
  std::string image = firmware(4096);
  image[100] ^= 0x40;
  dir.write("SYS_S.bin", image);
  FirmwareChoice c;
  auto sel = select(c);
  EXPECT_EQ(op.texts(), (std::vector<std::string>{"The " + dir.file("SYS_S.bin") +
                                                  " is a corrupt file, please check it."}));
  EXPECT_TRUE(sel.sata.corrupt);
  EXPECT_EQ(sel.statusText, "SYS_S.bin (100205)");  // the selection stays
  EXPECT_EQ(st.familyText, "21");

  op.messages.clear();
  c.specialMode = true;
  sel = select(c);
  EXPECT_TRUE(op.messages.empty());
  EXPECT_FALSE(sel.sata.corrupt);
}

TEST_F(FirmwareSelectionTest, ShortImagesAreCorruptWithoutVersion) {
  dir.write("SYS_S.bin", std::string(1, '\xA5'));
  dir.write("SYS_U.bin", firmware(800));  // version fits, family does not
  FirmwareChoice c;
  c.usbChecked = true;
  auto sel = select(c);
  EXPECT_TRUE(sel.sata.corrupt);
  EXPECT_FALSE(sel.usb.corrupt);
  EXPECT_EQ(st.sataVersion, "");
  EXPECT_EQ(st.usbVersion, "100205");
  EXPECT_EQ(st.familyText, "");
  EXPECT_EQ(sel.statusText, "SYS_U.bin (100205)");  // present without a version: not listed
}

TEST(FirmwareNames, UsbNameReplacesTheFifthCharacter) {
  EXPECT_EQ(UsbImageName("SYS_S.bin"), "SYS_U.bin");
  EXPECT_EQ(UsbImageName("SYS_SIAA.bin"), "SYS_UIAA.bin");
  EXPECT_EQ(UsbImageName("ABC"), "ABC");
}

TEST(KeyFile, BlockCarriesFillerAndTheEncryptionString) {
  std::uint8_t next = 0;
  ByteSource counter = [&next] { return next++; };
  KeyBlock b = BuildKeyBlock("Pelvane", counter);
  // Filler: r = i, so byte i = (2i) ^ 0xFF.
  EXPECT_EQ(b[0], 0xFF);
  EXPECT_EQ(b[1], static_cast<std::uint8_t>(2 ^ 0xFF));
  EXPECT_EQ(b[127], static_cast<std::uint8_t>(254 ^ 0xFF));
  EXPECT_EQ(b[21], static_cast<std::uint8_t>(42 ^ 0xFF));  // odd positions keep the filler
  const std::string s = "Pelvane";
  for (size_t p = 0; p < 24; ++p) {
    std::uint8_t c = p < s.size() ? static_cast<std::uint8_t>(s[p]) : 0;
    EXPECT_EQ(b[20 + 2 * p], static_cast<std::uint8_t>((c + p) ^ 0xFF)) << p;
  }
  EXPECT_EQ(b[68], static_cast<std::uint8_t>(68 * 2 ^ 0xFF));  // past the string area

  // Characters beyond the 24th leave no trace; sums wrap modulo 256.
  KeyBlock longer = BuildKeyBlock(std::string(24, '\xFF') + "XYZ", [] { return std::uint8_t{0xF0}; });
  EXPECT_EQ(longer[20 + 2 * 23], static_cast<std::uint8_t>(((0xFF + 23) & 0xFF) ^ 0xFF));
  EXPECT_EQ(longer[68], static_cast<std::uint8_t>(((0xF0 + 68) & 0xFF) ^ 0xFF));
}

TEST(KeyFile, WrittenIntoTheProgramFolderAndReported) {
  TempDir dir;
  RecordingOperator op;
  dir.write("KeyFile.dat", "old contents that are longer than the new block would be..." + std::string(200, 'x'));
  ASSERT_TRUE(GenerateKeyFile(ProgramFolder(dir.path()), "abc", [] { return std::uint8_t{7}; }, op));
  std::string data = dir.read("KeyFile.dat");
  KeyBlock expected = BuildKeyBlock("abc", [] { return std::uint8_t{7}; });
  EXPECT_EQ(data, std::string(expected.begin(), expected.end()));
  EXPECT_EQ(op.texts(),
            (std::vector<std::string>{"Generate the key file (" + dir.file("KeyFile.dat") + ") successfully"}));
}

TEST(KeyFile, UnwritableFileIsNotReported) {
  TempDir dir;
  RecordingOperator op;
  EXPECT_FALSE(GenerateKeyFile(ProgramFolder(dir.file("no-such-folder")), "abc", RandomByteSource(), op));
  dir.write("KeyFile.dat/inside", "a folder where the file should go");
  EXPECT_FALSE(GenerateKeyFile(ProgramFolder(dir.path()), "abc", RandomByteSource(), op));
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(dir.read("KeyFile.dat/inside"), "a folder where the file should go");
}

TEST(DecodeName, DefaultNameGivesTheExactText) {
  EXPECT_EQ(DecodeFirmwareName(kDefaultDecodeName),
            "Block Unit:1024\n"
            "Block Page:128\n"
            "Page Size: 4K\n"
            "Die: 1\n"
            "Dieoffset?: 0\n"
            "Channel:   8\n"
            "Bank:      1\n");
}

TEST(DecodeName, CodesFromTheSeventhAndEighthCharacter) {
  EXPECT_EQ(DecodeFirmwareName("SYS_SUP"), "Block Unit:2048\nBlock Page:128\nPage Size: 8K\nDie: 2\nDieoffset?: 1\n");
  EXPECT_EQ(DecodeFirmwareName("SYS_SHZD.bin"), "Channel:   8\nBank:      8\n");  // Z is no geometry code
  EXPECT_EQ(DecodeFirmwareName("SYS_SIia.bin"), "");                          // codes are upper case
  EXPECT_EQ(DecodeFirmwareName(""), "");
  EXPECT_EQ(DecodeFirmwareName("SYS"), "");
}
