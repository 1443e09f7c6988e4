#include "platform/linux/UdevHotplug.h"

#include <libudev.h>
#include <poll.h>

#include <unistd.h>

#include <cstring>

namespace qk {

bool UdevHotplug::start(std::function<void(DeviceChange)> onChange) {
  stop();
  udev* u = udev_new();
  if (!u) return false;
  // Without a udev daemon (a minimal system, a rescue shell) nothing comes on
  // udev's channel; the kernel's own uevents then tell of the same changes.
  udev_monitor* mon = udev_monitor_new_from_netlink(u, UdevHotplug::eventSource());
  if (!mon || udev_monitor_filter_add_match_subsystem_devtype(mon, "usb", "usb_device") < 0 ||
      udev_monitor_enable_receiving(mon) < 0) {
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
      const char* action = udev_device_get_action(dev);
      if (action && std::strcmp(action, "add") == 0) onChange(DeviceChange::Arrival);
      if (action && std::strcmp(action, "remove") == 0) onChange(DeviceChange::Removal);
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
