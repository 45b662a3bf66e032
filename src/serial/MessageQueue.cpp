#include "serial/MessageQueue.h"

#include <utility>

namespace tarvex {

struct TMessageQueue::SendState {
  enum Status { kPending, kRunning, kDone, kCancelled };
  std::mutex m;
  std::condition_variable cv;
  Status status = kPending;
};

TMessageQueue::TMessageQueue(std::function<void()> wake)
    : wake_(std::move(wake)), owner_(std::this_thread::get_id()) {}

TMessageQueue::~TMessageQueue() {
  std::deque<Sent> sent;
  std::deque<TMessageHandler> posted;
  {
    std::lock_guard lock(mutex_);
    sent.swap(sent_);
    posted.swap(posted_);
  }
  for (auto& s : sent) {
    std::lock_guard lock(s.state->m);
    if (s.state->status == SendState::kPending) s.state->status = SendState::kCancelled;
    s.state->cv.notify_all();
  }
}

void TMessageQueue::SetOwnerThread() {
  std::lock_guard lock(mutex_);
  owner_ = std::this_thread::get_id();
}

bool TMessageQueue::OnOwnerThread() const {
  std::lock_guard lock(mutex_);
  return owner_ == std::this_thread::get_id();
}

void TMessageQueue::Post(TMessageHandler message) {
  std::shared_ptr<std::condition_variable> work;
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(message));
    work = work_;
    if (wake_) wake_();
  }
  work->notify_all();
}

bool TMessageQueue::SendAndWait(TMessageHandler message, std::chrono::milliseconds timeout) {
  auto state = std::make_shared<SendState>();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::shared_ptr<std::condition_variable> work;
  {
    // Once the lock is released the queue may be gone (its destructor then cancels this
    // message): only the message's own state and the shared wake-up are touched afterwards.
    std::lock_guard lock(mutex_);
    sent_.push_back(Sent{std::move(message), state});
    work = work_;
    if (wake_) wake_();
  }
  work->notify_all();
  std::unique_lock lock(state->m);
  state->cv.wait_until(lock, deadline, [&] {
    return state->status == SendState::kDone || state->status == SendState::kCancelled;
  });
  if (state->status == SendState::kPending) state->status = SendState::kCancelled;
  return state->status == SendState::kDone;
}

int TMessageQueue::Take(std::function<void()>& run) {
  std::lock_guard lock(mutex_);
  if (owner_ != std::this_thread::get_id()) return 0;
  // Sent messages come first, as a waiting sender holds up its thread.
  while (!sent_.empty()) {
    Sent candidate = std::move(sent_.front());
    sent_.pop_front();
    std::lock_guard stateLock(candidate.state->m);
    if (candidate.state->status != SendState::kPending) continue;
    candidate.state->status = SendState::kRunning;
    run = [sent = std::move(candidate)] {
      struct Finish {
        SendState& s;
        ~Finish() {
          {
            std::lock_guard l(s.m);
            s.status = SendState::kDone;
          }
          // The state lives on in this message; the sender wakes to a free lock.
          s.cv.notify_all();
        }
      } finish{*sent.state};
      sent.message();
    };
    return 1;
  }
  if (quit_) return WM_QUIT;  // stays pending, so the main loop still ends
  if (posted_.empty()) return 0;
  run = std::move(posted_.front());
  posted_.pop_front();
  return 1;
}

void TMessageQueue::WaitForWork(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  work_->wait_until(lock, deadline, [&] { return quit_ || !posted_.empty() || !sent_.empty(); });
}

bool TMessageQueue::HasWork() const {
  std::lock_guard lock(mutex_);
  return quit_ || !posted_.empty() || !sent_.empty();
}

bool TMessageQueue::RequestQuit(int exitCode) {
  {
    std::lock_guard lock(mutex_);
    if (quit_) return false;
    quit_ = true;
    exitCode_ = exitCode;
    work_->notify_all();
    if (wake_) wake_();
  }
  return true;
}

bool TMessageQueue::QuitRequested() const {
  std::lock_guard lock(mutex_);
  return quit_;
}

int TMessageQueue::ExitCode() const {
  std::lock_guard lock(mutex_);
  return exitCode_;
}

std::size_t TMessageQueue::Pending() const {
  std::lock_guard lock(mutex_);
  return posted_.size() + sent_.size();
}

}  // namespace tarvex
