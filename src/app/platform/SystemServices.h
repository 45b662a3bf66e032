// The platform services of the system the program runs on, built in one place. Every front end
// (the desktop program, the command line, the tools) takes them from here and names no system's
// classes; one implementation per system is chosen by the build.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/Globals.h"
#include "core/Platform.h"
#include "devices/UsbClass.h"

namespace tarvex {

struct TSystemServicesOptions {
  // Where the settings live instead of their usual place (the demonstration keeps its own); empty:
  // the usual place. Linux only.
  std::string SettingsFile;
  // A ports folder of its own, whose ports alone are listed (the demonstration). Linux only.
  std::string OnlyPortsDir;
};

struct TSystemServices {
  std::unique_ptr<ISettingsStore> Settings;
  std::unique_ptr<IFolders> Folders;
  std::unique_ptr<IShell> Shell;
  std::unique_ptr<IPortEnumerator> Ports;
  // The system's debugger output channel; null where LogDebug's own default (standard error) is it.
  std::unique_ptr<IDebugOutput> DebugOutput;
  // The device the serial port component opens for COM<n>; nothing when there is no such port.
  std::function<std::optional<std::string>(int)> DevicePath;
  // Makes the watcher of USB devices arriving and leaving.
  std::function<std::unique_ptr<IUsbBackend>()> UsbBackend;
};

TSystemServices MakeSystemServices(const TSystemServicesOptions& options = {});

}  // namespace tarvex
