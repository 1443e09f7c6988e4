// The dialogs' rules without widgets: the serial-number dialog's keys, lengths
// and result, the work-order check, the detail fields and the error memo.
#include <gtest/gtest.h>

#include "dialogs/DetailFields.h"
#include "dialogs/ErrorReportView.h"
#include "dialogs/TitleInput.h"
#include "dialogs/WorkorderInput.h"
#include "run/FailureReport.h"
#include "sim/SampleData.h"
#include "support/TempDir.h"

using namespace qk;

TEST(TitleInput, ResultOfEachLayout) {
  TitleInput in;
  in.wo = "WO12";
  in.sn = "0042";
  in.part1 = "ABCDEFG";
  in.part3 = "1234567";
  in.autoIncrease = true;
  EXPECT_EQ(TitleOk(1, in).text, "WO120042");
  // An empty middle part leaves no hyphen on either side.
  EXPECT_EQ(TitleOk(2, in).text, "ABCDEFG1234567");
  in.part2 = "HIJK";
  EXPECT_EQ(TitleOk(2, in).text, "ABCDEFG-HIJK-1234567");
  in.part1.clear();
  EXPECT_EQ(TitleOk(2, in).text, "HIJK-1234567");
  EXPECT_EQ(TitleOk(0, in).text, "");
  EXPECT_EQ(TitleOk(3, in).text, "");
  EXPECT_TRUE(TitleOk(3, in).autoIncrease);
  EXPECT_TRUE(TitleOk(3, in).accepted);
}

TEST(TitleInput, KeyFilterAndLengths) {
  for (char c : std::string("09AZ")) EXPECT_EQ(AlphaNumKey(c), c);
  EXPECT_EQ(AlphaNumKey('a'), 'A');
  EXPECT_EQ(AlphaNumKey('z'), 'Z');
  for (char c : std::string("\r\b\t\x1b\x16")) EXPECT_EQ(AlphaNumKey(c), c) << int(c);
  for (char c : std::string(" -_./@`{[~")) EXPECT_FALSE(AlphaNumKey(c)) << c;
  EXPECT_FALSE(AlphaNumKey(static_cast<char>(0xE9)));

  EXPECT_EQ(TitleEditCut("ABCDEFGH", 0), "ABCDEFG");
  EXPECT_EQ(TitleEditCut("ABCDE", 1), "ABCD");
  EXPECT_EQ(TitleEditCut("1234567", 2), "1234567");
  EXPECT_EQ(TitleEditCut("", 1), "");
}

TEST(TitleInput, CancelKeepsTheProfileAndAnEmptyOkKeepsTheSerial) {
  ProfileSettings s;
  s.SerialNum = "SN0001";
  s.SNAutoInc = 1;
  ApplyTitleResult({false, "X", false}, s);
  EXPECT_EQ(s.SerialNum, "SN0001");
  EXPECT_EQ(s.SNAutoInc, 1);
  ApplyTitleResult({true, "", false}, s);
  EXPECT_EQ(s.SerialNum, "SN0001");
  EXPECT_EQ(s.SNAutoInc, 0);
  ApplyTitleResult({true, "ABC-1", true}, s);
  EXPECT_EQ(s.SerialNum, "ABC-1");
  EXPECT_EQ(s.SNAutoInc, 1);
}

TEST(WorkorderInput, AllThreeFieldsAreNeeded) {
  EXPECT_TRUE(WorkorderComplete({"W1", "P1", "1123"}));
  EXPECT_FALSE(WorkorderComplete({"W1", "P1", ""}));
  EXPECT_FALSE(WorkorderComplete({"", "P1", "1123"}));
  EXPECT_FALSE(WorkorderComplete({}));
}

TEST(DetailFields, OrderNamesAndTexts) {
  DeviceDetail d;
  d.answered = true;
  d.model = "M";
  d.serial = "S";
  d.firmware = "F";
  d.capacity = "1024 MB";
  d.fwInfo = "INFO";
  d.vid = "1234";
  d.pid = "5678";
  auto f = DetailFields(d);
  ASSERT_EQ(f.size(), 11u);
  EXPECT_STREQ(f[0].name, "FWInfoEdit");
  EXPECT_STREQ(f[0].label, "F/W Info . ");
  EXPECT_EQ(f[0].text, "INFO");
  EXPECT_EQ(f[1].text, "M");
  EXPECT_EQ(f[2].text, "S");
  EXPECT_EQ(f[3].text, "F");
  EXPECT_EQ(f[4].text, "1024 MB");
  EXPECT_STREQ(f[9].name, "VIDEdit");
  EXPECT_EQ(f[9].text, "1234");
  EXPECT_STREQ(f[10].label, "PID");
  EXPECT_EQ(f[10].text, "5678");
}

TEST(ErrorMemo, OneLinePerReportLine) {
  EXPECT_EQ(ErrorMemoText({}), "");
  EXPECT_EQ(ErrorMemoText({"Timeout"}), "Timeout");
  // Lines that bring their own line end add no empty line.
  EXPECT_EQ(ErrorMemoText({"The Later Bad Counts are too large", "Read fail count is (40)\n",
                           "Program fail count is (20)\n", ""}),
            "The Later Bad Counts are too large\nRead fail count is (40)\nProgram fail count is (20)\n");

  // A flash interface report as the dialog shows it: heading, empty line, entries.
  std::vector<std::uint8_t> record(kDetailSize, 0);
  record[4] = 1;  // Ch#01, Bank#00: ReadFlashID fail
  record[6] = 2;
  record[8] = 0xFF;
  ReportFlash flash;
  flash.channel = 4;
  const std::string text = ErrorMemoText(ErrorDialogLines(3, record, flash));
  EXPECT_EQ(text.rfind("Flash Interface Test Fail\n\nReadFlashID fail. Ch#01, Bank#00", 0), 0u) << text;
}

TEST(BoardPhotos, SampleDataBringsBothAndAMissingOneIsEmpty) {
  test::TempDir dir;
  EXPECT_FALSE(LoadBoardPhoto(dir.path(), kBoardFrontPhoto));
  ASSERT_TRUE(WriteSampleData(dir.path()));
  auto front = LoadBoardPhoto(dir.path(), kBoardFrontPhoto);
  auto back = LoadBoardPhoto(dir.path(), kBoardBackPhoto);
  ASSERT_TRUE(front);
  ASSERT_TRUE(back);
  EXPECT_EQ(front->width, SampleBoardPhoto(true).width);
  EXPECT_EQ(back->height, SampleBoardPhoto(false).height);
  EXPECT_NE(front->rgb, back->rgb);
  // A file of that name that is no JPEG leaves the image empty too.
  dir.write(kBoardBackPhoto, "not a picture");
  EXPECT_FALSE(LoadBoardPhoto(dir.path(), kBoardBackPhoto));
}
