#include "dialogs/DetailFields.h"

#include "app/Station.h"

namespace qk {

std::vector<DetailField> DetailFields(const DeviceDetail& d) {
  return {
      {"FWInfoEdit", "F/W Info . ", d.fwInfo},
      {"ModNumEdit", "Model Num. ", d.model},
      {"SNEdit", "Serial Num. ", d.serial},
      {"FWVerEdit", "F/W Ver. ", d.firmware},
      {"CapEdit", "Capacity ", d.capacity},
      {"VendorNameEdit", "Vendor Name", d.vendorName},
      {"ProductNameEdit", "Product Name", d.productName},
      {"ManufacturStringEdit", "Manufactur String", d.manufacturerString},
      {"ProductStringEdit", "Product String", d.productString},
      {"VIDEdit", "VID", d.vid},
      {"PIDEdit", "PID", d.pid},
  };
}

DeviceDetail ReadSlotDetail(Station& station, int slot) {
  ControllerContext& ctx = station.controller(slot);
  ControllerOps ops(station.transport(), ctx);
  return ReadDeviceDetail(ops, ctx.buffers.first());
}

}  // namespace qk
