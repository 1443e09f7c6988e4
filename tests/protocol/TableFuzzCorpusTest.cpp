// Replays the committed table-file fuzz corpus so that every build checks it, clang or not.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "../fuzz/TableFileFuzzBody.h"

TEST(FuzzCorpus, TableFilesImportOrFailCleanly) {
  std::filesystem::path dir = std::string(QK_TEST_DATA_DIR) + "/fuzz/tablefile";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    std::string data = ss.str();
    SCOPED_TRACE(entry.path().filename().string());
    qk::fuzz::tableFileOnce(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    ++count;
  }
  EXPECT_GE(count, 5);
}
