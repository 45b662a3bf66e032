// USB arrival and removal notifications, one event per device, delivered on the user-interface
// thread. A backend watches the system on a thread of its own and reports each device that comes
// or goes; TUsbClass posts the report to the user-interface thread and calls the assigned event
// there. Without a backend (tests) Notify delivers reports directly.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace tarvex {

class IMessagePump;
class TUsbClass;

// The notifier, then the device type, driver name and friendly name (empty where unknown).
using TOnUsbChangeEvent = std::function<void(TUsbClass* sender, const std::string& devType,
                                             const std::string& driverName, const std::string& friendlyName)>;

struct TUsbDeviceEvent {
  bool Arrival = true;  // false: removal
  std::string DevType;
  std::string DriverName;
  std::string FriendlyName;
};

// Watches the system for devices on a thread of its own.
class IUsbBackend {
 public:
  virtual ~IUsbBackend() = default;
  // Starts watching; report is called on the backend's thread, once per device event.
  virtual void Start(std::function<void(const TUsbDeviceEvent&)> report) = 0;
  // Stops watching; no report is made once this returns.
  virtual void Stop() = 0;
};

class TUsbClass {
 public:
  // pump may be null when there is no backend.
  TUsbClass(IMessagePump* pump, std::unique_ptr<IUsbBackend> backend);
  ~TUsbClass();
  TUsbClass(const TUsbClass&) = delete;
  TUsbClass& operator=(const TUsbClass&) = delete;

  TOnUsbChangeEvent OnUsbInsertion;
  TOnUsbChangeEvent OnUsbRemoval;

  // User-interface thread: deliver one event now (the backend's reports arrive here).
  void Notify(const TUsbDeviceEvent& event);

 private:
  IMessagePump* pump_;
  std::unique_ptr<IUsbBackend> backend_;
  // Posted reports check it: a notifier destroyed before its reports ran is not touched.
  std::shared_ptr<bool> alive_;
};

}  // namespace tarvex
