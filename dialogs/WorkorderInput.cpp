#include "dialogs/WorkorderInput.h"

namespace qk {

bool WorkorderComplete(const WorkorderInput& input) {
  return !input.workOrder.empty() && !input.partNumber.empty() && !input.weekCode.empty();
}

}  // namespace qk
