#include "gui/QtMessagePump.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <utility>

namespace tarvex {

namespace {
const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
}

// Lives on the user-interface thread; each wake event it receives handles one message.
class TQtMessagePump::Waker : public QObject {
 public:
  explicit Waker(TQtMessagePump& pump) : pump_(pump) {}
  bool event(QEvent* e) override {
    if (e->type() != kWakeEvent) return QObject::event(e);
    pump_.Woken();
    return true;
  }

 private:
  TQtMessagePump& pump_;
};

// A sent message is pending until the pump takes it, then running, then done. A sender that
// times out cancels a pending message (it is then skipped); a running one is left to finish.
struct TQtMessagePump::SendState {
  enum Status { kPending, kRunning, kDone, kCancelled };
  std::mutex m;
  std::condition_variable cv;
  Status status = kPending;
};

TQtMessagePump::TQtMessagePump()
    : owner_(std::this_thread::get_id()), waker_(std::make_unique<Waker>(*this)) {}

TQtMessagePump::~TQtMessagePump() {
  std::deque<Sent> sent;
  {
    std::lock_guard lock(mutex_);
    sent.swap(sent_);
    posted_.clear();
  }
  // Whoever still waits for a sent message is told it will not be handled.
  for (auto& s : sent) {
    std::lock_guard lock(s.state->m);
    if (s.state->status == SendState::kPending) s.state->status = SendState::kCancelled;
    s.state->cv.notify_all();
  }
}

void TQtMessagePump::Wake() {
  // postEvent is safe from any thread; the event is freed by Qt, also when the waker goes first.
  QCoreApplication::postEvent(waker_.get(), new QEvent(kWakeEvent));
}

void TQtMessagePump::Woken() {
  ++woken_;
  PumpOne();
  if (waitLoop_ != nullptr) waitLoop_->quit();
}

void TQtMessagePump::Post(TMessageHandler message) {
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(message));
  }
  Wake();
}

bool TQtMessagePump::Send(TMessageHandler message, std::chrono::milliseconds timeout) {
  if (OnOwnerThread()) {
    // The user-interface thread cannot wait for itself: the message runs here and now.
    RunMessage(message);
    return true;
  }
  auto state = std::make_shared<SendState>();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  {
    std::lock_guard lock(mutex_);
    sent_.push_back(Sent{std::move(message), state});
  }
  Wake();
  std::unique_lock lock(state->m);
  state->cv.wait_until(lock, deadline, [&] {
    return state->status == SendState::kDone || state->status == SendState::kCancelled;
  });
  if (state->status == SendState::kPending) state->status = SendState::kCancelled;
  return state->status == SendState::kDone;
}

int TQtMessagePump::PumpOne() {
  if (!OnOwnerThread()) return 0;
  Sent sent;
  TMessageHandler posted;
  {
    std::lock_guard lock(mutex_);
    // Sent messages first: their senders hold up a worker thread.
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
      if (quit_) return WM_QUIT;
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

void TQtMessagePump::WaitForMessage(std::chrono::steady_clock::time_point deadline) {
  if (!OnOwnerThread()) return;
  const std::uint64_t woken = woken_;
  // Qt's timers count whole milliseconds and may end a little early: wait again for the rest.
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (quit_ || !posted_.empty() || !sent_.empty()) return;
    }
    if (woken_ != woken) return;  // a message came and was handled in the loop below
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return;
    // A nested loop keeps the window alive; the next message (handled by its wake event) or the
    // deadline ends it.
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(static_cast<int>(std::min<long long>(left, 24LL * 3600 * 1000)));
    QEventLoop* outer = std::exchange(waitLoop_, &loop);
    loop.exec();
    waitLoop_ = outer;
  }
}

void TQtMessagePump::Quit(int exitCode) {
  {
    std::lock_guard lock(mutex_);
    if (quit_) return;
    quit_ = true;
    exitCode_ = exitCode;
  }
  QMetaObject::invokeMethod(
      waker_.get(), [exitCode] { QCoreApplication::exit(exitCode); }, Qt::QueuedConnection);
  Wake();
}

bool TQtMessagePump::QuitRequested() const {
  std::lock_guard lock(mutex_);
  return quit_;
}

std::size_t TQtMessagePump::Pending() const {
  std::lock_guard lock(mutex_);
  return posted_.size() + sent_.size();
}

}  // namespace tarvex
