#include "devices/WindowsUsbBackend.h"

#include "core/Win32Names.h"
// after windows.h, which it needs
#include <dbt.h>

#include <chrono>
#include <vector>

#include "serial/Win32Text.h"

namespace tarvex {

namespace {

constexpr GUID kUsbDeviceInterface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
constexpr const wchar_t* kWindowClass = L"TarvexUsbNotifier";

std::string ReadRegString(HKEY key, const wchar_t* name) {
  wchar_t data[512] = {};
  DWORD size = sizeof data - sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS)
    return {};
  if (type != REG_SZ && type != REG_EXPAND_SZ) return {};
  return Utf8FromWide(std::wstring(data));
}

std::vector<std::wstring> SubKeys(HKEY root, const std::wstring& path) {
  std::vector<std::wstring> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  RegCloseKey(key);
  return names;
}

// The three strings of an event: the device's description, and a USB storage device's driver
// and friendly names (empty for any other device).
void Describe(const std::string& path, TUsbDeviceEvent& e) {
  const TUsbPathKeys keys = SplitUsbDevicePath(path);
  const std::wstring hardware = WideFromUtf8(keys.Hardware);
  const std::wstring instance = WideFromUtf8(keys.Instance);
  HKEY key = nullptr;
  const std::wstring usb = L"SYSTEM\\CurrentControlSet\\Enum\\USB\\" + hardware + L"\\" + instance;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, usb.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  e.DevType = ReadRegString(key, L"DeviceDesc");
  RegCloseKey(key);
  const std::wstring storage = L"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR";
  for (const auto& kind : SubKeys(HKEY_LOCAL_MACHINE, storage)) {
    bool matched = false;
    for (const auto& sub : SubKeys(HKEY_LOCAL_MACHINE, storage + L"\\" + kind)) {
      if (sub.compare(0, instance.size(), instance) != 0) continue;
      HKEY k = nullptr;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (storage + L"\\" + kind + L"\\" + sub).c_str(), 0, KEY_READ,
                        &k) != ERROR_SUCCESS) {
        continue;
      }
      e.DriverName = ReadRegString(k, L"DeviceDesc");
      e.FriendlyName = ReadRegString(k, L"FriendlyName");
      RegCloseKey(k);
      matched = true;
    }
    if (matched) break;
  }
}

LRESULT CALLBACK NotifierProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_DEVICECHANGE && (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    auto* state = reinterpret_cast<WindowsUsbBackend::TState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (header != nullptr && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE && state != nullptr) {
      const auto* iface = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
      TUsbDeviceEvent e;
      e.Arrival = wParam == DBT_DEVICEARRIVAL;
      Describe(Utf8FromWide(iface->dbcc_name), e);
      std::function<void(const TUsbDeviceEvent&)> report;
      {
        std::lock_guard lock(state->lock);
        if (!state->stopping) report = state->report;
      }
      if (report) report(e);
    }
    return TRUE;
  }
  if (msg == WM_CLOSE) {
    DestroyWindow(hwnd);
    return 0;
  }
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void RunNotifier(const std::shared_ptr<WindowsUsbBackend::TState>& state) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = NotifierProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kWindowClass;
  RegisterClassExW(&wc);  // a second registration of the class fails harmlessly
  const HWND hwnd =
      CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  if (hwnd != nullptr) SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state.get()));
  {
    std::lock_guard lock(state->lock);
    state->window = reinterpret_cast<std::uintptr_t>(hwnd);
    state->ready = true;
    state->changed.notify_all();
  }
  if (hwnd == nullptr) return;
  // After the window is known: a stop asked for while the system registers still finds it.
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = kUsbDeviceInterface;
  const HDEVNOTIFY notify = RegisterDeviceNotificationW(hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (notify != nullptr) UnregisterDeviceNotification(notify);
}

}  // namespace

TUsbPathKeys SplitUsbDevicePath(const std::string& path) {
  TUsbPathKeys keys;
  const auto first = path.find('#');
  if (first == std::string::npos) return keys;
  const auto second = path.find('#', first + 1);
  if (second == std::string::npos) return keys;
  keys.Hardware = path.substr(first + 1, second - first - 1);
  const auto third = path.find('#', second + 1);
  if (third != std::string::npos) keys.Instance = path.substr(second + 1, third - second - 1);
  return keys;
}

WindowsUsbBackend::~WindowsUsbBackend() {
  Stop();
}

void WindowsUsbBackend::Start(std::function<void(const TUsbDeviceEvent&)> report) {
  if (thread_.joinable()) return;
  state_ = std::make_shared<TState>();
  state_->report = std::move(report);
  thread_ = std::thread([state = state_] {
    RunNotifier(state);
    std::lock_guard lock(state->lock);
    state->ended = true;
    state->changed.notify_all();
  });
  // The window exists (or could not be made) before Start returns, so Stop always finds it.
  std::unique_lock lock(state_->lock);
  state_->changed.wait_for(lock, std::chrono::seconds(10), [this] { return state_->ready; });
}

void WindowsUsbBackend::Stop() {
  if (!thread_.joinable()) return;
  std::unique_lock lock(state_->lock);
  state_->stopping = true;  // no report is made once this returns
  state_->changed.wait_for(lock, std::chrono::seconds(10), [this] { return state_->ready; });
  if (const auto hwnd = reinterpret_cast<HWND>(state_->window)) PostMessageW(hwnd, WM_CLOSE, 0, 0);
  const bool ended =
      state_->changed.wait_for(lock, std::chrono::seconds(5), [this] { return state_->ended; });
  lock.unlock();
  if (ended) {
    thread_.join();
  } else {
    // The system keeps the thread (its notification service does not answer): it is let go with
    // the state it holds, and reports nothing more.
    thread_.detach();
  }
  state_.reset();
}

}  // namespace tarvex
