#pragma once
// Capacity figures of the flash setting page: the usable LBA count and the
// reserved-block ratio derived from a target IDEMA capacity.
#include <cstdint>
#include <optional>
#include <string>

#include "config/GlobalParameter.h"

namespace qk {

constexpr std::uint64_t kIdemaStep = 1953504;    // LBAs per IDEMA gigabyte
constexpr std::uint64_t kIdemaOffset = 21168;

// Usable LBAs of the array, cut down to an IDEMA size.
std::uint64_t UsableLbaCount(const GlobalParameter& gp, std::int32_t resPercentage);
// The two gigabyte figures shown beside it, "%4.2f" (1K=1000 and 1K=1024).
std::string CapacityText1000(std::uint64_t lbas);
std::string CapacityText1024(std::uint64_t lbas);

struct IdemaRatioResult {
  std::optional<std::string> message;  // set when the entry is refused
  std::int32_t resPercentage = 0;      // per mille, when accepted
  float ratio = 0;                     // percent, shown in the ratio box
};

// The "Set" button: entry is the digits typed into the IDEMA box.
IdemaRatioResult IdemaToReservedRatio(const std::string& entry, const GlobalParameter& gp);

constexpr std::int32_t kDefaultResPercentage = 68;

}  // namespace qk
