// Feeds arbitrary bytes to the emulated product. The first byte picks the starting mode and the
// chunking, so both the product link and the boot loader see the noise.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "link/AccessCodes.h"
#include "link/Frame.h"
#include "tools/panel-sim/PanelSim.h"

using namespace tarvex;
using namespace tarvex::panelsim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  TProductConfig cfg;
  cfg.FlashPages = 4;
  cfg.Faults.ChunkSize = data[0] & 0x07;
  TPanelSim sim(cfg);
  std::uint64_t now = 0;
  if ((data[0] & 0x80) != 0) {
    // Into the boot loader first: access, then the entry request.
    for (auto [param, code] :
         {std::pair{kParamAccess, FirstAccessCode()}, {kParamBootloader, BootloaderEntryCode()}}) {
      ByteString req;
      EncodeLinkRequest(req, {param, 1, 1, code});
      FrameAddCrc(req);
      sim.Feed(req, now);
    }
    if (!sim.InBootloader()) std::abort();
  }
  const std::size_t step = 1 + ((data[0] >> 3) & 0x0F);
  for (std::size_t pos = 1; pos < size; pos += step) {
    now += (data[pos] & 0x01) != 0 ? 600 : 1;
    sim.Feed(std::string_view(reinterpret_cast<const char*>(data + pos), std::min(step, size - pos)), now);
    if (sim.PendingBytes() > TPanelSim::kMaxRequestFrame) std::abort();
  }
  return 0;
}
