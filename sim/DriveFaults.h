#pragma once
// Faults a simulated drive can be given from its bench section (FaultXxx keys).
#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qk::sim {

// Picks commands by opcode, and for ATA PASS-THROUGH also by ATA command
// ("28", "A1:EC"; hex).
struct CommandSelector {
  std::uint8_t opcode = 0;
  int ataCommand = -1;  // -1: any
  bool matches(const std::uint8_t* cdb, std::size_t cdbLength) const;
};

struct LbaRange {
  std::uint32_t first = 0, last = 0;
  bool overlaps(std::uint32_t lba, std::uint32_t count) const;
};

struct DriveFaults {
  std::vector<CommandSelector> fail;       // FaultFail: dropped at once, as a transport error
  std::vector<CommandSelector> noAnswer;   // FaultTimeout: no answer until the time-out
  std::vector<LbaRange> readError;         // FaultReadError: READ(10) ends with CHECK CONDITION
  std::vector<LbaRange> writeError;        // FaultWriteError: WRITE(10) ends with CHECK CONDITION
  std::vector<std::uint32_t> shortRead;    // FaultShortRead: READ(10) stops before this LBA, GOOD status
  std::uint32_t pullAtCommand = 0;         // FaultPullAt: pulled during its Nth command (1-based); 0 never

  // FaultAlias: the flash holds less than the drive claims. Applied to every
  // user-sector READ(10)/WRITE(10), after the range check against the claimed capacity.
  struct Alias {
    enum Kind { None, Wrap, Bit, Lost } kind = None;
    std::uint32_t value = 0;  // sectors for Wrap/Lost, the bit number for Bit
    // The sector that really holds `lba`; nullopt when it is not stored (Lost).
    std::optional<std::uint32_t> map(std::uint32_t lba) const;
  } alias;

  // Faults of the controller and its programs.
  struct FlashId {
    int channel = 0, slot = 0;
    std::array<std::uint8_t, 5> id{};
  };
  struct LaterBad {
    std::uint8_t kind = 0;
    std::uint16_t block = 0;
    std::array<std::uint8_t, 4> channelBits{};
  };
  struct Corrupt {
    std::uint32_t lba = 0, word = 0;
  };
  std::vector<FlashId> flashId;                           // FaultFlashId
  std::optional<std::array<int, 2>> detect;               // FaultDetect: channels, slots
  std::vector<std::array<int, 2>> bus;                    // FaultBus: area, round
  bool dramRegister = false;                              // FaultDram=register
  int dramStatus = -1;                                    // FaultDram=status:N
  std::vector<std::array<std::uint8_t, 3>> interfaceFail; // FaultInterface: kind, channel, bank
  std::vector<std::array<std::uint16_t, 5>> preformat;    // FaultPreformat: kind, channel, bank, die, value
  std::optional<std::vector<std::uint16_t>> systemBlocks; // FaultSystemBlocks
  std::vector<LaterBad> laterBad;                         // FaultLaterBad
  std::set<std::string> busy;                             // FaultBusy: erase, preformat, finish, dram
  std::string hang;                                       // FaultHang: inquiry, identify, download, rw, format, vendor
  std::uint32_t hangAtVendor = 0;                         // FaultHang=vendor:N
  std::vector<Corrupt> corrupt;                           // FaultCorrupt

  // Parses one FaultXxx key; false with `error` set for an unknown key or bad value.
  bool set(const std::string& key, const std::string& value, std::string& error);
};

}  // namespace qk::sim
