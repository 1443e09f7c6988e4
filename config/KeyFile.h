#pragma once
// The key file of the encryption option: a 128-byte block of random filler
// with the encryption string woven into every other byte from offset 20.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Operator.h"
#include "platform/ProgramFolder.h"

namespace qk {

inline constexpr const char* kKeyFileName = "KeyFile.dat";
inline constexpr size_t kKeyBlockSize = 128;
inline constexpr size_t kEncryptionStringMax = 24;

using KeyBlock = std::array<std::uint8_t, kKeyBlockSize>;
using ByteSource = std::function<std::uint8_t()>;

// Uniform random bytes from the system's entropy source.
ByteSource RandomByteSource();

// Byte layout (all sums modulo 256):
//   0..127        (r + i) ^ 0xFF, r a fresh random byte for each i
//   20 + 2p       (c + p) ^ 0xFF, c = character p of the string (0 past its end), p = 0..23
// Characters beyond the 24th are ignored.
KeyBlock BuildKeyBlock(const std::string& encryption, const ByteSource& random);

// Writes the block to KeyFile.dat in the program folder, replacing it, and
// tells the operator where. A file that cannot be written is only logged.
bool GenerateKeyFile(const ProgramFolder& folder, const std::string& encryption, const ByteSource& random,
                     Operator& op);

}  // namespace qk
