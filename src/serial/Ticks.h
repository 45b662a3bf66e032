// The serial layer's unit of time, the 55 ms tick, with its clock, one-shot tick timers, and the
// waits that keep the user-interface thread's messages flowing.
#pragma once

#include <cstdint>

#include "serial/MessagePump.h"

namespace tarvex {

inline constexpr std::uint32_t TickLength = 55;          // milliseconds
inline constexpr std::int32_t MaxTimerTicks = 39045157;  // largest signed ms count / 55

struct TTickTimer {
  std::uint32_t StartTick = 0;
  std::uint32_t ExpireTick = 0;
};

// The millisecond clock behind CurrentTick. The program always uses the monotonic clock; tests
// may install one that runs faster or is stepped by hand.
class ITickClock {
 public:
  virtual ~ITickClock() = default;
  virtual std::uint32_t Milliseconds() = 0;
};
// nullptr restores the monotonic clock. The caller keeps ownership.
void SetTickClock(ITickClock* clock);
// The system's millisecond counter (the multimedia timer on Windows, the monotonic clock
// elsewhere); it wraps every 49.7 days.
std::uint32_t SystemMilliseconds();

std::uint32_t CurrentTick();
void StartTickTimer(TTickTimer& timer, std::int32_t ticks);
bool TickTimerExpired(const TTickTimer& timer);
std::int32_t TickTimerRemaining(const TTickTimer& timer);

// The user-interface thread's pump that PumpOneMessage and WaitTicks use (set by the front end).
void SetUiMessagePump(IMessagePump* pump);
IMessagePump* UiMessagePump();

// The messages with which the dispatcher hands a fired trigger to the port component.
inline constexpr std::uint32_t MsgTriggerAvail = 0x7E01;
inline constexpr std::uint32_t MsgTriggerData = 0x7E02;
inline constexpr std::uint32_t MsgTriggerTimer = 0x7E03;
inline constexpr std::uint32_t MsgTriggerStatus = 0x7E04;
inline constexpr std::uint32_t MsgPortOpen = 0x7E08;
inline constexpr std::uint32_t MsgPortClose = 0x7E09;
inline constexpr std::uint32_t MsgClosePending = 0x7E0A;

// Takes and handles one pending message of the user-interface thread; see IMessagePump::PumpOne.
int PumpOneMessage();
// Waits the ticks, handling messages meanwhile when yield is set; a quit request ends it early.
int WaitTicks(std::int32_t ticks, bool yield);

}  // namespace tarvex
