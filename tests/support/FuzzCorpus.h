#pragma once
// Replays a committed fuzz corpus through a fuzz body, so every build checks
// it, clang or not. Returns the number of inputs replayed.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qk::test {

template <typename Body>
int ReplayCorpus(const std::string& folder, Body body) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(QK_TEST_DATA_DIR) + "/fuzz/" + folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    const std::string data = ss.str();
    SCOPED_TRACE(entry.path().filename().string());
    body(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    ++count;
  }
  return count;
}

}  // namespace qk::test
