// USB arrivals and removals on Linux, counted as Windows counts the device interfaces of a USB
// serial lead: the USB device and its serial port are two events each way.
//  - udev: the USB device itself (subsystem "usb", device type "usb_device") and each tty whose
//    parent is a USB device;
//  - the ports folder, where the product emulator re-enumerates: an entry "USB-<name>" is its USB
//    device, a link COM<n> its serial port.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "devices/UsbClass.h"

struct udev;
struct udev_monitor;

namespace tarvex {

// One udev event as the backend sees it; nothing when it is no arrival or removal of a USB device
// or of a serial port on one.
struct TUdevEventInfo {
  std::string Action;     // "add", "remove", ...
  std::string Subsystem;  // "usb", "tty"
  std::string DevType;    // "usb_device" for a USB device
  bool UsbParent = false;  // a tty: one of its parents is a USB device
  std::string Model, Driver, Vendor, DevName;
};
std::optional<TUsbDeviceEvent> UdevDeviceEvent(const TUdevEventInfo& info);
// An entry of the ports folder coming or going; nothing for a name that is neither a port link
// nor a USB device entry.
std::optional<TUsbDeviceEvent> PortsFolderEvent(const std::string& name, bool arrival);


class LinuxUsbBackend : public IUsbBackend {
 public:
  // portsDir may be empty (no folder to watch); it is created when missing.
  explicit LinuxUsbBackend(std::string portsDir);
  ~LinuxUsbBackend() override;
  LinuxUsbBackend(const LinuxUsbBackend&) = delete;
  LinuxUsbBackend& operator=(const LinuxUsbBackend&) = delete;

  void Start(std::function<void(const TUsbDeviceEvent&)> report) override;
  void Stop() override;

  // Whether the udev monitor could be set up (not in every container).
  [[nodiscard]] bool UdevMonitoring() const { return monitor_ != nullptr; }
  [[nodiscard]] bool WatchingPortsDir() const { return inotifyFd_ >= 0; }

 private:
  void Run();
  void ReadUdev();
  void ReadInotify();

  std::string portsDir_;
  struct udev* udev_ = nullptr;
  struct udev_monitor* monitor_ = nullptr;
  int inotifyFd_ = -1;
  int wakeFd_ = -1;  // eventfd that ends the thread's poll
  std::function<void(const TUsbDeviceEvent&)> report_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

}  // namespace tarvex
