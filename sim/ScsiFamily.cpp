#include "sim/ScsiFamily.h"

#include <algorithm>
#include <cstring>

#include "sim/StreamIo.h"

namespace qk::sim {

namespace {
constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kReadCapacity10 = 0x25;
constexpr std::uint8_t kRead10 = 0x28;
constexpr std::uint8_t kWrite10 = 0x2A;

void putText(std::uint8_t* at, const char* text, size_t width) {
  size_t n = std::min(std::strlen(text), width);
  std::memset(at, ' ', width);
  std::memcpy(at, text, n);
}
}  // namespace

bool ScsiFamily::accepts(const SimDrive&, const SimCommand& c) const {
  switch (c.cdb[0]) {
    case kTestUnitReady: case kInquiry: case kReadCapacity10: case kRead10: case kWrite10:
      return true;
    default:
      return false;
  }
}

SimReply ScsiFamily::execute(SimDrive& drive, const SimCommand& c) {
  switch (c.cdb[0]) {
    case kInquiry: return inquiry(drive, c);
    case kReadCapacity10: return readCapacity(drive, c);
    case kRead10: return readWrite(drive, c, false);
    case kWrite10: return readWrite(drive, c, true);
    default: return SimReply::good(0);
  }
}

// Standard INQUIRY data:
// 0      peripheral type 00 (direct access)
// 1      80 (removable)
// 2      06, 3: 02 (response format)
// 4      additional length (total - 5)
// 8..15  vendor, 16..31 product, 32..35 revision (space padded)
// 36..39 the product token, present only when the drive has one
SimReply ScsiFamily::inquiry(SimDrive& drive, const SimCommand& c) {
  if (c.direction != DataDirection::In || c.cdbLength < 6) return SimReply::invalidField();
  std::uint8_t data[40] = {};
  const std::string& token = drive.cfg().token;
  const size_t total = token.size() == 4 ? 40 : 36;
  data[0] = 0x00;
  data[1] = 0x80;
  data[2] = 0x06;
  data[3] = 0x02;
  putText(data + 8, "Generic", 8);
  // In loader mode the controller's boot ROM names itself; a bridge names itself.
  putText(data + 16, drive.nativeUsb() ? "FCR USB Loader" : "USB-SATA Bridge", 16);
  putText(data + 32, "1.00", 4);
  if (const FirmwareInfo* fw = drive.controller().firmware(); fw && drive.nativeUsb()) {
    // The running firmware answers with the INQUIRY data the download patched in.
    if (!fw->usbPage.empty()) std::memcpy(data, fw->usbPage.data() + 0x6E, 36);
    else putText(data + 16, "FCR USB Disk", 16);
  }
  data[4] = static_cast<std::uint8_t>(total - 5);
  if (total == 40) std::memcpy(data + 36, token.data(), 4);
  std::uint32_t alloc = static_cast<std::uint32_t>(c.cdb[3]) << 8 | c.cdb[4];
  std::uint32_t n = std::min<std::uint32_t>({static_cast<std::uint32_t>(total), alloc, c.length});
  if (c.data) std::memcpy(c.data, data, n);
  return SimReply::good(n);
}

// READ CAPACITY(10) data: 0..3 address of the last sector, 4..7 sector size (big-endian).
SimReply ScsiFamily::readCapacity(SimDrive& drive, const SimCommand& c) {
  if (c.direction != DataDirection::In) return SimReply::invalidField();
  std::uint32_t sectors = drive.userData().sectors();
  std::uint32_t last = sectors == 0 ? 0 : sectors - 1;
  std::uint8_t data[8] = {static_cast<std::uint8_t>(last >> 24), static_cast<std::uint8_t>(last >> 16),
                          static_cast<std::uint8_t>(last >> 8),  static_cast<std::uint8_t>(last),
                          0, 0, 0x02, 0x00};
  std::uint32_t n = std::min<std::uint32_t>(8, c.length);
  if (c.data) std::memcpy(c.data, data, n);
  return SimReply::good(n);
}

namespace {

// Moves sectors through the alias fault, in runs that stay contiguous on the flash.
bool transfer(UserData& data, const DriveFaults::Alias& alias, bool write, std::uint32_t lba, std::uint32_t count,
              std::uint8_t* buffer) {
  if (alias.kind == DriveFaults::Alias::None) return write ? data.write(lba, count, buffer) : data.read(lba, count, buffer);
  std::uint32_t i = 0;
  while (i < count) {
    const auto first = alias.map(lba + i);
    std::uint32_t run = 1;
    while (i + run < count) {
      const auto next = alias.map(lba + i + run);
      if (first.has_value() != next.has_value() || (first && *next != *first + run)) break;
      ++run;
    }
    std::uint8_t* at = buffer + static_cast<std::size_t>(i) * UserData::kSectorSize;
    if (!first) {
      // Not stored: a write vanishes, a read finds zeros.
      if (!write) std::memset(at, 0, static_cast<std::size_t>(run) * UserData::kSectorSize);
    } else if (!(write ? data.write(*first, run, at) : data.read(*first, run, at))) {
      return false;
    }
    i += run;
  }
  return true;
}

}  // namespace

SimReply ScsiFamily::readWrite(SimDrive& drive, const SimCommand& c, bool write) {
  if (c.cdbLength < 10) return SimReply::invalidField();
  const std::uint32_t lba = be32(c.cdb + 2);
  const std::uint32_t count = static_cast<std::uint32_t>(c.cdb[7]) << 8 | c.cdb[8];
  if (count == 0) return SimReply::good(0);
  const DataDirection want = write ? DataDirection::Out : DataDirection::In;
  const std::uint64_t bytes = static_cast<std::uint64_t>(count) * UserData::kSectorSize;
  if (c.direction != want || c.data == nullptr || c.length < bytes) return SimReply::invalidField();
  UserData& data = drive.userData();
  if (static_cast<std::uint64_t>(lba) + count > data.sectors()) return SimReply::checkCondition(0x05, 0x21, 0x00);

  // Sectors before the first faulty one are transferred; a medium fault then
  // ends the command with CHECK CONDITION, a short-read fault with GOOD status.
  const auto& faults = drive.cfg().faults;
  std::uint32_t firstMedium = count, firstShort = count;
  for (const auto& r : write ? faults.writeError : faults.readError) {
    if (r.overlaps(lba, count)) firstMedium = std::min(firstMedium, std::max(r.first, lba) - lba);
  }
  if (!write) {
    for (std::uint32_t s : faults.shortRead) {
      if (s >= lba && s - lba < firstShort) firstShort = s - lba;
    }
  }
  const std::uint32_t good = std::min(firstMedium, firstShort);
  const bool ok = transfer(data, faults.alias, write, lba, good, c.data);
  const std::uint32_t moved = good * UserData::kSectorSize;
  if (!ok) return SimReply::checkCondition(0x03, write ? 0x0C : 0x11, 0x00, 0);
  if (!write) {
    // Flipped words: counted from the first byte of their LBA.
    const std::uint64_t from = static_cast<std::uint64_t>(lba) * UserData::kSectorSize;
    const std::uint64_t to = from + moved;
    for (const auto& f : faults.corrupt) {
      const std::uint64_t at = static_cast<std::uint64_t>(f.lba) * UserData::kSectorSize + 2ull * f.word;
      if (at >= from && at + 2 <= to) {
        c.data[at - from] ^= 0xFF;
        c.data[at - from + 1] ^= 0xFF;
      }
    }
  }
  if (firstMedium < count && firstMedium <= firstShort) {
    return SimReply::checkCondition(0x03, write ? 0x0C : 0x11, 0x00, moved);
  }
  return SimReply::good(moved);
}

}  // namespace qk::sim
