#include "serial/PlainMessagePump.h"

namespace tarvex {

bool TPlainMessagePump::Send(TMessageHandler message, std::chrono::milliseconds timeout) {
  if (OnOwnerThread()) {
    // The owner cannot wait for itself: handle it here, as a sent message to one's own window is.
    RunMessage(message);
    return true;
  }
  return queue_.SendAndWait(std::move(message), timeout);
}

int TPlainMessagePump::PumpOne() {
  std::function<void()> run;
  const int r = queue_.Take(run);
  if (r == 1) RunMessage(run);
  return r;
}

int TPlainMessagePump::Run() {
  for (;;) {
    const int r = PumpOne();
    if (r == WM_QUIT) return ExitCode();
    if (r == 0) WaitForMessage(std::chrono::steady_clock::now() + std::chrono::hours(1));
  }
}

}  // namespace tarvex
