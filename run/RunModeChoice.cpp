#include "run/RunModeChoice.h"

namespace qk {

void ChooseRunMode(const RdPageState& rd, RunOptions& options) {
  options.mode = RunMode::Production;
  if (!rd.rdPageActive) return;
  if (rd.claimNew) {
    options.mode = RunMode::ClaimNew;
    return;
  }
  const std::pair<bool, TableTransferKind> kinds[] = {{rd.getDefect, TableTransferKind::GetDefect},
                                                      {rd.putDefect, TableTransferKind::PutDefect},
                                                      {rd.getLater, TableTransferKind::GetLater},
                                                      {rd.putLater, TableTransferKind::PutLater}};
  for (const auto& [checked, kind] : kinds) {
    if (!checked) continue;
    options.mode = RunMode::TableTransfer;
    options.transfer = kind;
    return;
  }
}

}  // namespace qk
