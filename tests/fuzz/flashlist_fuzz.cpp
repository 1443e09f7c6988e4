// libFuzzer target: flash list files and the INI reader under them.
#include "FlashListFuzzBody.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qk::fuzz::flashListOnce(data, size);
  return 0;
}
