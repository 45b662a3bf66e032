// The user-interface thread's message queue: what window messages are to the rest of the system.
// Any thread posts; a worker thread may hand a message over and wait for its handling with a
// time-out; the user-interface thread pumps. A plain C++ implementation serves the tests and the
// command-line tool; the desktop program supplies one over its toolkit's event loop.
#pragma once

#include <chrono>
#include <exception>
#include <functional>

#include "core/Win32Names.h"

namespace tarvex {

// One message: the work to do on the user-interface thread. It owns whatever it carries (a
// received frame, say) and frees it when it has run or is dropped.
using TMessageHandler = std::function<void()>;

class IMessagePump {
 public:
  virtual ~IMessagePump() = default;

  // Any thread: queue a message; returns at once.
  virtual void Post(TMessageHandler message) = 0;

  // Worker thread: hand a message to the user-interface thread and wait until it has been
  // handled, but no longer than timeout. True when it was handled in time.
  virtual bool Send(TMessageHandler message, std::chrono::milliseconds timeout) = 0;

  // User-interface thread: take one pending message, if any, and handle it. 0 when none was
  // pending; WM_QUIT when a quit request was taken (it is left pending, so the main loop still
  // ends); another non-zero value when a message was handled.
  virtual int PumpOne() = 0;

  // User-interface thread: block until a message is pending or the deadline has passed (lets a
  // wait sleep instead of spinning a core).
  virtual void WaitForMessage(std::chrono::steady_clock::time_point deadline) = 0;

  // Any thread: ask the user-interface thread's loop to end with this exit code.
  virtual void Quit(int exitCode) = 0;

  // The default error report for an exception that escapes a message's handler, as a click's
  // would reach it (the main window shows an error box). Set and used on the user-interface
  // thread; without one the exception's text goes to the debug log.
  void SetErrorReport(std::function<void(const std::exception&)> report) { errorReport_ = std::move(report); }

 protected:
  // Runs one message on the user-interface thread; nothing it throws leaves the pump.
  void RunMessage(const TMessageHandler& message) const;

 private:
  std::function<void(const std::exception&)> errorReport_;
};

}  // namespace tarvex
