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

  // What the notifier's thread works with; it keeps this alive as long as it runs, so a thread
  // that cannot be stopped in time (a device-notification service that does not answer) is let go
  // without anything it touches going away.
  struct TState {
    std::function<void(const TUsbDeviceEvent&)> report;
    std::mutex lock;
    std::condition_variable changed;
    std::uintptr_t window = 0;
    bool ready = false;
    bool ended = false;
    bool stopping = false;
  };

 private:
  std::shared_ptr<TState> state_;
  std::thread thread_;
};

}  // namespace tarvex
