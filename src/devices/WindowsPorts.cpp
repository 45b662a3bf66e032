#include "devices/WindowsPorts.h"

#include <vector>

#include "core/Win32Names.h"
#include "serial/Win32Dispatcher.h"
#include "serial/Win32Text.h"

namespace tarvex {

std::vector<std::string> WindowsPorts::PortNames() {
  std::vector<std::string> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return names;
  }
  for (DWORD i = 0;; ++i) {
    wchar_t valueName[256];
    DWORD nameLength = 256;
    DWORD type = 0;
    wchar_t data[256] = {};
    DWORD dataSize = sizeof data - sizeof(wchar_t);
    const LONG r = RegEnumValueW(key, i, valueName, &nameLength, nullptr, &type,
                                 reinterpret_cast<BYTE*>(data), &dataSize);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS || type != REG_SZ) continue;
    names.push_back(Utf8FromWide(std::wstring(data)));
  }
  RegCloseKey(key);
  return names;
}

std::optional<std::string> WindowsPorts::DevicePathFor(int number) {
  if (number < 1) return std::nullopt;
  return TSerWin32Dispatcher::DevicePathOf(number);
}

}  // namespace tarvex
