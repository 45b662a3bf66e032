#include "serial/Win32MessagePump.h"

#include <algorithm>

#include "core/Win32Names.h"

namespace tarvex {

namespace {

constexpr UINT kWakeMessage = WM_APP + 0x7E;
constexpr UINT kQuitMessage = WM_APP + 0x7F;
constexpr const wchar_t* kPumpClass = L"TarvexMessagePump";

LRESULT CALLBACK PumpWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* pump = reinterpret_cast<TWin32MessagePump*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == kWakeMessage && pump != nullptr) {
    // One message per wake-up: each queued message posted its own.
    pump->PumpOne();
    return 0;
  }
  if (msg == kQuitMessage) {
    PostQuitMessage(static_cast<int>(wParam));
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

TWin32MessagePump::TWin32MessagePump() : queue_([this] { Wake(); }) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = PumpWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kPumpClass;
  RegisterClassExW(&wc);  // a second registration fails harmlessly
  const HWND hwnd =
      CreateWindowExW(0, kPumpClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  if (hwnd != nullptr) SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  window_ = reinterpret_cast<std::uintptr_t>(hwnd);
}

TWin32MessagePump::~TWin32MessagePump() {
  if (const auto hwnd = reinterpret_cast<HWND>(window_)) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    DestroyWindow(hwnd);
  }
}

void TWin32MessagePump::Wake() {
  if (const auto hwnd = reinterpret_cast<HWND>(window_)) PostMessageW(hwnd, kWakeMessage, 0, 0);
}

bool TWin32MessagePump::Send(TMessageHandler message, std::chrono::milliseconds timeout) {
  if (queue_.OnOwnerThread()) {
    RunMessage(message);
    return true;
  }
  return queue_.SendAndWait(std::move(message), timeout);
}

int TWin32MessagePump::PumpOne() {
  std::function<void()> run;
  const int r = queue_.Take(run);
  if (r == 1) RunMessage(run);
  return r;
}

void TWin32MessagePump::WaitForMessage(std::chrono::steady_clock::time_point deadline) {
  if (!queue_.OnOwnerThread()) return;
  for (;;) {
    if (queue_.HasWork()) return;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min<long long>(left.count(), 60000)),
                                QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    // The window system's messages go on meanwhile, as a modal loop would handle them; a wake-up
    // of ours is left for the caller, who pumps it.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      if (msg.message == WM_QUIT) return;
      if (msg.hwnd == reinterpret_cast<HWND>(window_) && msg.message == kWakeMessage) return;
      if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) break;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

void TWin32MessagePump::Quit(int exitCode) {
  if (!queue_.RequestQuit(exitCode)) return;
  if (const auto hwnd = reinterpret_cast<HWND>(window_)) {
    PostMessageW(hwnd, kQuitMessage, static_cast<WPARAM>(exitCode), 0);
  }
}

int TWin32MessagePump::Run() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (dialog_ != 0 && IsDialogMessageW(reinterpret_cast<HWND>(dialog_), &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return queue_.ExitCode();
}

}  // namespace tarvex
