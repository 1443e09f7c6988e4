#include "platform/linux/UdevHotplug.h"

#include <libudev.h>
#include <poll.h>

#include <unistd.h>

#include <cstring>

namespace qk {

namespace {

// usb-storage creates the disk and its generic node a second or more after the
// USB device; their arrivals restart the rescan delay so the scan finds the disk.
struct Watched {
  const char* subsystem;
  const char* devtype;  // null: any
};
constexpr Watched kWatched[] = {{"usb", "usb_device"}, {"block", "disk"}, {"scsi_generic", nullptr}};

}  // namespace

std::optional<DeviceChange> UdevHotplug::classify(const char* subsystem, const char* devtype, const char* action) {
  if (!subsystem || !action) return std::nullopt;
  for (const Watched& w : kWatched) {
    if (std::strcmp(subsystem, w.subsystem) != 0) continue;
    if (w.devtype && (!devtype || std::strcmp(devtype, w.devtype) != 0)) continue;
    if (std::strcmp(action, "add") == 0) return DeviceChange::Arrival;
    if (std::strcmp(action, "remove") == 0) return DeviceChange::Removal;
  }
  return std::nullopt;
}

bool UdevHotplug::start(std::function<void(DeviceChange)> onChange) {
  stop();
  udev* u = udev_new();
  if (!u) return false;
  // Without a udev daemon (a minimal system, a rescue shell) nothing comes on
  // udev's channel; the kernel's own uevents then tell of the same changes.
  udev_monitor* mon = udev_monitor_new_from_netlink(u, UdevHotplug::eventSource());
  bool armed = mon != nullptr;
  for (const Watched& w : kWatched) {
    armed = armed && udev_monitor_filter_add_match_subsystem_devtype(mon, w.subsystem, w.devtype) >= 0;
  }
  if (!armed || udev_monitor_enable_receiving(mon) < 0) {
    if (mon) udev_monitor_unref(mon);
    udev_unref(u);
    return false;
  }
  thread_ = std::jthread([u, mon, onChange = std::move(onChange)](std::stop_token stop) {
    pollfd pfd{udev_monitor_get_fd(mon), POLLIN, 0};
    while (!stop.stop_requested()) {
      if (::poll(&pfd, 1, 200) <= 0) continue;  // wakes regularly to notice stop
      udev_device* dev = udev_monitor_receive_device(mon);
      if (!dev) continue;
      auto change = classify(udev_device_get_subsystem(dev), udev_device_get_devtype(dev),
                             udev_device_get_action(dev));
      if (change) onChange(*change);
      udev_device_unref(dev);
    }
    udev_monitor_unref(mon);
    udev_unref(u);
  });
  return true;
}

const char* UdevHotplug::eventSource(const char* controlSocket) {
  return ::access(controlSocket, F_OK) == 0 ? "udev" : "kernel";
}

void UdevHotplug::stop() {
  if (thread_.joinable()) {
    thread_.request_stop();
    thread_.join();
  }
}

}  // namespace qk
