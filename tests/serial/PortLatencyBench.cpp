// Round trip of one byte through the real port over a pseudo-terminal: PutString, the write
// thread, the line, a peer that echoes, the status and read threads, the dispatcher, and the
// data-available handler on the user-interface thread. Reported with the median and the CPU
// time the process used per round trip (waiting must not spin a core).
#include <benchmark/benchmark.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "serial/BenchPort.h"
#include "serial/ComPort.h"
#include "serial/PlainMessagePump.h"
#include "serial/PtyPeer.h"
#include "serial/Ticks.h"

namespace tarvex::test {
namespace {

void BM_OneByteRoundTrip(benchmark::State& state) {
  TPlainMessagePump pump;
  SetUiMessagePump(&pump);
  PtyPeer peer;
  std::atomic<bool> stop{false};
  std::thread echo([&] {
    char c = 0;
    while (!stop) {
      pollfd p{peer.Fd(), POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      if (::read(peer.Fd(), &c, 1) == 1) peer.Write(std::string(1, c));
    }
  });
  {
    TSerComPort port;
    SetUpOnPeer(port, peer);
    std::size_t got = 0;
    port.OnTriggerAvail = [&](std::uint16_t count) {
      for (std::uint16_t i = 0; i < count; ++i) port.GetChar();
      got += count;
    };
    port.SetOpen(true);
    std::vector<double> micros;
    const double cpu0 = CpuSeconds();
    for (auto _ : state) {
      const auto start = std::chrono::steady_clock::now();
      const std::size_t want = got + 1;
      port.PutString("U");
      while (got < want) {
        if (pump.PumpOne() == 0)
          pump.WaitForMessage(std::chrono::steady_clock::now() + std::chrono::milliseconds(1));
      }
      micros.push_back(
          std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    const double cpu = CpuSeconds() - cpu0;
    port.SetOpen(false);
    std::sort(micros.begin(), micros.end());
    if (!micros.empty()) {
      state.counters["median_us"] = micros[micros.size() / 2];
      state.counters["p99_us"] = micros[micros.size() * 99 / 100];
      state.counters["cpu_us_per_trip"] = cpu * 1e6 / static_cast<double>(micros.size());
    }
  }
  stop = true;
  echo.join();
  SetUiMessagePump(nullptr);
}
BENCHMARK(BM_OneByteRoundTrip)->Iterations(2000)->UseRealTime();

}  // namespace
}  // namespace tarvex::test
