// The user-interface thread's message queue in plain C++: for the tests and the command-line tool.
// The thread that creates it owns it (see SetOwnerThread); only that thread pumps.
#pragma once

#include "serial/MessagePump.h"
#include "serial/MessageQueue.h"

namespace tarvex {

class TPlainMessagePump : public IMessagePump {
 public:
  TPlainMessagePump() = default;
  TPlainMessagePump(const TPlainMessagePump&) = delete;
  TPlainMessagePump& operator=(const TPlainMessagePump&) = delete;

  void Post(TMessageHandler message) override { queue_.Post(std::move(message)); }
  bool Send(TMessageHandler message, std::chrono::milliseconds timeout) override;
  int PumpOne() override;
  void WaitForMessage(std::chrono::steady_clock::time_point deadline) override {
    queue_.WaitForWork(deadline);
  }
  void Quit(int exitCode) override { queue_.RequestQuit(exitCode); }

  // The calling thread becomes the one that pumps.
  void SetOwnerThread() { queue_.SetOwnerThread(); }
  [[nodiscard]] bool OnOwnerThread() const { return queue_.OnOwnerThread(); }
  // The message loop: handles messages until a quit request; returns its exit code.
  int Run();
  [[nodiscard]] bool QuitRequested() const { return queue_.QuitRequested(); }
  [[nodiscard]] int ExitCode() const { return queue_.ExitCode(); }
  // Messages waiting to be handled, sent and posted.
  [[nodiscard]] std::size_t Pending() const { return queue_.Pending(); }

 private:
  TMessageQueue queue_;
};

}  // namespace tarvex
