// The user-interface thread's message queue over Qt's event loop. Every queued message wakes the
// loop with an event, so messages run wherever the loop runs, nested loops of modal boxes
// included: serial events keep arriving while a box waits for its OK, as they do on the original
// platform.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/MessagePump.h"

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

  void Post(TMessageHandler message) override;
  bool Send(TMessageHandler message, std::chrono::milliseconds timeout) override;
  int PumpOne() override;
  void WaitForMessage(std::chrono::steady_clock::time_point deadline) override;
  void Quit(int exitCode) override;

  [[nodiscard]] bool QuitRequested() const;
  [[nodiscard]] std::size_t Pending() const;

 private:
  class Waker;
  struct SendState;
  struct Sent {
    TMessageHandler message;
    std::shared_ptr<SendState> state;
  };

  void Wake();
  void Woken();
  [[nodiscard]] bool OnOwnerThread() const { return std::this_thread::get_id() == owner_; }

  mutable std::mutex mutex_;
  std::deque<TMessageHandler> posted_;
  std::deque<Sent> sent_;
  bool quit_ = false;
  int exitCode_ = 0;
  const std::thread::id owner_;
  std::unique_ptr<Waker> waker_;
  QEventLoop* waitLoop_ = nullptr;  // owner thread only
  std::uint64_t woken_ = 0;         // owner thread only
};

}  // namespace tarvex
