#include "platform/bench/BenchDeviceTree.h"

#include <cstdio>
#include <map>

#include "sim/Bench.h"

namespace qk {

namespace {

std::string instanceId(const sim::Attachment& a) {
  char head[32];
  std::snprintf(head, sizeof head, "USB\\VID_%04X&PID_%04X\\", a.vendorId, a.productId);
  std::string name = a.name;
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return head + name;
}

}  // namespace

std::optional<std::vector<std::shared_ptr<HubDesc>>> BenchDeviceTree::rootHubs() {
  const auto& specs = bench_.hubs();
  std::map<int, std::shared_ptr<HubDesc>> hubs;
  for (const auto& h : specs) {
    auto d = std::make_shared<HubDesc>();
    d->name = "Hub" + std::to_string(h.number);
    d->ports.resize(h.ports);
    hubs[h.number] = d;
  }
  for (const auto& h : specs) {
    if (h.parentHub == 0) continue;
    auto parent = hubs.find(h.parentHub);
    if (parent == hubs.end() || h.parentPort < 1 || h.parentPort > static_cast<int>(parent->second->ports.size()))
      continue;
    PortDesc& p = parent->second->ports[h.parentPort - 1];
    p.state = PortDesc::State::Hub;
    p.hub = hubs[h.number];
  }
  for (const auto& a : bench_.attachments()) {
    auto hub = hubs.find(a.hub);
    if (!a.present || hub == hubs.end() || a.port < 1 || a.port > static_cast<int>(hub->second->ports.size()))
      continue;
    PortDesc& p = hub->second->ports[a.port - 1];
    p.state = PortDesc::State::Device;
    p.device = {instanceId(a), "bench:" + a.name, a.vendorId, a.productId, a.usbSerial};
  }
  std::vector<std::shared_ptr<HubDesc>> roots;
  for (const auto& h : specs) {
    // Full-speed-only controllers get no slots.
    if (h.parentHub == 0 && h.kind != sim::HubKind::Usb1) roots.push_back(hubs[h.number]);
  }
  return roots;
}

std::optional<std::vector<DiskDesc>> BenchDeviceTree::disks() {
  std::vector<DiskDesc> out;
  for (const auto& a : bench_.attachments()) {
    if (!a.present || a.kind != sim::AttachmentKind::Drive) continue;
    out.push_back({a.devicePath, instanceId(a), a.devicePath, a.name, true});
  }
  return out;
}

bool BenchHotplug::start(std::function<void(DeviceChange)> onChange) {
  stop();
  listener_ = bench_.addListener([onChange = std::move(onChange)](const sim::BenchEvent& e) {
    onChange(e.plug ? DeviceChange::Arrival : DeviceChange::Removal);
  });
  return true;
}

void BenchHotplug::stop() {
  if (listener_ != 0) bench_.removeListener(listener_);
  listener_ = 0;
}

bool BenchRemoval::remove(const std::string& usbInstance) {
  if (!bench_.isPresent(usbInstance)) return false;
  return bench_.unplug(usbInstance);
}

}  // namespace qk
