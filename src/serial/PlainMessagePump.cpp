#include "serial/PlainMessagePump.h"

#include <utility>

namespace tarvex {

// A sent message is pending until the pump takes it, then running, then done. The sender gives
// up on a pending one at its time-out (cancelled: the pump skips it), but a running one is left
// to finish: its sender only stops waiting.
struct TPlainMessagePump::SendState {
  enum Status { kPending, kRunning, kDone, kCancelled };
  std::mutex m;
  std::condition_variable cv;
  Status status = kPending;
};

TPlainMessagePump::TPlainMessagePump() : owner_(std::this_thread::get_id()) {}

TPlainMessagePump::~TPlainMessagePump() {
  std::deque<Sent> sent;
  std::deque<TMessageHandler> posted;
  {
    std::lock_guard lock(mutex_);
    sent.swap(sent_);
    posted.swap(posted_);
  }
  // Whoever still waits for a sent message is told it will not be handled.
  for (auto& s : sent) {
    std::lock_guard lock(s.state->m);
    if (s.state->status == SendState::kPending) s.state->status = SendState::kCancelled;
    s.state->cv.notify_all();
  }
}

void TPlainMessagePump::SetOwnerThread() {
  std::lock_guard lock(mutex_);
  owner_ = std::this_thread::get_id();
}

bool TPlainMessagePump::OnOwnerThread() const {
  std::lock_guard lock(mutex_);
  return owner_ == std::this_thread::get_id();
}

void TPlainMessagePump::Post(TMessageHandler message) {
  std::lock_guard lock(mutex_);
  posted_.push_back(std::move(message));
  wake_.notify_all();
}

bool TPlainMessagePump::Send(TMessageHandler message, std::chrono::milliseconds timeout) {
  if (OnOwnerThread()) {
    // The owner cannot wait for itself: handle it here, as a sent message to one's own window is.
    RunMessage(message);
    return true;
  }
  auto state = std::make_shared<SendState>();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  {
    // Notified under the lock: once it is released, the pump may be gone (its destructor then
    // cancels this message), and only the message's own state is touched again.
    std::lock_guard lock(mutex_);
    sent_.push_back(Sent{std::move(message), state});
    wake_.notify_all();
  }
  std::unique_lock lock(state->m);
  state->cv.wait_until(lock, deadline, [&] {
    return state->status == SendState::kDone || state->status == SendState::kCancelled;
  });
  if (state->status == SendState::kPending) state->status = SendState::kCancelled;
  return state->status == SendState::kDone;
}

int TPlainMessagePump::PumpOne() {
  Sent sent;
  TMessageHandler posted;
  {
    std::lock_guard lock(mutex_);
    if (owner_ != std::this_thread::get_id()) return 0;
    // Sent messages come first, as a waiting sender holds up its thread.
    while (!sent_.empty() && !sent.state) {
      Sent candidate = std::move(sent_.front());
      sent_.pop_front();
      std::lock_guard stateLock(candidate.state->m);
      if (candidate.state->status == SendState::kPending) {
        candidate.state->status = SendState::kRunning;
        sent = std::move(candidate);
      }
    }
    if (!sent.state) {
      if (quit_) return WM_QUIT;  // stays pending, so the main loop still ends
      if (posted_.empty()) return 0;
      posted = std::move(posted_.front());
      posted_.pop_front();
    }
  }
  if (sent.state) {
    struct Finish {
      SendState& s;
      ~Finish() {
        std::lock_guard lock(s.m);
        s.status = SendState::kDone;
        s.cv.notify_all();
      }
    } finish{*sent.state};
    RunMessage(sent.message);
    return 1;
  }
  RunMessage(posted);
  return 1;
}

void TPlainMessagePump::WaitForMessage(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  wake_.wait_until(lock, deadline, [&] { return quit_ || !posted_.empty() || !sent_.empty(); });
}

void TPlainMessagePump::Quit(int exitCode) {
  std::lock_guard lock(mutex_);
  if (!quit_) exitCode_ = exitCode;
  quit_ = true;
  wake_.notify_all();
}

bool TPlainMessagePump::QuitRequested() const {
  std::lock_guard lock(mutex_);
  return quit_;
}

int TPlainMessagePump::ExitCode() const {
  std::lock_guard lock(mutex_);
  return exitCode_;
}

std::size_t TPlainMessagePump::Pending() const {
  std::lock_guard lock(mutex_);
  return posted_.size() + sent_.size();
}

int TPlainMessagePump::Run() {
  for (;;) {
    const int r = PumpOne();
    if (r == WM_QUIT) return ExitCode();
    if (r == 0) WaitForMessage(std::chrono::steady_clock::now() + std::chrono::hours(1));
  }
}

}  // namespace tarvex
