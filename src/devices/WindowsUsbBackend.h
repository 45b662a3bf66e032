// USB arrivals and removals on Windows: a hidden window of its own, on a thread of its own,
// registered for the device interfaces of every USB device (RegisterDeviceNotificationW), turns
// WM_DEVICECHANGE arrivals and removals into device events, with the device's description from
// the registry.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "devices/UsbClass.h"

namespace tarvex {

// The hardware key (VID_vvvv&PID_pppp) and instance key of a device path
// \\?\USB#VID_vvvv&PID_pppp#instance#{class}; a part without its closing '#' is empty.
struct TUsbPathKeys {
  std::string Hardware;
  std::string Instance;
};
TUsbPathKeys SplitUsbDevicePath(const std::string& path);

class WindowsUsbBackend : public IUsbBackend {
 public:
  WindowsUsbBackend() = default;
  ~WindowsUsbBackend() override;
  WindowsUsbBackend(const WindowsUsbBackend&) = delete;
  WindowsUsbBackend& operator=(const WindowsUsbBackend&) = delete;

  void Start(std::function<void(const TUsbDeviceEvent&)> report) override;
  void Stop() override;

 private:
  void Run();

  std::function<void(const TUsbDeviceEvent&)> report_;
  std::thread thread_;
  std::atomic<std::uintptr_t> window_{0};
  std::mutex readyLock_;
  std::condition_variable readyCv_;
  bool ready_ = false;
};

}  // namespace tarvex
