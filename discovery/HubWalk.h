#pragma once
// Numbers the physical ports by topology: every walked hub adds its port count
// to the slot count, an external hub takes the slots of the base in force when
// it is reached and shifts its root hub's later ports.
#include "platform/DeviceTree.h"
#include "run/PortContext.h"

namespace qk {

class HubWalk {
 public:
  static constexpr int HubLimit = 80;

  // Fills the hub-walk fields of the scan table and returns the slot count.
  // Slots beyond the table are counted but never written.
  static int run(DeviceTree& tree, PortTable& scanTable);
};

}  // namespace qk
