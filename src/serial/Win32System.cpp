// The system's clock and error texts on Windows: the multimedia timer at a resolution of one
// millisecond for the program's whole run, and FormatMessageW.
#include "core/Win32Names.h"
// after windows.h, which it needs
#include <mmsystem.h>

#include <string>

#include "serial/SerialErrors.h"
#include "serial/Ticks.h"
#include "serial/Win32Text.h"

namespace tarvex {

namespace {

// timeBeginPeriod at start, timeEndPeriod at exit: the 55 ms ticks and the 3 s waits are counted
// on a clock that moves in milliseconds, not in the system's default 15.6 ms steps.
struct TTimerResolution {
  UINT period = 0;
  TTimerResolution() {
    TIMECAPS caps{};
    if (timeGetDevCaps(&caps, sizeof caps) == MMSYSERR_NOERROR) {
      period = caps.wPeriodMin < 1 ? 1 : caps.wPeriodMin;
      if (timeBeginPeriod(period) != TIMERR_NOERROR) period = 0;
    }
  }
  ~TTimerResolution() {
    if (period != 0) timeEndPeriod(period);
  }
};

const TTimerResolution& TimerResolution() {
  static const TTimerResolution resolution;
  return resolution;
}

// Set up before main, so every clock reading of the run has the fine resolution.
const TTimerResolution& kResolution = TimerResolution();

}  // namespace

std::uint32_t SystemMilliseconds() {
  (void)kResolution;
  return static_cast<std::uint32_t>(timeGetTime());
}

std::string SystemErrorText(std::int64_t number) {
  if (number <= 0 || number > 0x7FFFFFFF) return {};
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(number), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (n == 0 || buffer == nullptr) return {};
  std::wstring text(buffer, n);
  LocalFree(buffer);
  return OneLineMessage(Utf8FromWide(text));
}

}  // namespace tarvex
