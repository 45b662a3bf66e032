// Serial port names on Windows: the data strings of the values under HKEY_LOCAL_MACHINE
// "HARDWARE\DEVICEMAP\SERIALCOMM" (COM3, ...), every port the system lists, USB or not.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/Platform.h"

namespace tarvex {

class WindowsPorts : public IPortEnumerator {
 public:
  // Unsorted, as the key lists them; empty when the key cannot be opened.
  std::vector<std::string> PortNames() override;
  // "\\.\COM<n>", the device the serial port component opens for port n.
  [[nodiscard]] static std::optional<std::string> DevicePathFor(int number);
};

}  // namespace tarvex
