// The user-interface thread's message queue over Qt's event loop. Every queued message wakes the
// loop with an event, so messages run wherever the loop runs, nested loops of modal boxes
// included: serial events keep arriving while a box waits for its OK, as they do on the original
// platform.
#pragma once

#include <cstdint>
#include <memory>

#include "serial/MessagePump.h"
#include "serial/MessageQueue.h"

class QEventLoop;
class QObject;

namespace tarvex {

class TQtMessagePump : public IMessagePump {
 public:
  // Create on the user-interface thread, after the QApplication.
  TQtMessagePump();
  ~TQtMessagePump() override;
  TQtMessagePump(const TQtMessagePump&) = delete;
  TQtMessagePump& operator=(const TQtMessagePump&) = delete;

  void Post(TMessageHandler message) override { queue_.Post(std::move(message)); }
  bool Send(TMessageHandler message, std::chrono::milliseconds timeout) override;
  int PumpOne() override;
  void WaitForMessage(std::chrono::steady_clock::time_point deadline) override;
  void Quit(int exitCode) override;

  [[nodiscard]] bool QuitRequested() const { return queue_.QuitRequested(); }
  [[nodiscard]] std::size_t Pending() const { return queue_.Pending(); }

 private:
  class Waker;

  void Wake();
  void Woken();

  std::unique_ptr<Waker> waker_;
  TMessageQueue queue_;             // after the waker: its wake-ups reach a waker that exists
  QEventLoop* waitLoop_ = nullptr;  // owner thread only
  std::uint64_t woken_ = 0;         // owner thread only
};

}  // namespace tarvex
