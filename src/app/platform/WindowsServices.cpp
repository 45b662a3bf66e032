#include "app/platform/WindowsServices.h"

#include <shellapi.h>

#include <vector>

#include "core/Win32Names.h"
#include "serial/Win32Text.h"

namespace tarvex {

namespace {

class WindowsSettingsKey : public ISettingsKey {
 public:
  explicit WindowsSettingsKey(HKEY key) : key_(key) {}
  ~WindowsSettingsKey() override { Close(); }
  WindowsSettingsKey(const WindowsSettingsKey&) = delete;
  WindowsSettingsKey& operator=(const WindowsSettingsKey&) = delete;

  [[nodiscard]] bool ValueExists(const std::string& name) const override {
    return key_ != nullptr && RegQueryValueExW(key_, WideFromUtf8(name).c_str(), nullptr, nullptr, nullptr,
                                               nullptr) == ERROR_SUCCESS;
  }
  [[nodiscard]] std::int32_t ReadInteger(const std::string& name) const override {
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LONG r = RegQueryValueExW(key_, WideFromUtf8(name).c_str(), nullptr, &type,
                                    reinterpret_cast<BYTE*>(&value), &size);
    if (r == ERROR_FILE_NOT_FOUND) throw std::out_of_range(name);
    if ((r != ERROR_SUCCESS && r != ERROR_MORE_DATA) || type != REG_DWORD || size != sizeof value) {
      throw ESettingsTypeError("Invalid data type for '" + name + "'");
    }
    return static_cast<std::int32_t>(value);
  }
  [[nodiscard]] std::string ReadString(const std::string& name) const override {
    const std::wstring wname = WideFromUtf8(name);
    DWORD type = 0;
    DWORD size = 0;
    LONG r = RegQueryValueExW(key_, wname.c_str(), nullptr, &type, nullptr, &size);
    if (r == ERROR_FILE_NOT_FOUND) throw std::out_of_range(name);
    if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
      throw ESettingsTypeError("Invalid data type for '" + name + "'");
    }
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    r = RegQueryValueExW(key_, wname.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (r != ERROR_SUCCESS) throw ESettingsTypeError("Invalid data type for '" + name + "'");
    return Utf8FromWide(std::wstring(buffer.data()));
  }
  void WriteInteger(const std::string& name, std::int32_t value) override {
    const DWORD v = static_cast<DWORD>(value);
    RegSetValueExW(key_, WideFromUtf8(name).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v),
                   sizeof v);
  }
  void WriteString(const std::string& name, const std::string& value) override {
    const std::wstring w = WideFromUtf8(value);
    RegSetValueExW(key_, WideFromUtf8(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(w.c_str()),
                   static_cast<DWORD>((w.size() + 1) * sizeof(wchar_t)));
  }
  void Close() override {
    if (key_ == nullptr) return;
    RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_;
};

}  // namespace

std::unique_ptr<ISettingsKey> WindowsSettingsStore::OpenKey(const std::string& path, bool canCreate) {
  HKEY key = nullptr;
  const std::wstring wpath = WideFromUtf8(path);
  const LONG r = canCreate
                     ? RegCreateKeyExW(HKEY_CURRENT_USER, wpath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       KEY_READ | KEY_WRITE, nullptr, &key, nullptr)
                     : RegOpenKeyExW(HKEY_CURRENT_USER, wpath.c_str(), 0, KEY_READ | KEY_WRITE, &key);
  if (r != ERROR_SUCCESS) return nullptr;
  return std::make_unique<WindowsSettingsKey>(key);
}

std::string WindowsFolders::GetSpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
  return Utf8FromWide(path);
}

bool WindowsFolders::DirectoryExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD a = GetFileAttributesW(WideFromUtf8(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool WindowsFolders::CreateDir(const std::string& path) {
  return CreateDirectoryW(WideFromUtf8(path).c_str(), nullptr) != FALSE;
}

std::string WindowsFolders::ProgramFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) break;
    buffer.resize(buffer.size() * 2);
  }
  std::wstring file(buffer.data());
  const auto sep = file.find_last_of(L"\\/");
  return sep == std::wstring::npos ? std::string() : Utf8FromWide(file.substr(0, sep + 1));
}

void WindowsDebugOutput::Output(const std::string& line) {
  OutputDebugStringW(WideFromUtf8(line).c_str());
}

void WindowsShell::Open(const std::string& target) {
  // The shell's answer is not reported.
  ShellExecuteW(nullptr, L"open", WideFromUtf8(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace tarvex
