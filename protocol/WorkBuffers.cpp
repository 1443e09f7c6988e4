#include "protocol/WorkBuffers.h"

namespace qk {

WorkBuffers::WorkBuffers()
    : first_(allocate(kSmallSize)), second_(allocate(kSmallSize)), large_(allocate(kLargeSize)) {}

}  // namespace qk
