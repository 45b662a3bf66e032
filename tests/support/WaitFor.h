// Waiting for something another process or thread brings about (a file appears, a child ends):
// the condition is looked at every few milliseconds until it holds or the deadline passes.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace tarvex::test {

inline bool WaitFor(const std::function<bool()>& cond,
                    std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace tarvex::test
