// What the port benchmarks share: the process's CPU time, and a port set up as the main window
// sets it, opening the pseudo-terminal's device for any number.
#pragma once

#include <sys/resource.h>

#include <optional>
#include <string>

#include "serial/ComPort.h"
#include "serial/PtyPeer.h"

namespace tarvex::test {

inline double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

inline void SetUpOnPeer(TSerComPort& port, const PtyPeer& peer) {
  port.Baud = 115200;
  port.AutoOpen = false;
  port.PromptForPort = false;
  port.SetComNumber(1);
  port.DevicePath = [path = peer.Path()](int) { return std::optional<std::string>(path); };
}

}  // namespace tarvex::test
