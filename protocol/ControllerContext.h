#pragma once
// Everything one port's controller operations need: the device path, the
// port's own copy of the parameter block, its loader state, the RAM program
// files, where raw dumps go, and its buffers. One per port; a worker touches
// only its own.
#include <string>

#include "config/GlobalParameter.h"
#include "protocol/PortLoaderState.h"
#include "protocol/WorkBuffers.h"

namespace qk {

struct RamProgramFiles {
  std::string gdp;       // full path of GDP.bin
  std::string satatest;  // full path of satatest.bin
};

struct ControllerContext {
  std::string devicePath;
  GlobalParameter params;  // a copy taken at run start; the download may refill it
  PortLoaderState loader;
  RamProgramFiles programs;
  std::string dumpFolder;  // raw dumps are written here when params.DumpDebugFile is on
  WorkBuffers buffers;
};

}  // namespace qk
