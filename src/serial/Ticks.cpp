#include "serial/Ticks.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace tarvex {

namespace {

std::atomic<ITickClock*> gClock{nullptr};
std::atomic<IMessagePump*> gUiPump{nullptr};

std::uint32_t ClockMilliseconds() {
  ITickClock* clock = gClock.load(std::memory_order_acquire);
  return clock != nullptr ? clock->Milliseconds() : SystemMilliseconds();
}

// Ticks counted in one turn of the 32-bit millisecond counter. A timer that spans the turn counts
// on by this much; counting on by MaxTimerTicks instead would leave it unexpired for weeks.
constexpr std::uint64_t kTicksPerWrap = (std::uint64_t{1} << 32) / TickLength;

std::int32_t LimitTicks(std::int32_t ticks) {
  return std::min(ticks, MaxTimerTicks);
}

}  // namespace

void SetTickClock(ITickClock* clock) {
  gClock.store(clock, std::memory_order_release);
}

std::uint32_t CurrentTick() {
  return ClockMilliseconds() / TickLength;
}

void StartTickTimer(TTickTimer& timer, std::int32_t ticks) {
  timer.StartTick = CurrentTick();
  timer.ExpireTick = timer.StartTick + static_cast<std::uint32_t>(LimitTicks(ticks));
}

bool TickTimerExpired(const TTickTimer& timer) {
  const std::uint32_t now = CurrentTick();
  if (now > timer.ExpireTick) return true;
  // The millisecond counter wrapped since the start: count on from where the ticks wrap.
  return now<timer.StartTick&& static_cast<std::uint64_t>(now) + kTicksPerWrap> timer.ExpireTick;
}

std::int32_t TickTimerRemaining(const TTickTimer& timer) {
  const std::uint32_t now = CurrentTick();
  std::int64_t remaining = static_cast<std::int64_t>(timer.ExpireTick) - static_cast<std::int64_t>(now);
  if (now < timer.StartTick) remaining -= static_cast<std::int64_t>(kTicksPerWrap);
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(remaining, 0, MaxTimerTicks));
}

void SetUiMessagePump(IMessagePump* pump) {
  gUiPump.store(pump, std::memory_order_release);
}

IMessagePump* UiMessagePump() {
  return gUiPump.load(std::memory_order_acquire);
}

int PumpOneMessage() {
  IMessagePump* pump = UiMessagePump();
  return pump != nullptr ? pump->PumpOne() : 0;
}

int WaitTicks(std::int32_t ticks, bool yield) {
  if (ticks < 1) return 0;
  TTickTimer timer;
  StartTickTimer(timer, ticks);
  int last = 0;
  // Waits in short slices rather than polling flat out: the clock may be one that runs faster
  // than real time, and a slice never overshoots the real clock's expiry.
  constexpr std::uint32_t kSliceMs = 5;
  for (;;) {
    if (yield) {
      last = PumpOneMessage();
      if (last == WM_QUIT) break;
    }
    if (TickTimerExpired(timer)) break;
    if (last != 0) continue;  // more messages may be waiting
    const std::uint32_t nowMs = ClockMilliseconds();
    const std::uint64_t expiryMs = (static_cast<std::uint64_t>(timer.ExpireTick) + 1) * TickLength;
    std::uint32_t sliceMs = kSliceMs;
    if (expiryMs > nowMs && expiryMs - nowMs < sliceMs)
      sliceMs = static_cast<std::uint32_t>(expiryMs - nowMs);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(sliceMs);
    IMessagePump* pump = UiMessagePump();
    if (yield && pump != nullptr) {
      pump->WaitForMessage(deadline);
    } else {
      std::this_thread::sleep_until(deadline);
    }
  }
  return last;
}

}  // namespace tarvex
