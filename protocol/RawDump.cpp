#include "protocol/RawDump.h"

#include <cstdio>

#include "platform/DebugOutput.h"

namespace qk {

void WriteDump(bool enabled, const std::string& folder, const std::string& name, const std::uint8_t* data,
               std::size_t length) {
  if (!enabled || !data) return;
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    debugPrintf("dump %s: cannot create", path.c_str());
    return;
  }
  if (std::fwrite(data, 1, length, f) != length) debugPrintf("dump %s: short write", path.c_str());
  std::fclose(f);
}

}  // namespace qk
