// The message queue behind every message pump: posted messages, sent ones whose senders wait with
// a time-out, and the quit request. A sent message is pending until the owner thread takes it,
// then running, then done; a sender that times out cancels a pending one (it is then skipped), but
// a running one is left to finish. The pumps differ only in how they wake the owner thread and
// how it waits: a condition variable, Qt's event loop, or a hidden window's messages.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/MessagePump.h"

namespace tarvex {

class TMessageQueue {
 public:
  // wake is called on any thread when a message or a quit request is queued, under the queue's
  // lock (so it never runs for a queue that is gone); it must not call back into the queue.
  explicit TMessageQueue(std::function<void()> wake = {});
  // Whoever still waits for a sent message is told it will not be handled.
  ~TMessageQueue();
  TMessageQueue(const TMessageQueue&) = delete;
  TMessageQueue& operator=(const TMessageQueue&) = delete;

  void SetOwnerThread();
  [[nodiscard]] bool OnOwnerThread() const;

  void Post(TMessageHandler message);
  // From a thread other than the owner: queue and wait until handled, at most timeout. True when
  // it was handled in time.
  bool SendAndWait(TMessageHandler message, std::chrono::milliseconds timeout);

  // Owner thread: the next message (a sent one first) as work to run; 0 when none is pending,
  // WM_QUIT when a quit was requested (it stays pending), 1 when run holds a message. Running it
  // marks a sent message done, also when it throws.
  int Take(std::function<void()>& run);

  // Blocks until something is pending or the deadline has passed.
  void WaitForWork(std::chrono::steady_clock::time_point deadline);
  [[nodiscard]] bool HasWork() const;

  // False when a quit had been requested already.
  bool RequestQuit(int exitCode);
  [[nodiscard]] bool QuitRequested() const;
  [[nodiscard]] int ExitCode() const;
  [[nodiscard]] std::size_t Pending() const;

 private:
  struct SendState;
  struct Sent {
    TMessageHandler message;
    std::shared_ptr<SendState> state;
  };

  std::function<void()> wake_;
  mutable std::mutex mutex_;
  // Shared with the senders: one wakes the owner after letting go of the lock (so the owner does
  // not wake only to wait for it), when the queue may already be gone.
  std::shared_ptr<std::condition_variable> work_ = std::make_shared<std::condition_variable>();
  std::deque<TMessageHandler> posted_;
  std::deque<Sent> sent_;
  bool quit_ = false;
  int exitCode_ = 0;
  std::thread::id owner_;
};

}  // namespace tarvex
