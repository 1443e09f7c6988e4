#include "run/ResultCodes.h"

#include <array>

namespace qk {

namespace {

constexpr std::array<ResultCodeRow, kResultCodeCount> kRows = {{
    {"", "No Error", "", ""},
    {"M00", "Flash Module Test Fail", "Flash Module Test", "Module\t"},
    {"A00", "Bus Interface Test Fail", "Bus Interface Test", "SATA\t"},
    {"B00", "Flash Interface Test Fail", "Flash Interface Test", "Flash\t"},
    {"H00", "Dram Test Fail", "Dram Test", "Dram\t"},
    {"C00", "Pre-Format Fail", "Preformat", "P_F\t"},
    {"D00", "Download Firmware Fail", "Download", "Down\t"},
    {"E00", "R/W Test Fail", "R/W Test", "R/W\t"},
    {"J00", "Check Tables Fail", "Check Tables", "Check Table\t"},
    {"F00", "Disk Format Fail", "Disk Format", "Format\t"},
    {"I00", "Copy Image Fail", "Copy Image", "CopyImage\t"},
    {"Q09", "Check Temperature Fail", "Check Temperature", "CheckTemper\t"},
    {"Q00", "Model Number Check Fail", "Model Number", "Model\t"},
    {"Q01", "Firmware Version Check Fail", "Firmware Version", "FMVer\t"},
    {"Q02", "Vendor Name Check Fail", "Vendor Name", "VName\t"},
    {"Q03", "Product Name Check Fail", "Product Name", "PName\t"},
    {"Q04", "IDEMA Capacity Check Fail", "IDEMA Capacity Check", "Capa\t"},
    {"Q05", "Serial Number Check Fail", "Serial Number Check", "SN\t"},
    {"Q06", "LBA Capacity Check Fail", "LBA Capacity Check", "CapaLBA\t"},
    {"E02", "Partial R/W Test Fail", "R/W Test (Partial)", "PRWTest\t"},
    {"E04", "Percentage R/W Test Fail", "R/W Test (Percentage)", "FERRWTest\t"},
    {"E01", "Full R/W Test Fail", "R/W Test (Full)", "FRWTest\t"},
    {"G00", "Erase All Data Fail", "EraseAllData", "Erase\t"},
    {"J00", "QC Check Tables Fail", "QC Check Tables", "QC Check Table\t"},
    {"", "", "", ""},
    {"K00", "Check Loader Block Fail", "", ""},
    {"T00", "Timeout", "", ""},
    {"E03", "Random Read Test Fail", "", ""},
    {"J01", "Bad block is over", "", ""},
    {"Q07", "Folder Check Fail", "", ""},
    {"Q08", "File R/W Test Fail", "", ""},
    {"C01", "Table Not Exist", "", ""},
    {"C02", "Table Ecc Fail", "", ""},
    {"C03", "Defect is over", "", ""},
    {"C04", "Free block is too large", "", ""},
    {"C05", "Total bad block number is over", "", ""},
    {"C06", "Build Table Fail", "Build Table", ""},
    {"C07", "Build Remap Table Fail", "Build Remap Table", ""},
    {"C08", "", "", ""},
    {"B01", "", "", ""},
    {"B02", "", "", ""},
    {"B03", "", "", ""},
    {"B04", "", "", ""},
    {"B05", "", "", ""},
    {"B06", "", "", ""},
    {"B07", "", "", ""},
    {"B08", "", "", ""},
    {"B09", "", "", ""},
    {"B10", "", "", ""},
    {"B11", "", "", ""},
    {"P00", "Check Chip Fail", "Check Chip", ""},
    {"P01", "Check Erase Count Fail", "Check Erase Count", ""},
    {"P03", "RDT Result Fail", "Check RDT Result", ""},
}};

constexpr ResultCodeRow kCapacityProbeRow = {"V00", "Capacity Probe Fail", "Capacity Probe", "CapaProbe\t"};

// What an unknown code reads as: a failure with no row of its own.
constexpr ResultCodeRow kUnknown = {"???", "Unknown Failure", "", "\t"};

}  // namespace

bool IsKnownResultCode(int code) { return (code >= 0 && code < kResultCodeCount) || code == kCapacityProbeCode; }

const ResultCodeRow& ResultCodeInfo(int code) {
  if (code == kCapacityProbeCode) return kCapacityProbeRow;
  return IsKnownResultCode(code) ? kRows[static_cast<std::size_t>(code)] : kUnknown;
}

const ResultCodeRow& StepInfo(int item) {
  return ResultCodeInfo(item == kCapacityProbeItem ? kCapacityProbeCode : item);
}

const char* StepStatusText(int status) {
  switch (status) {
    case -1:
      return "Fail";
    case 0:
      return "----";
    case 1:
      return "Pass";
    default:
      return "";
  }
}

}  // namespace qk
