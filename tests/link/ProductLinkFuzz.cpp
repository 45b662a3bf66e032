// Fuzzes the product link's receiving side: the input is a script of line events (raw bytes,
// replies framed with a valid CRC so the records are reached, time-outs) played into the main
// window while it runs the identity or the boot-loader-entry job.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/Main.h"
#include "link/ComsTasks.h"
#include "link/Frame.h"
#include "support/FuzzWindow.h"

using namespace tarvex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  test::FuzzWindowScope scope;
  test::FakeComPort& port = scope.port;
  test::FakePump& pump = scope.pump;
  {
    TfrmMain frm(scope.Platform(), {});
    port.SetOpen(true);
    frm.TxTimer = port.AddTimerTrigger();
    frm.ComsState = TComsState::csPortOpen;

    BuildJob((data[0] & 1) != 0 ? kBootloaderEntryJob : kIdentityJob, TJobType::jtAccess, false, false);
    AddTask(TTaskType::ttGetAccess, kParamAccess, 1, 1, TDataType::dtNil);
    frm.SendNextTasks();

    std::size_t pos = 1;
    while (pos < size && !BootloaderMode) {
      const std::uint8_t op = data[pos++];
      const std::size_t n = std::min<std::size_t>(op >> 2, size - pos);
      ByteString chunk(reinterpret_cast<const char*>(data + pos), n);
      pos += n;
      switch (op & 3) {
        case 0: port.Receive(chunk); break;
        case 1:
          if (FrameAddCrc(chunk)) port.Receive(chunk);
          break;
        default: port.Expire(frm.TxTimer); break;
      }
      pump.RunAll();
      if (frm.Rx_Buffer.size() > 4096 + 64) std::abort();  // the receive buffer must stay bounded
    }
  }
  return 0;
}
