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

TQtMessagePump::TQtMessagePump() : waker_(std::make_unique<Waker>(*this)), queue_([this] { Wake(); }) {}

TQtMessagePump::~TQtMessagePump() = default;

void TQtMessagePump::Wake() {
  // postEvent is safe from any thread; the event is freed by Qt, also when the waker goes first.
  QCoreApplication::postEvent(waker_.get(), new QEvent(kWakeEvent));
}

void TQtMessagePump::Woken() {
  ++woken_;
  PumpOne();
  if (waitLoop_ != nullptr) waitLoop_->quit();
}

bool TQtMessagePump::Send(TMessageHandler message, std::chrono::milliseconds timeout) {
  if (queue_.OnOwnerThread()) {
    // The user-interface thread cannot wait for itself: the message runs here and now.
    RunMessage(message);
    return true;
  }
  return queue_.SendAndWait(std::move(message), timeout);
}

int TQtMessagePump::PumpOne() {
  std::function<void()> run;
  const int r = queue_.Take(run);
  if (r == 1) RunMessage(run);
  return r;
}

void TQtMessagePump::WaitForMessage(std::chrono::steady_clock::time_point deadline) {
  if (!queue_.OnOwnerThread()) return;
  const std::uint64_t woken = woken_;
  // Qt's timers count whole milliseconds and may end a little early: wait again for the rest.
  for (;;) {
    if (queue_.HasWork()) return;
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
  if (!queue_.RequestQuit(exitCode)) return;
  QMetaObject::invokeMethod(
      waker_.get(), [exitCode] { QCoreApplication::exit(exitCode); }, Qt::QueuedConnection);
}

}  // namespace tarvex
