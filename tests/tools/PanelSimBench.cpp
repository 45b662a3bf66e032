// How fast the emulated product answers, so a paced line (not the emulator) sets the pace of an
// end-to-end run: one product-link exchange, and a whole page erased, written and read back.
#include <benchmark/benchmark.h>

#include "bootloader/BootFrames.h"
#include "link/AccessCodes.h"
#include "link/Frame.h"
#include "tools/panel-sim/PanelSim.h"

namespace tarvex::panelsim {
namespace {

ByteString Request(std::uint16_t param, const ByteString& data = {}) {
  ByteString p;
  EncodeLinkRequest(p, {param, 1, 1, data});
  FrameAddCrc(p);
  return p;
}

std::size_t Sent(const std::vector<TSimAction>& actions) {
  std::size_t n = 0;
  for (const auto& a : actions) n += a.Bytes.size();
  return n;
}

void BM_IdentityExchange(benchmark::State& state) {
  TPanelSim sim({});
  std::uint64_t now = 0;
  sim.Feed(Request(kParamAccess, FirstAccessCode()), now);
  const ByteString identity = Request(kParamIdentity);
  for (auto _ : state) benchmark::DoNotOptimize(Sent(sim.Feed(identity, ++now)));
}
BENCHMARK(BM_IdentityExchange);

void BM_PageEraseWriteRead(benchmark::State& state) {
  TPanelSim sim({});
  std::uint64_t now = 0;
  sim.Feed(Request(kParamAccess, FirstAccessCode()), now);
  sim.Feed(Request(kParamBootloader, BootloaderEntryCode()), now);
  sim.Feed("\x7F", now);
  const std::uint32_t page = 9;
  ByteString erase =
      ByteString("\x00\x01", 2) + static_cast<char>(page >> 8) + static_cast<char>(page & 0xFF);
  AppendXorChecksum(erase);
  ByteString data;
  for (int i = 0; i < 256; ++i) data += static_cast<char>(i * 7);
  ByteString write(1, '\xFF');
  write += data;
  AppendXorChecksum(write);
  std::size_t n = 0;
  // One frame after the other: the order of the frames is the protocol.
  auto feed = [&](const ByteString& frame) { n += Sent(sim.Feed(frame, now)); };
  for (auto _ : state) {
    ++now;
    feed(BuildCommandFrame(kCmdErase));
    feed(erase);
    for (std::uint32_t block = 0; block < kPageSize / 256; ++block) {
      const std::uint32_t addr = kFlashBase + page * kPageSize + block * 256;
      for (const ByteString& f :
           {BuildCommandFrame(kCmdWrite), BuildAddressFrame(addr), write, BuildCommandFrame(kCmdRead),
            BuildAddressFrame(addr), BuildReadCountFrame(256)}) {
        feed(f);
      }
    }
    benchmark::DoNotOptimize(n);
  }
  // Every block answered: 2 ACKs for erase, 3 for a write, 2 and 258 bytes for a read.
  if (n != static_cast<std::size_t>(state.iterations()) * (2 + 8 * (3 + 2 + 258)))
    state.SkipWithError("a frame went unanswered");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPageSize);
}
BENCHMARK(BM_PageEraseWriteRead);

}  // namespace
}  // namespace tarvex::panelsim
