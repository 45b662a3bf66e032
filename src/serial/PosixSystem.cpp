// The system's clock and error texts on POSIX systems.
#include <chrono>
#include <system_error>

#include "serial/SerialErrors.h"
#include "serial/Ticks.h"

namespace tarvex {

std::uint32_t SystemMilliseconds() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  // Wraps every 49.7 days like the counter the tick arithmetic was made for.
  return static_cast<std::uint32_t>(
      static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()));
}

std::string SystemErrorText(std::int64_t number) {
  if (number <= 0 || number > 0x7FFFFFFF) return {};
  std::string text = std::error_code(static_cast<int>(number), std::generic_category()).message();
  // glibc invents "Unknown error N" for numbers it does not know: that is no text at all.
  if (text.rfind("Unknown error", 0) == 0) return {};
  return OneLineMessage(std::move(text));
}

}  // namespace tarvex
