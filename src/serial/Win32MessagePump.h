// The user-interface thread's message queue on a hidden window, for a program whose loop is the
// system's own (GetMessageW/DispatchMessageW): every queued message wakes the window with a posted
// window message, so messages run wherever that loop runs, the nested loops of modal message
// boxes and dialogs included. A worker thread's send waits, at most its time-out, until the user-
// interface thread has handled the message, as SendMessageTimeoutW would.
#pragma once

#include <cstdint>

#include "serial/MessagePump.h"
#include "serial/MessageQueue.h"

namespace tarvex {

class TWin32MessagePump : public IMessagePump {
 public:
  // Create on the user-interface thread: the hidden window belongs to it.
  TWin32MessagePump();
  ~TWin32MessagePump() override;
  TWin32MessagePump(const TWin32MessagePump&) = delete;
  TWin32MessagePump& operator=(const TWin32MessagePump&) = delete;

  void Post(TMessageHandler message) override { queue_.Post(std::move(message)); }
  bool Send(TMessageHandler message, std::chrono::milliseconds timeout) override;
  int PumpOne() override;
  // Handles the window system's messages (ours among them) until one of ours is pending or the
  // deadline has passed.
  void WaitForMessage(std::chrono::steady_clock::time_point deadline) override;
  // Also ends the system's message loop (PostQuitMessage on the owner thread).
  void Quit(int exitCode) override;

  // The system's message loop, until a quit: returns the exit code. Keyboard messages of the dialog
  // window's controls (Tab, accelerators) are handled as a dialog's are.
  int Run();
  void SetDialogWindow(std::uintptr_t hwnd) { dialog_ = hwnd; }
  [[nodiscard]] bool QuitRequested() const { return queue_.QuitRequested(); }
  [[nodiscard]] std::size_t Pending() const { return queue_.Pending(); }
  // The hidden window (an HWND's value).
  [[nodiscard]] std::uintptr_t Window() const { return window_; }

 private:
  void Wake();

  std::uintptr_t window_ = 0;
  std::uintptr_t dialog_ = 0;
  TMessageQueue queue_;
};

}  // namespace tarvex
