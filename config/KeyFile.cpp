#include "config/KeyFile.h"

#include <iostream>
#include <memory>
#include <random>

#include "platform/AtomicWrite.h"

namespace qk {

ByteSource RandomByteSource() {
  auto engine = std::make_shared<std::mt19937>(std::random_device{}());
  return [engine] { return static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, 255)(*engine)); };
}

KeyBlock BuildKeyBlock(const std::string& encryption, const ByteSource& random) {
  KeyBlock block{};
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>((random() + i) ^ 0xFF);
  for (size_t p = 0; p < kEncryptionStringMax; ++p) {
    std::uint8_t c = p < encryption.size() ? static_cast<std::uint8_t>(encryption[p]) : 0;
    block[20 + 2 * p] = static_cast<std::uint8_t>((c + p) ^ 0xFF);
  }
  return block;
}

bool GenerateKeyFile(const ProgramFolder& folder, const std::string& encryption, const ByteSource& random,
                     Operator& op) {
  KeyBlock block = BuildKeyBlock(encryption, random);
  std::string path = folder.path() + kKeyFileName;
  std::string error;
  if (!writeFileAtomic(path, std::string(block.begin(), block.end()), &error)) {
    std::cerr << "key file not written: " << error << std::endl;
    return false;
  }
  op.showMessage("Generate the key file (" + path + ") successfully");
  return true;
}

}  // namespace qk
