#include "devices/UsbClass.h"

#include "serial/MessagePump.h"

namespace tarvex {

TUsbClass::TUsbClass(IMessagePump* pump, std::unique_ptr<IUsbBackend> backend)
    : pump_(pump), backend_(std::move(backend)), alive_(std::make_shared<bool>(true)) {
  if (backend_ && pump_ != nullptr) {
    std::weak_ptr<bool> alive = alive_;
    IMessagePump* pump_ptr = pump_;
    backend_->Start([this, alive, pump_ptr](const TUsbDeviceEvent& event) {
      pump_ptr->Post([this, alive, event] {
        if (!alive.expired()) Notify(event);
      });
    });
  }
}

TUsbClass::~TUsbClass() {
  if (backend_) backend_->Stop();
  alive_.reset();
}

void TUsbClass::Notify(const TUsbDeviceEvent& event) {
  const TOnUsbChangeEvent& handler = event.Arrival ? OnUsbInsertion : OnUsbRemoval;
  if (handler) handler(this, event.DevType, event.DriverName, event.FriendlyName);
}

}  // namespace tarvex
