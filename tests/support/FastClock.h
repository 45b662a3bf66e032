// A tick clock running `factor` times faster than real time, so the protocols' long time-outs
// pass in a fraction of their real length while every thread still sees one consistent clock.
#pragma once

#include <chrono>
#include <cstdint>

#include "serial/Ticks.h"

namespace tarvex::test {

class FastClock : public ITickClock {
 public:
  explicit FastClock(std::uint32_t factor) : factor_(factor) {}
  std::uint32_t Milliseconds() override { return static_cast<std::uint32_t>(NowMs()); }
  [[nodiscard]] std::uint64_t NowMs() const {
    const auto real = std::chrono::steady_clock::now() - start_;
    return 100000 +
           static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(real).count()) *
               factor_ / 1000;
  }

 private:
  std::uint32_t factor_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace tarvex::test
