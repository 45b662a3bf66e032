// Turnaround on the hot path, measured from the panel's side of a pseudo-terminal: the panel
// writes a one-byte reply and times how long the programmer takes to put its next frame on the
// line. Played first against the real port (read thread, dispatcher, the data-available handler
// on the user-interface thread, PutString, the write side), then, on the same terminal in the
// same run, against a minimal blocking read/write loop: the floor the line itself sets.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "serial/BenchPort.h"
#include "serial/ComPort.h"
#include "serial/PlainMessagePump.h"
#include "serial/PtyPeer.h"

namespace tarvex::test {
namespace {

constexpr int kExchanges = 3000;
const std::string kReply = "\x79";
const std::string kNextFrame = "\x31\xCE";

// The panel: each exchange a reply out and the whole next frame back; microseconds each.
std::vector<double> PlayPanel(PtyPeer& peer) {
  std::vector<double> us;
  us.reserve(kExchanges);
  for (int i = 0; i < kExchanges; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    peer.Write(kReply);
    if (peer.Read(kNextFrame.size(), std::chrono::milliseconds(2000)) != kNextFrame) break;
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
  }
  return us;
}

void Report(benchmark::State& state, const char* name, std::vector<double> us, double cpu) {
  std::sort(us.begin(), us.end());
  if (us.size() != static_cast<std::size_t>(kExchanges)) {
    state.SkipWithError("an exchange went unanswered");
    return;
  }
  const std::string n(name);
  state.counters[n + "_median_us"] = us[us.size() / 2];
  state.counters[n + "_p99_us"] = us[us.size() * 99 / 100];
  state.counters[n + "_cpu_us"] = cpu * 1e6 / static_cast<double>(us.size());
}

void BM_ExchangeTurnaround(benchmark::State& state) {
  for (auto _ : state) {
    PtyPeer peer;
    {
      TPlainMessagePump pump;
      SetUiMessagePump(&pump);
      TSerComPort port;
      SetUpOnPeer(port, peer);
      port.OnTriggerAvail = [&](std::uint16_t count) {
        for (std::uint16_t i = 0; i < count; ++i) port.GetChar();
        port.PutString(kNextFrame);
      };
      port.SetOpen(true);
      std::atomic<bool> done{false};
      std::vector<double> us;
      const double cpu0 = CpuSeconds();
      std::thread panel([&] {
        us = PlayPanel(peer);
        done = true;
      });
      // The user-interface thread waits as the command-line front end does: a tick at a time.
      while (!done) {
        if (pump.PumpOne() == 0)
          pump.WaitForMessage(std::chrono::steady_clock::now() + std::chrono::milliseconds(55));
      }
      panel.join();
      Report(state, "port", us, CpuSeconds() - cpu0);
      port.SetOpen(false);
      SetUiMessagePump(nullptr);
    }
    {
      const int fd = ::open(peer.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
      termios t{};
      ::tcgetattr(fd, &t);
      ::cfmakeraw(&t);
      ::tcsetattr(fd, TCSANOW, &t);
      std::atomic<bool> done{false};
      std::thread loop([&] {
        char c = 0;
        while (!done && ::read(fd, &c, 1) == 1) {
          if (::write(fd, kNextFrame.data(), kNextFrame.size()) < 0) break;
        }
      });
      std::vector<double> us;
      const double cpu0 = CpuSeconds();
      us = PlayPanel(peer);
      const double cpu = CpuSeconds() - cpu0;
      done = true;
      peer.Write(kReply);  // the loop's last read returns
      loop.join();
      ::close(fd);
      Report(state, "loop", us, cpu);
    }
  }
}
BENCHMARK(BM_ExchangeTurnaround)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvex::test
