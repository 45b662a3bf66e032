// Port names as the program shows them on every system: "COM<n>".
#pragma once

#include <optional>
#include <string>

namespace tarvex {

// "COM7" -> 7; nothing for any other shape (no digits, a leading zero number, beyond 65535).
inline std::optional<int> ComNumberOf(const std::string& name) {
  if (name.size() < 4 || name.compare(0, 3, "COM") != 0) return std::nullopt;
  const std::string digits = name.substr(3);
  if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const int n = std::stoi(digits);
  if (n < 1 || n > 0xFFFF) return std::nullopt;
  return n;
}

// In the ports folder of the Linux build, "USB-COM<n>" stands for the USB device of the lead behind
// COM<n>: it comes before the port's link and goes after it, as a USB serial lead's two device
// events do.
inline constexpr const char* kUsbDeviceEntryPrefix = "USB-";
inline std::string UsbDeviceEntryName(const std::string& comName) {
  return kUsbDeviceEntryPrefix + comName;
}

}  // namespace tarvex
