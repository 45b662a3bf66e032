// USB arrivals and removals on Linux: the kernel's USB device events through a udev monitor
// (subsystem "usb", device type "usb_device"), and the COM<n> links coming and going in the ports
// folder, which is how the product emulator re-enumerates. Both are reported as device events.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "devices/UsbClass.h"

struct udev;
struct udev_monitor;

namespace tarvex {

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
