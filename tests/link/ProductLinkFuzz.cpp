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
#include "serial/Ticks.h"
#include "support/FakeComPort.h"
#include "support/SteppingClock.h"

namespace {

using namespace tarvex;

// Waits of the boot loader job run on this clock, not on the real one.

// The link's debug lines would drown the fuzzer's own output.
class NoLog : public IDebugOutput {
 public:
  void Output(const std::string& /*line*/) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  test::FakeComPort port;
  test::FakePump pump;
  test::SteppingClock clock(0, 10);
  NoLog log;
  SetDebugOutput(&log);
  SetTickClock(&clock);
  SetUiMessagePump(&pump);
  {
    TPlatform platform;
    platform.ComPort = &port;
    platform.Pump = &pump;
    TfrmMain frm(platform, {});
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
    pump.queue.clear();
  }
  CommsJob.reset();
  ResetGlobals();
  SetTickClock(nullptr);
  SetUiMessagePump(nullptr);
  SetDebugOutput(nullptr);
  return 0;
}
