#pragma once
#include <string>

#include "support/TempDir.h"

namespace qk::test {

// A flash list with one vendor and one type, enough for a profile to load.
inline void writeMinimalFlashList(const TempDir& dir, const std::string& name = "Flash.ini") {
  dir.write(name,
            "[Vendor]\r\nName00=WBG\r\n[WBG]\r\n"
            "Name00=WBG, K9GBG08U0A, 0x0281, 2, 2, 0xEC, 0xD7, 0x94, 0x72, 0x54, 0, 0, 0, 0, 0\r\n");
}

}  // namespace qk::test
