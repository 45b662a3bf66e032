#include "app/platform/SystemServices.h"
#include "app/platform/WindowsServices.h"
#include "devices/WindowsPorts.h"
#include "devices/WindowsUsbBackend.h"

namespace tarvex {

TSystemServices MakeSystemServices(const TSystemServicesOptions& /*options*/) {
  TSystemServices s;
  s.Settings = std::make_unique<WindowsSettingsStore>();
  s.Folders = std::make_unique<WindowsFolders>();
  s.Shell = std::make_unique<WindowsShell>();
  s.DebugOutput = std::make_unique<WindowsDebugOutput>();
  s.Ports = std::make_unique<WindowsPorts>();
  s.DevicePath = [](int n) { return WindowsPorts::DevicePathFor(n); };
  s.UsbBackend = [] { return std::make_unique<WindowsUsbBackend>(); };
  return s;
}

}  // namespace tarvex
