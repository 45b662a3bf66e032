// `tarvex-flash flash`: a whole firmware update run headless through the main window's own logic.
// The command clicks Connect, Open and Start on a TfrmMain, pumps its messages and reports what the
// window shows; it decides nothing about the update itself.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Platform.h"
#include "devices/UsbClass.h"
#include "serial/ComPortIntf.h"

namespace tarvex::cli {

// What the command hands the serial port component it asks for.
struct TPortContext {
  // The device behind COM<n>, or nothing when there is no such port now. (The window hooks the
  // port's own reports, its worker threads' failures and its handlers' exceptions.)
  std::function<std::optional<std::string>(int)> DevicePath;
};

// What the command takes from the program that runs it. Production fills MakeComPort with the
// serial port component; tests put a product emulator behind it.
struct TFlashServices {
  std::function<std::unique_ptr<IComPort>(const TPortContext&)> MakeComPort;
  // The serial ports offered; null: the system's.
  IPortEnumerator* Ports = nullptr;
  // The data folders; null: the system's.
  IFolders* Folders = nullptr;
  // Where the record of an interrupted update is kept (the only setting the command touches);
  // null: the system's.
  ISettingsStore* Settings = nullptr;
  // The USB watcher for --wait-reconnect; null: the system's.
  std::function<std::unique_ptr<IUsbBackend>()> MakeUsbBackend;
  // Standard output is a terminal: the progress bar is redrawn in place.
  bool Terminal = false;
  // The next stop request the user has made since the last call: 0 none, kExitInterrupted
  // (Ctrl-C) or kExitTerminated (SIGTERM). Polled on the user-interface thread; null: none ever.
  std::function<int()> TakeStopRequest;
  // Bounds of the waits, in ticks of 55 ms.
  std::int32_t IdentifyTicks = 1091;  // connect until the product has told who it is (60 s)
  // No block, page or step advanced during the update: longer than the boot loader's longest
  // give-up (five transmissions of 90 ticks), so the window's own protocol always speaks first.
  std::int32_t StallTicks = 5 * 90 + 18;
  std::int32_t ReconnectTicks = 1091;  // --wait-reconnect: the product back and identified (60 s)
};

int RunFlash(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             const TFlashServices& services);
// `tarvex-flash status --port COM<n>`: what answers on the port.
int RunStatus(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const TFlashServices& services);

}  // namespace tarvex::cli
