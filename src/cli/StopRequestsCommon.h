// What the systems' handlers share: requests counted by the handler, taken by the command.
#pragma once

#include <atomic>

#include "cli/Cli.h"

namespace tarvex::cli::detail {

inline std::atomic<int> gInterrupts{0};
inline std::atomic<bool> gTerminate{false};

inline int TakeCountedRequest() {
  if (gTerminate.exchange(false)) return kExitTerminated;
  int n = gInterrupts.load();
  while (n > 0 && !gInterrupts.compare_exchange_weak(n, n - 1)) {
  }
  return n > 0 ? kExitInterrupted : 0;
}

}  // namespace tarvex::cli::detail
