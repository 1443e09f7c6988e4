#include "protocol/ProductionSteps.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <random>

namespace qk {

namespace {
constexpr std::size_t kReportClearBytes = 2048;  // the size of a failure detail buffer
constexpr std::uint32_t kErrorRecordSectors = 4;
constexpr int kModuleSettleMs = 1000;
constexpr std::uint32_t kBusTestAddress = 0xB0021000;
constexpr std::uint32_t kBusTestSectors = 64;
constexpr std::size_t kBusTestWords = 16384;
constexpr std::uint16_t kInterfaceArgument = 602;
constexpr std::uint32_t kDramBase = 0x20000;
constexpr std::uint32_t kDramPatternValue = 0x04000000;
}  // namespace

// Report: [0] entries + 1, [1] 0x82 comparing / 0x80 detection checked,
// entries of 16 bytes from 18: [0] kind, [1] channel, [2] chip-enable index, [6..10] ID bytes.
bool ProductionSteps::FlashModuleTest(std::uint8_t* work) {
  std::uint8_t withFlag = 0;
  if (!ops_.LoadRamProgram(RamProgram::Gdp, 0, work, withFlag)) return false;
  const GlobalParameter& gp = ops_.params();
  std::memset(work, 0, kReportClearBytes);
  work[0] = 1;
  work[1] = kReportComparing;
  std::size_t entry = kModuleEntriesOffset;
  const unsigned banks = std::min<unsigned>(gp.Bank, gp.geometry.CEMap.size());
  for (unsigned i = 0; i < banks; ++i) {
    for (unsigned c = 0; c < gp.Channel; ++c) {
      std::array<std::uint8_t, 512> id{};
      const bool read = ops_.vendor().ReadFlashId(static_cast<std::uint8_t>(c), gp.geometry.CEMap[i], id.data(), 1) == 1;
      bool differs = !read;  // a chip that does not answer is not a good chip
      for (int k = 0; read && k < 5; ++k) {
        if ((gp.CheckFlashMask >> k) & 1) differs = differs || id[static_cast<std::size_t>(k)] != gp.FlashExtra[static_cast<std::size_t>(k)];
      }
      if (!differs) continue;
      work[0] = static_cast<std::uint8_t>(work[0] + 1);
      if (entry + kModuleEntrySize > kReportClearBytes) continue;  // counted; no room to describe it
      std::uint8_t* e = work + entry;
      std::memset(e, 0, kModuleEntrySize);
      e[0] = kEntryWrongId;
      e[1] = static_cast<std::uint8_t>(c);
      e[2] = static_cast<std::uint8_t>(i);
      std::memcpy(e + 6, id.data(), 5);
      entry += kModuleEntrySize;
    }
  }
  if (!ops_.wait(kModuleSettleMs)) return false;
  if (work[0] == 1) {
    work[1] = kReportDetectChecked;
    std::uint8_t* detect = work + kModuleEntriesOffset + 6;
    if (ops_.vendor().ReadTaskResult(subop::ReadDetectResult, detect, 1) == 1 &&
        (detect[7] != gp.Channel || detect[8] != gp.Bank)) {
      std::uint8_t* e = work + kModuleEntriesOffset;
      std::memset(e, 0, 6);
      e[0] = kEntryLayoutDiffers;
      work[0] = 2;
    }
  }
  return work[0] == 1;
}

bool ProductionSteps::BusInterfaceTest(std::uint8_t* work) {
  std::uint8_t withFlag = 0;
  if (!ops_.LoadRamProgram(RamProgram::Test, 0, work, withFlag)) return false;
  for (std::uint8_t area : {std::uint8_t{0}, std::uint8_t{1}}) {
    for (unsigned r = 0; r < 10; ++r) {
      const std::uint16_t seed = static_cast<std::uint16_t>(4096 + 11 * r);
      for (std::size_t k = 0; k < kBusTestWords; ++k) {
        const auto w = static_cast<std::uint16_t>(seed + k);
        work[2 * k] = static_cast<std::uint8_t>(w);
        work[2 * k + 1] = static_cast<std::uint8_t>(w >> 8);
      }
      if (ops_.vendor().WriteTestMemory(area, kBusTestAddress, work, kBusTestSectors) != 1) return false;
      std::memset(work, 0, kBusTestWords * 2);
      if (ops_.vendor().ReadTestMemory(area, kBusTestAddress, work, kBusTestSectors) != 1) return false;
      for (std::size_t k = 0; k < kBusTestWords; ++k) {
        const auto want = static_cast<std::uint16_t>(seed + k);
        if ((work[2 * k] | work[2 * k + 1] << 8) != want) return false;
      }
    }
  }
  return true;
}

bool ProductionSteps::FlashInterfaceTest(std::uint8_t* work, std::uint8_t* interfaceCode) {
  std::uint8_t withFlag = 0;
  if (interfaceCode) *interfaceCode = 0;
  if (!ops_.LoadRamProgram(RamProgram::Test, 0, work, withFlag)) return false;
  // A test passes when it answers 0xFF or leaves the question unanswered; a
  // command lost on the way is no pass.
  auto passes = [this](std::uint8_t test, std::uint16_t argument) {
    std::uint8_t value = 0;
    return ops_.vendor().RunTest(test, argument, value) == 1 && value == 0xFF;
  };
  std::uint8_t code = 0;
  if (!passes(1, kInterfaceArgument)) code = kInterfaceFirstCheck;
  else if (!passes(2, kInterfaceArgument)) code = kInterfaceSecondCheck;
  else {
    std::minstd_rand rng(static_cast<std::uint32_t>(ops_.nowMs()));
    std::array<std::uint16_t, 10> settings{};
    auto draw = [&] {
      for (auto& s : settings) s = static_cast<std::uint16_t>(rng() % 1536 + 256);
    };
    auto distinct = [&] {
      auto sorted = settings;
      std::sort(sorted.begin(), sorted.end());
      return std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end();
    };
    do draw(); while (!distinct());
    code = kInterfaceNoSetting;
    for (std::uint16_t s : settings) {
      if (passes(3, s)) {
        code = 0;
        break;
      }
    }
  }
  if (interfaceCode) *interfaceCode = code;
  if (code != 0) {
    std::memset(work, 0, 512);
    ops_.vendor().ReadTestReport(work, 1);
  }
  return code == 0;
}

bool ProductionSteps::DramTest(std::uint8_t* work) {
  std::uint8_t withFlag = 0;
  if (!ops_.LoadRamProgram(RamProgram::Test, 0, work, withFlag)) return false;
  for (std::size_t i = 0; i < 512; i += 4) {
    work[i] = 0x00;
    work[i + 1] = 0xFF;
    work[i + 2] = 0x00;
    work[i + 3] = 0xFF;
  }
  for (std::uint8_t j = 0; j < 32; ++j) {
    if (ops_.vendor().WriteRegisterByte(kDramBase + j, j) != 1) return false;
  }
  for (std::uint8_t j = 0; j < 32; ++j) {
    std::uint8_t v = 0;
    if (ops_.vendor().ReadRegisterByte(kDramBase + j, v) != 1 || v != j) return false;
  }
  if (ops_.vendor().WriteTestValue(kDramBase, kDramPatternValue, work) != 1) return false;
  std::uint8_t status = 0;
  return ops_.WaitTestStatus(status, true) && status == kDramTestDone;
}

bool ProductionSteps::EraseSearch(std::uint8_t* work) {
  std::uint8_t withFlag = 0;
  if (!ops_.LoadRamProgram(RamProgram::Gdp, 0, work, withFlag)) return false;
  std::uint8_t status = 0;
  return ops_.RunProgramTask(1, withFlag | taskflag::EraseSearch, status, false) && status == kEraseSearchDone;
}

bool ProductionSteps::FindSystemBlocks(std::uint8_t* work) {
  std::uint8_t withFlag = 0;
  if (!ops_.LoadRamProgram(RamProgram::Gdp, 0, work, withFlag)) return false;
  std::array<std::uint8_t, 512> reply{};
  SystemBlockList& list = ops_.context().loader.systemBlocks;
  list.count = 0;
  if (ops_.vendor().ReadTaskResult(subop::ReadBlockList, reply.data(), 1) == 1) {
    for (std::size_t i = 0; i < 4; ++i) {
      const auto v = static_cast<std::uint16_t>(reply[2 * i] | reply[2 * i + 1] << 8);
      list.blocks[i] = 0xFFFF;
      if (v == 0xFFFF) break;
      if (std::find(list.blocks.begin(), list.blocks.begin() + list.count, v) == list.blocks.begin() + list.count)
        list.blocks[list.count++] = v;
    }
  }
  if (list.count == 4) return true;
  ops_.vendor().ReadTaskResult(subop::ReadErrorRecord, work, kErrorRecordSectors);
  return false;
}

bool ProductionSteps::Preformat(std::uint8_t* work, const PreformatOptions& options) {
  std::uint8_t flags = 0;
  if (!ops_.LoadRamProgram(RamProgram::Gdp, 0, work, flags)) return false;
  std::uint8_t status = 0;
  if (options.eraseSearch) {
    if (!ops_.RunProgramTask(1, flags | taskflag::EraseSearch, status, false)) return false;
    flags |= taskflag::EraseSearch;
  }
  if (options.factoryAndNewBad) flags |= taskflag::FactoryAndNewBad;
  if (options.repairUsed) flags |= taskflag::RepairUsed;
  flags |= taskflag::Preformat;
  if (ops_.RunProgramTask(3, flags, status, true) && status == kPreformatDone) return true;
  ops_.vendor().ReadTaskResult(subop::ReadErrorRecord, work, kErrorRecordSectors);
  return false;
}

bool ProductionSteps::FinishTables(std::uint8_t* work) {
  if (!FindSystemBlocks(work)) return false;
  std::uint8_t withFlag = 0;
  if (!ops_.LoadRamProgram(RamProgram::Gdp, 0, work, withFlag)) return false;
  std::uint8_t status = 0;
  return ops_.RunProgramTask(4, withFlag, status, true) && status == kFinishTablesDone;
}

// SMART data: 30 attributes of 12 bytes from offset 2; the temperature is the
// first raw byte (offset 5) of attribute 194.
bool ProductionSteps::CheckTemperature(std::uint8_t* work, std::uint8_t limit, std::uint8_t& temperature) {
  temperature = 0;
  ops_.LeaveLoaderMode(work);
  std::array<std::uint8_t, 512> smart{};
  if (ops_.standard().SmartReadData(ops_.context().devicePath, smart.data()) == 1) {
    for (std::size_t i = 0; i < 30; ++i) {
      const std::uint8_t* a = smart.data() + 2 + 12 * i;
      if (a[0] == 194) {
        temperature = a[5];
        break;
      }
    }
  }
  return temperature <= limit;
}

}  // namespace qk
