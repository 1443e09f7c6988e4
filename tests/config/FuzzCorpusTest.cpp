// Replays the committed fuzz corpus so that every build checks it, clang or not.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "../fuzz/FlashListFuzzBody.h"

TEST(FuzzCorpus, FlashListInputsParseOrFailCleanly) {
  std::filesystem::path dir = std::string(QK_TEST_DATA_DIR) + "/fuzz/flashlist";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    std::string data = ss.str();
    SCOPED_TRACE(entry.path().filename().string());
    qk::fuzz::flashListOnce(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    ++count;
  }
  EXPECT_GE(count, 5);
}
