// The tick clock the tests move themselves: each reading advances it by `step` ms (0: only Set
// and Advance move it), so waits of the protocols pass in no real time. Safe from any thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "serial/Ticks.h"

namespace tarvex::test {

class SteppingClock : public ITickClock {
 public:
  explicit SteppingClock(std::uint32_t startMs = 1000, std::uint32_t step = 0) : ms_(startMs), step_(step) {}
  std::uint32_t Milliseconds() override { return ms_.fetch_add(step_) + step_; }
  void Set(std::uint32_t ms) { ms_.store(ms); }
  void Advance(std::uint32_t by) { ms_.fetch_add(by); }
  [[nodiscard]] std::uint32_t Now() const { return ms_.load(); }

 private:
  std::atomic<std::uint32_t> ms_;
  std::uint32_t step_;
};

}  // namespace tarvex::test
