#include "config/ProfileSettings.h"

namespace qk {

const std::array<const char*, kTestItemCount + 1> kTestItemNames = {
    "",
    "Flash Module Test",
    "Bus Interface Test",
    "Flash Interface Test",
    "Dram Test",
    "Preformat",
    "Download",
    "R/W Test",
    "Check Tables",
    "Disk Format",
    "Copy Image",
    "Check Temperature",
    "Model Number",
    "Firmware Version",
    "Vendor Name",
    "Product Name",
    "IDEMA Capacity Check",
    "Serial Number Check",
    "LBA Capacity Check",
    "R/W Test (Partial)",
    "R/W Test (Percentage)",
    "R/W Test (Full)",
    "EraseAllData",
    "QC Check Tables",
    "Capacity Probe",
};

}  // namespace qk
