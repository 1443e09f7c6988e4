// The firmware download on the simulated drive, read back through the loader
// header, and the drive booting what was written.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "BenchRig.h"
#include "protocol/DeviceDetail.h"
#include "protocol/FirmwareDownload.h"
#include "protocol/FlashTables.h"
#include "protocol/LoaderHeader.h"
#include "protocol/TableFile.h"

using namespace qk;
using qk::test::BenchRig;

namespace {

class Download : public ::testing::TestWithParam<const char*> {
 protected:
  bool usb() const { return std::string(GetParam()) == test::kUsbToken; }
};

// Blank drive -> preformatted -> system blocks known -> the run's firmware files chosen.
void prepare(BenchRig& rig, std::vector<std::string> files) {
  ASSERT_TRUE(rig.steps->Preformat(rig.work(), {false, false, false}));
  ASSERT_TRUE(rig.steps->FindSystemBlocks(rig.work()));
  rig.ctx.params.TableFiles.clear();
  for (auto& f : files) rig.ctx.params.TableFiles.push_back(rig.dir.file(f));
  rig.ctx.params.TableFileSizesKiB.assign(files.size(), kSampleFirmwareSize / 1024);
}

bool exists(BenchRig& rig, const std::string& name) { return std::filesystem::exists(rig.dir.file(name)); }

}  // namespace

TEST_P(Download, ReadLoaderHeaderGivesBackWhatWentIn) {
  BenchRig rig(GetParam());
  ASSERT_TRUE(rig.ops);
  GlobalParameter& gp = rig.ctx.params;
  gp.Bch16ReadThreshold = 11, gp.Bch24ReadThreshold = 24;
  gp.Bch16EccCopyThreshold = 12, gp.Bch24EccCopyThreshold = 25;
  gp.WearLevelFrequency = 33;
  gp.ReservedRatio = 0x123;
  ASSERT_NO_FATAL_FAILURE(prepare(rig, {usb() ? "SYS_U.bin" : "SYS_S.bin"}));
  ASSERT_TRUE(DownloadFirmware(*rig.ops, rig.work(), "SN0001", "", 21));
  const GlobalParameter want = gp;
  const SystemBlockList blocks = rig.ctx.loader.systemBlocks;

  // Forget what the station knew; the drive's header must bring it back.
  gp.FlashIdWord = 0, gp.Channel = 0, gp.Bank = 0, gp.CECount = 0, gp.EccMode = 0, gp.ReservedRatio = 0;
  gp.Bch16ReadThreshold = gp.Bch24ReadThreshold = gp.Bch16EccCopyThreshold = gp.Bch24EccCopyThreshold = 0;
  gp.WearLevelFrequency = 0;
  gp.geometry = FlashGeometry{};
  gp.geometry.PageSectors = want.geometry.PageSectors;
  rig.ctx.loader = PortLoaderState{};
  // Back to the boot ROM: the download leaves the general-purpose program running.
  ASSERT_TRUE(rig.ops->RestartController(0, 0));
  ASSERT_TRUE(ReadLoaderHeader(*rig.ops, rig.work(), !usb()));
  EXPECT_EQ(gp.FlashIdWord, want.FlashIdWord);
  EXPECT_EQ(gp.Channel, want.Channel);
  EXPECT_EQ(gp.Bank, want.Bank);
  EXPECT_EQ(gp.CECount, want.CECount);
  EXPECT_EQ(gp.EccMode, want.EccMode);
  EXPECT_EQ(gp.ReservedRatio, want.ReservedRatio);
  EXPECT_EQ(gp.geometry.TotalBlock, want.geometry.TotalBlock);
  EXPECT_EQ(gp.geometry.BlockPage, want.geometry.BlockPage);
  EXPECT_EQ(gp.geometry.Die, want.geometry.Die);
  EXPECT_EQ(gp.geometry.CEMap, want.geometry.CEMap);
  EXPECT_EQ(gp.Bch16ReadThreshold, want.EccMode == 2 ? 0 : 11);
  EXPECT_EQ(gp.Bch24ReadThreshold, want.EccMode == 2 ? 24 : 0);
  EXPECT_EQ(gp.Bch24EccCopyThreshold, want.EccMode == 2 ? 25 : 0);
  EXPECT_EQ(gp.WearLevelFrequency, 33);
  EXPECT_EQ(rig.ctx.loader.systemBlocks.count, blocks.count);
  EXPECT_EQ(rig.ctx.loader.systemBlocks.blocks, blocks.blocks);
  EXPECT_EQ(rig.ctx.loader.firmware.count, 1);
  EXPECT_EQ(rig.ctx.loader.firmware.firstPage[0], 8);
  EXPECT_EQ(rig.ctx.loader.firmware.pageCount[0], kSampleFirmwareSize / rig.ops->pageBytes());
  // The identity page of the path's firmware file is left in the buffer.
  EXPECT_EQ(std::memcmp(rig.work() + 0x300, "QKSSD", 5), 0);
  EXPECT_EQ(rig.work()[0x30D], usb() ? 'U' : 'S');
}

TEST_P(Download, BootedDriveShowsTheDownloadedIdentity) {
  BenchRig rig(GetParam());
  ASSERT_TRUE(rig.ops);
  GlobalParameter& gp = rig.ctx.params;
  gp.ModelNumber = "QK Test Model";
  gp.FirmwareRevision = "REV0042";
  gp.InquiryVendor = "QKVEND";
  gp.InquiryProduct = "QK PRODUCT";
  gp.UsbManufacturer = "QK Maker";
  gp.UsbProduct = "QK Stick";
  gp.UsbVendorId = 0xABCD;
  gp.UsbProductId = 0x0123;
  ASSERT_NO_FATAL_FAILURE(prepare(rig, {"SYS_S.bin", "SYS_U.bin"}));
  ASSERT_TRUE(DownloadFirmware(*rig.ops, rig.work(), "SER123456789", "", 21));
  EXPECT_EQ(rig.ctx.loader.firmware.count, 2);
  EXPECT_EQ(rig.ctx.loader.firmware.firstPage[1], 8 + rig.ctx.loader.firmware.pageCount[0]);

  ASSERT_TRUE(rig.ops->IsLoaderMode());
  rig.ops->LeaveLoaderMode(rig.work());
  EXPECT_FALSE(rig.ops->IsLoaderMode());
  auto id = ReadUsbIdentityRecord(*rig.ops, rig.work());
  ASSERT_TRUE(id);
  EXPECT_EQ(id->serial, "SER123456789");
  EXPECT_EQ(id->vendor.substr(0, 6), "QKVEND");
  EXPECT_EQ(id->product.substr(0, 10), "QK PRODUCT");
  EXPECT_EQ(id->manufacturer, "QK Maker");
  EXPECT_EQ(id->productString, "QK Stick");
  EXPECT_EQ(id->vid, 0xABCD);
  EXPECT_EQ(id->pid, 0x0123);

  DeviceDetail d = ReadDeviceDetail(*rig.ops, rig.work());
  EXPECT_TRUE(d.answered);
  EXPECT_FALSE(d.loaderMode);
  EXPECT_NE(d.capacityMB, 0u);
  EXPECT_EQ(d.capacity, std::to_string(d.capacityMB) + " MB");
  EXPECT_EQ(d.fwInfo.substr(0, 5), "QKSSD");
  if (usb()) {
    EXPECT_EQ(d.serial, "SER123456789");
    EXPECT_EQ(d.vid, "ABCD");
    EXPECT_EQ(d.pid, "0123");
    EXPECT_EQ(d.manufacturerString, "QK Maker");
    EXPECT_TRUE(d.model.empty());
  } else {
    std::string serial, model;
    ASSERT_TRUE(rig.ops->ReadIdentityStrings(serial, model));
    EXPECT_EQ(serial.substr(0, 12), "SER123456789");
    EXPECT_EQ(model.substr(0, 13), "QK Test Model");
    EXPECT_EQ(d.model.substr(0, 13), "QK Test Model");
    EXPECT_EQ(d.firmware.substr(0, 7), "REV0042");
    EXPECT_EQ(d.serial.substr(0, 12), "SER123456789");
  }

  // The tables the download wrote back pass the check, and the counts are clean.
  std::array<std::uint8_t, kBadBlockRowBytes> rows{};
  std::array<std::uint32_t, 5> totals{};
  EXPECT_TRUE(CheckTables(*rig.ops, rig.work()));
  rig.ops->LeaveLoaderMode(rig.work());
  EXPECT_TRUE(CountBadBlocks(*rig.ops, rig.work(), rows, totals));
  EXPECT_EQ(totals, (std::array<std::uint32_t, 5>{}));
}

TEST_P(Download, DriveInLoaderModeShowsNoLoaderArea) {
  BenchRig rig(GetParam());
  ASSERT_TRUE(rig.ops);
  DeviceDetail d = ReadDeviceDetail(*rig.ops, rig.work());
  EXPECT_TRUE(d.answered);
  EXPECT_TRUE(d.loaderMode);
  EXPECT_TRUE(d.fwInfo.empty());
  EXPECT_TRUE(d.vid.empty());
  if (!usb()) {
    EXPECT_EQ(d.model.substr(0, 22), "Generic FCR SATA Loade");
  }
}

TEST_P(Download, FirmwareThatDoesNotFitABlockWritesNothing) {
  BenchRig rig(GetParam());
  ASSERT_TRUE(rig.ops);
  ASSERT_NO_FATAL_FAILURE(prepare(rig, {"SYS_S.bin", "SYS_U.bin"}));
  // 8 + 2 x 16 pages fit in 64; pretend the files are larger (8 + 2 x 50).
  rig.ctx.params.TableFileSizesKiB = {200, 200};
  const std::size_t traced = rig.dir.read("trace.txt").size();
  EXPECT_FALSE(DownloadFirmware(*rig.ops, rig.work(), "SN", "", 21));
  EXPECT_EQ(rig.dir.read("trace.txt").size(), traced);
}

INSTANTIATE_TEST_SUITE_P(BothPaths, Download, ::testing::Values(test::kUsbToken, test::kBridgeToken));

TEST_P(Download, HeaderOnAnOddBlockIsFound) {
  // Block 0 is bad, so the loader area sits on blocks 1..4.
  BenchRig rig(GetParam(), "FactoryBad=0:0:0\n");
  ASSERT_TRUE(rig.ops);
  ASSERT_NO_FATAL_FAILURE(prepare(rig, {usb() ? "SYS_U.bin" : "SYS_S.bin"}));
  EXPECT_EQ(rig.ctx.loader.systemBlocks.blocks[0], 1);
  ASSERT_TRUE(DownloadFirmware(*rig.ops, rig.work(), "SN0001", "", 21));
  ASSERT_TRUE(rig.ops->RestartController(0, 0));
  rig.ctx.loader = PortLoaderState{};
  ASSERT_TRUE(ReadLoaderHeader(*rig.ops, rig.work(), !usb()));
  EXPECT_EQ(rig.ctx.loader.systemBlocks.blocks[0], 1);
  EXPECT_EQ(rig.ctx.loader.firmware.count, 1);
}

TEST_P(Download, SystemAreaValuesAndTheSealedLastPage) {
  BenchRig rig(GetParam());
  ASSERT_TRUE(rig.ops);
  ASSERT_EQ(rig.ctx.params.FeatureBytes[5], 0);  // no remap: the SYSP page is page 3
  ASSERT_NO_FATAL_FAILURE(prepare(rig, {"SYS_S.bin"}));
  rig.ctx.params.DumpDebugFile = 1;
  ASSERT_TRUE(DownloadFirmware(*rig.ops, rig.work(), "SN0001", "", 21));
  const PortLoaderState& port = rig.ctx.loader;
  EXPECT_GE(port.syspA, 2);
  EXPECT_EQ(port.syspAPlus1, port.syspA + 1);
  EXPECT_EQ(port.syspBPlus1, port.syspB + 1);  // two banks: B is kept
  EXPECT_EQ(port.laterBadCount, 0u);          // page 2 ends at its first entry
  // Pages read and written: 1, 2 and the SYSP page 3; never a page 4.
  EXPECT_TRUE(exists(rig, "10_TP03.raw"));
  EXPECT_FALSE(exists(rig, "10_TP04.raw"));
  EXPECT_TRUE(exists(rig, "10_WT03.raw"));
  EXPECT_EQ(rig.dir.read("01_CP.raw").size(), 4u * 64 * 1024);
  // The read-back: the file is an exact page multiple, so its last page
  // carries the seal in place of file data.
  char name[32];
  std::snprintf(name, sizeof name, "UP00%2.2X00.raw", port.systemBlocks.blocks[0]);
  const std::string up = rig.dir.read(name);
  ASSERT_EQ(up.size(), kSampleFirmwareSize);
  EXPECT_EQ(up.substr(up.size() - 4), std::string("\x55\xAA\xEC\x31", 4));
  EXPECT_EQ(up.substr(0x300, 5), "QKSSD");
}

TEST_P(Download, SignatureFailuresLeaveTheirRecord) {
  {  // A blank drive has no factory table.
    BenchRig rig(GetParam());
    ASSERT_TRUE(rig.ops);
    ASSERT_TRUE(rig.steps->FindSystemBlocks(rig.work()));
    rig.ctx.params.TableFiles = {rig.dir.file("SYS_S.bin")};
    const std::size_t traced = rig.dir.read("trace.txt").size();
    EXPECT_FALSE(DownloadFirmware(*rig.ops, rig.work(), "SN", "", 21));
    EXPECT_EQ(rig.work()[0], kDownloadPage1Bad);
    EXPECT_EQ(rig.work()[1], 0);
    EXPECT_EQ(rig.work()[2], 0xFF);  // the erased page follows
    // Nothing was written: no page write (8A) after the failure.
    const std::string after = rig.dir.read("trace.txt").substr(traced);
    EXPECT_EQ(after.find("FF 04 8A"), std::string::npos);
    EXPECT_EQ(after.find("FF E5 8A"), std::string::npos);
    EXPECT_NE(after.find(usb() ? "FF 04 89" : "FF E5 89"), std::string::npos);  // it did read
  }
  {  // A remap page was expected but preformat wrote none.
    BenchRig rig(GetParam());
    ASSERT_TRUE(rig.ops);
    ASSERT_NO_FATAL_FAILURE(prepare(rig, {"SYS_S.bin"}));
    rig.ctx.params.FeatureBytes[5] = 1;
    EXPECT_FALSE(DownloadFirmware(*rig.ops, rig.work(), "SN", "", 21));
    EXPECT_EQ(rig.work()[0], kDownloadPage3Bad);
    EXPECT_EQ(rig.work()[1], 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(rig.work()) + 2, 4), "SYSP");
  }
}

TEST_P(Download, VariantSwitch) {
  for (bool keep : {false, true}) {
    BenchRig rig(GetParam());
    ASSERT_TRUE(rig.ops);
    ASSERT_NO_FATAL_FAILURE(prepare(rig, {"SYS_S.bin"}));
    rig.state.setAtaWrapVariant(1);
    rig.state.setKeepVariantOne(keep);
    ASSERT_TRUE(DownloadFirmware(*rig.ops, rig.work(), "SN", "", 21));
    EXPECT_EQ(rig.state.ataWrapVariant(), keep ? 1 : 2) << keep;
  }
}

TEST_P(Download, EarlyBadBlocksExported) {
  BenchRig rig(GetParam(), "FactoryBad=1:0:0x123,2:1:77\n");
  ASSERT_TRUE(rig.ops);
  ASSERT_NO_FATAL_FAILURE(prepare(rig, {"SYS_S.bin"}));
  rig.ctx.params.EnSaveDefectTable = 1;
  ASSERT_TRUE(DownloadFirmware(*rig.ops, rig.work(), "SN", rig.dir.file("SN_EB.txt"), 21));
  EXPECT_EQ(rig.dir.read("SN_EB.txt"),
            "V#21\r\nC#00\r\nB#00\r\nB#01\r\nC#01\r\nB#00U#0123,00,0\r\nB#01\r\nC#02\r\nB#00\r\nB#01U#004D,00,0\r\n"
            "C#03\r\nB#00\r\nB#01");
}

TEST_P(Download, CheckTablesAndBadBlockCounts) {
  // Later bad blocks in the firmware's own list: kind 1 on channels 0 and 2 of slot 0, kind 5 on channel 1 of slot 1.
  BenchRig rig(GetParam(), "FactoryBad=3:1:0x40\nFaultLaterBad=1:0x200:0x05,5:0x300:0x00:0x02\n");
  ASSERT_TRUE(rig.ops);
  ASSERT_NO_FATAL_FAILURE(prepare(rig, {usb() ? "SYS_U.bin" : "SYS_S.bin"}));
  ASSERT_TRUE(DownloadFirmware(*rig.ops, rig.work(), "SN", "", 21));
  ASSERT_TRUE(CheckTables(*rig.ops, rig.work()));
  rig.ops->LeaveLoaderMode(rig.work());
  std::array<std::uint8_t, kBadBlockRowBytes> rows{};
  std::array<std::uint32_t, 5> totals{};
  ASSERT_TRUE(CountBadBlocks(*rig.ops, rig.work(), rows, totals));
  EXPECT_EQ(totals, (std::array<std::uint32_t, 5>{1, 0, 0, 1, 2}));
  auto cell = [&](std::size_t row, std::size_t col) { return rows[(row * 5 + col) * 4]; };
  // Two chip enables per group: banks 0 and 1 share the rows of their channel.
  EXPECT_EQ(cell(3, 0), 1);
  EXPECT_EQ(cell(0, 4), 1);
  EXPECT_EQ(cell(2, 4), 1);
  EXPECT_EQ(cell(1, 3), 1);
}

TEST_P(Download, CheckTablesNamesTheMissingPage) {
  BenchRig rig(GetParam());
  ASSERT_TRUE(rig.ops);
  ASSERT_NO_FATAL_FAILURE(prepare(rig, {usb() ? "SYS_U.bin" : "SYS_S.bin"}));
  ASSERT_TRUE(DownloadFirmware(*rig.ops, rig.work(), "SN", "", 21));
  // A put of the defect table writes the header and page 1 only.
  rig.dir.write("def.txt", "V#21\r\nC#00B#00\r\nC#01B#00\r\nC#02B#00\r\nC#03B#00");
  ASSERT_TRUE(PutDefectTable(*rig.ops, rig.work(), rig.dir.file("def.txt"), 21));
  rig.ops->RestartController(0, 0);
  EXPECT_FALSE(CheckTables(*rig.ops, rig.work()));
  EXPECT_EQ(rig.work()[0], kCheckLaterPage);
}
