#include "devices/LinuxUsbBackend.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>

#include "devices/LinuxPorts.h"

namespace tarvex {

namespace {
std::string Property(struct udev_device* dev, const char* name) {
  const char* v = udev_device_get_property_value(dev, name);
  return v != nullptr ? v : "";
}
std::string Text(const char* s) {
  return s != nullptr ? s : "";
}
constexpr const char* kUsbEntryPrefix = kUsbDeviceEntryPrefix;
}  // namespace

std::optional<TUsbDeviceEvent> UdevDeviceEvent(const TUdevEventInfo& info) {
  const bool add = info.Action == "add";
  if (!add && info.Action != "remove") return std::nullopt;
  TUsbDeviceEvent e;
  e.Arrival = add;
  if (info.Subsystem == "usb" && info.DevType == "usb_device") {
    e.DevType = info.Model;
    e.DriverName = info.Driver;
    e.FriendlyName = info.Vendor;
    return e;
  }
  if (info.Subsystem == "tty" && info.UsbParent) {
    e.DevType = "Serial port";
    e.DriverName = info.Driver;
    e.FriendlyName = info.DevName;
    return e;
  }
  return std::nullopt;
}

std::optional<TUsbDeviceEvent> PortsFolderEvent(const std::string& name, bool arrival) {
  TUsbDeviceEvent e;
  e.Arrival = arrival;
  if (ComNumberOf(name)) {
    e.DevType = "Serial port";
  } else if (name.size() > std::strlen(kUsbEntryPrefix) && name.rfind(kUsbEntryPrefix, 0) == 0) {
    e.DevType = "USB device";
  } else {
    return std::nullopt;
  }
  e.FriendlyName = name;
  return e;
}


LinuxUsbBackend::LinuxUsbBackend(std::string portsDir) : portsDir_(std::move(portsDir)) {
  udev_ = udev_new();
  if (udev_ != nullptr) {
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor_ != nullptr &&
        (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", "usb_device") < 0 ||
         udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) < 0 ||
         udev_monitor_enable_receiving(monitor_) < 0)) {
      udev_monitor_unref(monitor_);
      monitor_ = nullptr;
    }
  }
  if (!portsDir_.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(portsDir_, ec);
    inotifyFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd_ >= 0 &&
        ::inotify_add_watch(inotifyFd_, portsDir_.c_str(),
                            IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM) < 0) {
      ::close(inotifyFd_);
      inotifyFd_ = -1;
    }
  }
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

LinuxUsbBackend::~LinuxUsbBackend() {
  Stop();
  if (monitor_ != nullptr) udev_monitor_unref(monitor_);
  if (udev_ != nullptr) udev_unref(udev_);
  if (inotifyFd_ >= 0) ::close(inotifyFd_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void LinuxUsbBackend::Start(std::function<void(const TUsbDeviceEvent&)> report) {
  if (thread_.joinable() || wakeFd_ < 0) return;
  report_ = std::move(report);
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
}

void LinuxUsbBackend::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto n = ::write(wakeFd_, &one, sizeof one);
  thread_.join();
}

void LinuxUsbBackend::Run() {
  while (!stop_) {
    std::array<pollfd, 3> fds{};
    nfds_t count = 0;
    fds[count++] = {wakeFd_, POLLIN, 0};
    const int udevFd = monitor_ != nullptr ? udev_monitor_get_fd(monitor_) : -1;
    if (udevFd >= 0) fds[count++] = {udevFd, POLLIN, 0};
    if (inotifyFd_ >= 0) fds[count++] = {inotifyFd_, POLLIN, 0};
    if (::poll(fds.data(), count, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (nfds_t i = 1; i < count; ++i) {
      if ((fds[i].revents & POLLIN) == 0) continue;
      if (fds[i].fd == udevFd) {
        ReadUdev();
      } else {
        ReadInotify();
      }
    }
  }
}

void LinuxUsbBackend::ReadUdev() {
  struct udev_device* dev = udev_monitor_receive_device(monitor_);
  if (dev == nullptr) return;
  TUdevEventInfo info;
  info.Action = Text(udev_device_get_action(dev));
  info.Subsystem = Text(udev_device_get_subsystem(dev));
  info.DevType = Text(udev_device_get_devtype(dev));
  // The parent is looked up in the event's own device: a removed one is still described there.
  // A removed tty may have lost its parents already; udev's own note of the bus still says it.
  info.UsbParent = udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device") != nullptr ||
                   Property(dev, "ID_BUS") == "usb";
  info.Model = Property(dev, "ID_MODEL_FROM_DATABASE");
  if (info.Model.empty()) info.Model = Property(dev, "ID_MODEL");
  info.Driver = Property(dev, "DRIVER");
  if (info.Driver.empty()) info.Driver = Property(dev, "ID_USB_DRIVER");
  info.Vendor = Property(dev, "ID_VENDOR_FROM_DATABASE");
  info.DevName = Text(udev_device_get_sysname(dev));
  if (const auto e = UdevDeviceEvent(info)) report_(*e);
  udev_device_unref(dev);
}

void LinuxUsbBackend::ReadInotify() {
  alignas(inotify_event) char buf[4096];
  for (;;) {
    const ssize_t n = ::read(inotifyFd_, buf, sizeof buf);
    if (n <= 0) return;
    for (ssize_t off = 0; off < n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
      off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
      if (ev->len == 0) continue;
      if (const auto e = PortsFolderEvent(ev->name, (ev->mask & (IN_CREATE | IN_MOVED_TO)) != 0)) report_(*e);
    }
  }
}

}  // namespace tarvex
