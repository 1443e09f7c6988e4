#include "sim/BulkOnlyTarget.h"

#include <algorithm>
#include <cstring>

#include "platform/LittleEndian.h"

namespace qk::sim {

namespace {

constexpr std::uint32_t kCbwSignature = 0x43425355;  // "USBC"
constexpr std::uint32_t kCswSignature = 0x53425355;  // "USBS"
constexpr std::uint8_t kRequestSense = 0x03;

}  // namespace

// Command Block Wrapper, little-endian:
//   0  u32 signature "USBC"    4  u32 tag         8  u32 data transfer length
//  12  u8  flags (bit 7: IN)  13  u8  LUN (bits 3..0)
//  14  u8  command length (1..16)                15  16 bytes command block
bool BulkOnlyTarget::decodeCbw(const std::uint8_t* bytes, std::size_t length, CommandBlockWrapper& out) {
  if (length != kCbwLength || le32(bytes) != kCbwSignature) return false;
  out.tag = le32(bytes + 4);
  out.dataLength = le32(bytes + 8);
  out.dataIn = (bytes[12] & 0x80) != 0;
  out.lun = bytes[13] & 0x0F;
  out.cdbLength = bytes[14] & 0x1F;
  if (out.lun != 0 || out.cdbLength == 0 || out.cdbLength > 16) return false;
  std::memset(out.cdb, 0, sizeof out.cdb);
  std::memcpy(out.cdb, bytes + 15, out.cdbLength);
  return true;
}

// Command Status Wrapper, little-endian:
//   0  u32 signature "USBS"    4  u32 tag of the command
//   8  u32 residue (expected minus moved)        12  u8 status (0 passed, 1 failed, 2 phase error)
void BulkOnlyTarget::encodeCsw(std::uint32_t tag, std::uint32_t residue, std::uint8_t status,
                               std::uint8_t out[kCswLength]) {
  put32(out, kCswSignature);
  put32(out + 4, tag);
  put32(out + 8, residue);
  out[12] = status;
}

BulkOnlyResult BulkOnlyTarget::execute(const CommandBlockWrapper& cbw, std::uint8_t* data) {
  BulkOnlyResult result;
  if (cbw.cdb[0] == kRequestSense && cbw.dataIn) {
    // Fixed-format sense of the last failed command; reading it clears it.
    std::uint8_t sense[18] = {};
    sense[0] = 0x70;
    sense[2] = senseKey_;
    sense[7] = 10;
    sense[12] = asc_;
    sense[13] = ascq_;
    result.transferred = std::min<std::uint32_t>({cbw.dataLength, cbw.cdb[4], sizeof sense});
    std::memcpy(data, sense, result.transferred);
    senseKey_ = asc_ = ascq_ = 0;
    return result;
  }
  SimCommand command;
  command.cdb = cbw.cdb;
  command.cdbLength = cbw.cdbLength;
  command.direction = cbw.dataLength == 0 ? DataDirection::None : cbw.dataIn ? DataDirection::In : DataDirection::Out;
  command.data = cbw.dataLength == 0 ? nullptr : data;
  command.length = cbw.dataLength;
  const SimReply reply = drive_.execute(command);
  if (reply.outcome != SimReply::Outcome::Completed) {
    result.answered = false;
    return result;
  }
  result.transferred = std::min(reply.transferred, cbw.dataLength);
  if (reply.status == kScsiStatusGood) {
    senseKey_ = asc_ = ascq_ = 0;
  } else {
    result.status = kCswFailed;
    senseKey_ = reply.senseKey;
    asc_ = reply.asc;
    ascq_ = reply.ascq;
  }
  return result;
}

}  // namespace qk::sim
