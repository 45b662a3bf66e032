// The user-interface thread's message queue in plain C++: for the tests and the command-line tool.
// The thread that creates it owns it (see SetOwnerThread); only that thread pumps.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/MessagePump.h"

namespace tarvex {

class TPlainMessagePump : public IMessagePump {
 public:
  TPlainMessagePump();
  ~TPlainMessagePump() override;
  TPlainMessagePump(const TPlainMessagePump&) = delete;
  TPlainMessagePump& operator=(const TPlainMessagePump&) = delete;

  void Post(TMessageHandler message) override;
  bool Send(TMessageHandler message, std::chrono::milliseconds timeout) override;
  int PumpOne() override;
  void WaitForMessage(std::chrono::steady_clock::time_point deadline) override;
  void Quit(int exitCode) override;

  // The calling thread becomes the one that pumps.
  void SetOwnerThread();
  [[nodiscard]] bool OnOwnerThread() const;
  // The message loop: handles messages until a quit request; returns its exit code.
  int Run();
  [[nodiscard]] bool QuitRequested() const;
  [[nodiscard]] int ExitCode() const;
  // Messages waiting to be handled, sent and posted.
  [[nodiscard]] std::size_t Pending() const;

 private:
  struct SendState;
  struct Sent {
    TMessageHandler message;
    std::shared_ptr<SendState> state;
  };

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<TMessageHandler> posted_;
  std::deque<Sent> sent_;
  bool quit_ = false;
  int exitCode_ = 0;
  std::thread::id owner_;
};

}  // namespace tarvex
