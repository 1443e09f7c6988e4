#pragma once
// The table transfer of the "RD" page: one drive's defect or later-bad-block
// table to or from a text file. Runs after the run has bound the drives and
// built the parameter block; tells the operator the outcome.
#include <stop_token>
#include <string>

namespace qk {

class Station;

enum class TableTransferKind { GetDefect, PutDefect, GetLater, PutLater };

struct TableTransferOutcome {
  bool ran = false;     // a drive was found and the transfer attempted
  bool ok = false;
  int slot = -1;        // the first active slot
  std::string message;  // what the operator was shown
};

// Message captions and texts as the operator sees them.
std::string TableTransferOkText(TableTransferKind kind);
std::string TableTransferFailText(TableTransferKind kind);

// file: as typed in the page's edit; a relative name is taken from the program folder.
TableTransferOutcome RunTableTransfer(Station& station, TableTransferKind kind, const std::string& file,
                                      std::stop_token stop = {});

}  // namespace qk
