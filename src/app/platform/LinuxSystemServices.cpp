#include "app/platform/LinuxFolders.h"
#include "app/platform/LinuxSettingsStore.h"
#include "app/platform/LinuxShell.h"
#include "app/platform/SystemServices.h"
#include "devices/LinuxPorts.h"
#include "devices/LinuxUsbBackend.h"

namespace tarvex {

TSystemServices MakeSystemServices(const TSystemServicesOptions& options) {
  TSystemServices s;
  s.Settings = std::make_unique<LinuxSettingsStore>(
      options.SettingsFile.empty() ? LinuxSettingsStore::DefaultFilePath() : options.SettingsFile);
  s.Folders = std::make_unique<LinuxFolders>();
  s.Shell = std::make_unique<XdgShell>();
  auto ports = options.OnlyPortsDir.empty() ? std::make_unique<LinuxPorts>()
                                            : std::make_unique<LinuxPorts>(options.OnlyPortsDir, "", "");
  LinuxPorts* raw = ports.get();
  const std::string portsDir = raw->PortsDir();
  s.DevicePath = [raw](int n) { return raw->DevicePathFor(n); };
  s.UsbBackend = [portsDir] { return std::make_unique<LinuxUsbBackend>(portsDir); };
  s.Ports = std::move(ports);
  return s;
}

}  // namespace tarvex
