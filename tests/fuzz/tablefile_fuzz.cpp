// libFuzzer target: table text files as people type and edit them.
#include "TableFileFuzzBody.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qk::fuzz::tableFileOnce(data, size);
  return 0;
}
