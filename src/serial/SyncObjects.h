// An event object of the kind the serial layer's threads signal each other with: set by one
// thread, waited for by another, auto-reset (one wait consumes it) or manual-reset.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tarvex {

class TSyncEvent {
 public:
  explicit TSyncEvent(bool manualReset = false) : manualReset_(manualReset) {}

  void Set() {
    {
      std::lock_guard lock(mutex_);
      signalled_ = true;
    }
    cv_.notify_all();
  }
  void Reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
  }
  // True when the event was signalled within the time-out (and, auto-reset, consumed).
  bool WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [&] { return signalled_; })) return false;
    if (!manualReset_) signalled_ = false;
    return true;
  }
  [[nodiscard]] bool IsSet() const {
    std::lock_guard lock(mutex_);
    return signalled_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
  bool manualReset_;
};

}  // namespace tarvex
