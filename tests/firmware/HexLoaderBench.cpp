// Loading and identifying the HEX file of a full 1 MB image (16-byte records, about 2.9 MB of
// text), as opening a file does: reset both images, load, read the identity.
#include <benchmark/benchmark.h>

#include "firmware/FlashImage.h"
#include "firmware/HexBuilder.h"
#include "firmware/HexFile.h"

namespace tarvex {
namespace {

void BM_LoadAndIdentifyFullImage(benchmark::State& state) {
  test::TempDir dir;
  const std::string text = test::FullImageHex(512, 120, 4, 62);
  const std::string file = dir.Write("full.hex", text);
  SetImagePages(512);
  for (auto _ : state) {
    ResetMemory(kDeviceImage);
    ResetMemory(kFileImage);
    if (!LoadHexFile(file)) state.SkipWithError("load failed");
    TProductInfo info;
    ReadFileIdentity(file, info);
    if (info.ProductCode != 120) state.SkipWithError("identity not found");
    benchmark::DoNotOptimize(info);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
  state.counters["text_MB"] = static_cast<double>(text.size()) / 1e6;
}
BENCHMARK(BM_LoadAndIdentifyFullImage)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace tarvex
