// Figures for the serial layer's hot paths: bytes from the device queue to a data-available
// handler on the user-interface thread, and queuing bytes for transmission.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "serial/FakeDevice.h"
#include "serial/PlainMessagePump.h"

namespace tarvex::test {
namespace {

// Receives bytes.size() bytes per iteration, in 256-byte chunks, and takes every one with GetChar
// inside the data-available handler.
void BM_ReceiveThroughDispatcher(benchmark::State& state) {
  TPlainMessagePump pump;
  SetUiMessagePump(&pump);
  FakeDevice dev;
  dev.InitPort("/dev/bench", 115200, 0, 8, 1, 4096, 4096, 3);
  std::size_t taken = 0;
  dev.RegisterWndTriggerHandler(1, &pump, [&](std::uint32_t msg, std::uint32_t count, std::int32_t) {
    if (msg != MsgTriggerAvail) return;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint8_t c = 0;
      if (dev.GetChar(c) == 0) ++taken;
    }
  });
  dev.UpdateHandlerFlags(TSerHandlerFlagUpdate::fuEnablePort);
  dev.ChangeLengthTrigger(1);
  const std::string bytes(static_cast<std::size_t>(state.range(0)), 'U');
  for (auto _ : state) {
    const std::size_t target = taken + bytes.size();
    dev.Feed(bytes);
    while (taken < target) {
      if (pump.PumpOne() == 0)
        pump.WaitForMessage(std::chrono::steady_clock::now() + std::chrono::milliseconds(1));
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
  SetUiMessagePump(nullptr);
}
BENCHMARK(BM_ReceiveThroughDispatcher)->Arg(256)->Arg(4096)->Arg(65536)->UseRealTime();

// PutString of one frame and the write side taking it out again.
void BM_PutStringAndDrain(benchmark::State& state) {
  FakeDevice dev;
  dev.InitPort("/dev/bench", 115200, 0, 8, 1, 4096, 4096, 3);
  const std::string frame(static_cast<std::size_t>(state.range(0)), 'A');
  for (auto _ : state) {
    benchmark::DoNotOptimize(dev.PutString(frame));
    benchmark::DoNotOptimize(dev.Transmit());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_PutStringAndDrain)->Arg(16)->Arg(480)->Arg(4096);

}  // namespace
}  // namespace tarvex::test
