#include "transport/DeviceTransport.h"

#include <algorithm>
#include <cstring>

#include "platform/DebugOutput.h"

namespace qk {

int DeviceTransport::execute(const std::string& path, DataDirection dir, const std::uint8_t* cdb,
                             std::size_t cdbLength, std::uint8_t* buffer, std::uint32_t length,
                             std::uint32_t* transferred, std::uint32_t timeoutSeconds, StatusRule rule) {
  if (length == 0) dir = DataDirection::None;
  // The pass-through stacks mishandle single-byte transfers: carry two bytes instead.
  std::uint8_t bounce[2] = {0, 0};
  const bool oneByte = length == 1;
  PassThroughRequest req;
  req.cdb = cdb;
  req.cdbLength = cdbLength;
  req.direction = dir;
  req.buffer = buffer;
  req.length = length;
  if (oneByte) {
    if (dir == DataDirection::Out && buffer) bounce[0] = buffer[0];
    req.buffer = bounce;
    req.length = 2;
  }
  const std::int64_t timeoutMs =
      commandTimeoutMs(path, clock_.scaleTimeout(static_cast<std::int64_t>(timeoutSeconds) * 1000));
  if (timeoutMs < 0) {  // the port is over: a hung drive would hold each further command to its end
    if (transferred) *transferred = 0;
    return 0;
  }
  req.timeoutMs = static_cast<std::uint32_t>(timeoutMs);

  PassThroughResult r = pt_.execute(path, req);
  if (oneByte && dir == DataDirection::In && buffer) buffer[0] = bounce[0];
  if (transferred) *transferred = r.transferred;
  if (!r.sent || !r.completed) return 0;
  if (rule == StatusRule::Strict) {
    if (r.scsiStatus != kScsiStatusGood || r.transferred < req.length) return 0;
  }
  return 1;
}

void DeviceTransport::limitCommands(const std::string& path, std::int64_t atMs) {
  std::lock_guard lock(limitsMutex_);
  limits_[path] = atMs;
}

void DeviceTransport::unlimitCommands(const std::string& path) {
  std::lock_guard lock(limitsMutex_);
  limits_.erase(path);
}

std::int64_t DeviceTransport::commandTimeoutMs(const std::string& path, std::int64_t ownMs) const {
  std::int64_t at;
  {
    std::shared_lock lock(limitsMutex_);
    auto it = limits_.find(path);
    if (it == limits_.end()) return ownMs;
    at = it->second;
  }
  const std::int64_t left = at - clock_.nowMs();
  if (left <= 0) return -1;
  return std::min(ownMs, std::max(left, kLastCommandMs));
}

int DeviceTransport::ScsiDataIn(const std::string& path, const std::uint8_t* cdb, std::size_t cdbLength,
                                std::uint8_t* buffer, std::uint32_t length, std::uint32_t* transferred,
                                std::uint32_t timeoutSeconds, StatusRule rule) {
  return execute(path, DataDirection::In, cdb, cdbLength, buffer, length, transferred, timeoutSeconds, rule);
}

int DeviceTransport::ScsiDataOut(const std::string& path, const std::uint8_t* cdb, std::size_t cdbLength,
                                 const std::uint8_t* buffer, std::uint32_t length, std::uint32_t* transferred,
                                 std::uint32_t timeoutSeconds, StatusRule rule) {
  // The pass-through only reads the buffer for data-out.
  return execute(path, DataDirection::Out, cdb, cdbLength, const_cast<std::uint8_t*>(buffer), length, transferred,
                 timeoutSeconds, rule);
}

std::uint32_t DeviceTransport::sendCommandTimeout(bool dataIn) const {
  if (!dataIn) return kWriteTimeoutS;
  return state_.transportPath() == TransportPath::UsbPath ? kUsbReadTimeoutS : kSataCommandReadTimeoutS;
}

std::uint32_t DeviceTransport::shortReadTimeout() const {
  return state_.transportPath() == TransportPath::UsbPath ? kUsbReadTimeoutS : kSataShortReadTimeoutS;
}

int DeviceTransport::SendCommand(const std::string& path, bool dataIn, const std::uint8_t* cdb,
                                 std::size_t cdbLength, std::uint8_t* buffer, std::uint32_t length,
                                 StatusRule rule) {
  if (path.empty() || path[0] == '\0') return -1;
  std::uint32_t moved = 0;
  int ok = dataIn ? ScsiDataIn(path, cdb, cdbLength, buffer, length, &moved, sendCommandTimeout(true), rule)
                  : ScsiDataOut(path, cdb, cdbLength, buffer, length, &moved, sendCommandTimeout(false), rule);
  return ok == 1 ? 1 : -2;
}

int DeviceTransport::SendScsiCommand(const std::string& path, bool dataIn, const std::uint8_t* cdb,
                                     std::size_t cdbLength, std::uint8_t* buffer, std::uint32_t length,
                                     StatusRule rule) {
  if (path.empty() || path[0] == '\0') return -1;
  std::uint32_t moved = 0;
  int ok = dataIn ? ScsiDataIn(path, cdb, cdbLength, buffer, length, &moved, shortReadTimeout(), rule)
                  : ScsiDataOut(path, cdb, cdbLength, buffer, length, &moved, kWriteTimeoutS, rule);
  return ok == 1 ? 1 : -2;
}

// INQUIRY, 12 bytes: 12 00 00 00 L 00 00 00 00 00 00 00 (L = allocation length, low byte)
int DeviceTransport::InquiryDevice(const std::string& path, std::uint8_t* buffer, std::uint32_t length,
                                   std::uint32_t* transferred) {
  std::uint8_t cdb[12] = {0x12, 0, 0, 0, static_cast<std::uint8_t>(length & 0xFF), 0, 0, 0, 0, 0, 0, 0};
  return ScsiDataIn(path, cdb, sizeof cdb, buffer, length, transferred, shortReadTimeout());
}

std::uint8_t DeviceTransport::IdentifyBridge(const std::string& path) {
  std::uint8_t data[40] = {};
  std::uint32_t moved = 0;
  if (InquiryDevice(path, data, sizeof data, &moved) != 1) return kBridgeUnknown;
  char token[4];
  std::memcpy(token, data + 36, 4);
  return BridgeCodeForToken(token);
}

namespace {
// READ(10) / WRITE(10):
// byte 0      28 (read) / 2A (write)
// byte 1      00
// bytes 2..5  LBA, big-endian
// byte 6      00
// bytes 7..8  sector count (length >> 9), big-endian
// byte 9      00
void encodeRw10(std::uint8_t* cdb, std::uint8_t opcode, std::uint32_t lba, std::uint32_t length) {
  std::uint32_t n = length >> 9;
  cdb[0] = opcode;
  cdb[1] = 0;
  cdb[2] = static_cast<std::uint8_t>(lba >> 24);
  cdb[3] = static_cast<std::uint8_t>(lba >> 16);
  cdb[4] = static_cast<std::uint8_t>(lba >> 8);
  cdb[5] = static_cast<std::uint8_t>(lba);
  cdb[6] = 0;
  cdb[7] = static_cast<std::uint8_t>(n >> 8);
  cdb[8] = static_cast<std::uint8_t>(n);
  cdb[9] = 0;
}
}  // namespace

int DeviceTransport::ReadSectors(const std::string& path, std::uint8_t* buffer, std::uint32_t lba,
                                 std::uint32_t length) {
  std::uint8_t cdb[10];
  encodeRw10(cdb, 0x28, lba, length);
  return ScsiDataIn(path, cdb, sizeof cdb, buffer, length, nullptr, shortReadTimeout(), StatusRule::Strict);
}

int DeviceTransport::WriteSectors(const std::string& path, const std::uint8_t* buffer, std::uint32_t lba,
                                  std::uint32_t length) {
  std::uint8_t cdb[10];
  encodeRw10(cdb, 0x2A, lba, length);
  return ScsiDataOut(path, cdb, sizeof cdb, buffer, length, nullptr, kWriteTimeoutS, StatusRule::Strict);
}

int DeviceTransport::GetDeviceNumber(const std::string& path, DeviceNumber& out) {
  out = DeviceNumber{};
  return pt_.deviceNumber(path, out) ? 1 : 0;
}

std::uint8_t DeviceTransport::SelectTransportPath(const std::string& path) {
  std::uint8_t code = IdentifyBridge(path);
  if (IsBridgeCode(code)) {
    state_.setTransportPath(TransportPath::SataPath);
    debugPrintf("SATA PATH");
    state_.setBusWord("SATA");
  } else if (code == kBridgeNativeUsb) {
    state_.setTransportPath(TransportPath::UsbPath);
    debugPrintf("USB PATH");
    state_.setBusWord("USB");
  }
  state_.notifyCaption();
  if (code == 1) {
    state_.setAtaWrapVariant(1);
    state_.setKeepVariantOne(true);
  }
  return code;
}

// FF 04 32 V 00 00 00 00 00 00 00 00, no data
bool DeviceTransport::SendBridgeSetup(const std::string& path, std::uint8_t value) {
  std::uint8_t cdb[12] = {0xFF, 0x04, 0x32, value, 0, 0, 0, 0, 0, 0, 0, 0};
  return SendCommand(path, false, cdb, sizeof cdb, nullptr, 0) == 1;
}

int DeviceTransport::ResetDrive(const std::string& path, PassThrough::ResetLevel level) {
  if (path.empty()) return 0;
  return pt_.reset(path, level) ? 1 : 0;
}

}  // namespace qk
