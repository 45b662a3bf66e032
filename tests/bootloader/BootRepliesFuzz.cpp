// Fuzzes the boot loader's reply handling through a whole update: the input is a script of line
// events (arbitrary bytes, a lone ACK, a lone NACK, the reply timer running out) played into the
// main window from the sync to the run. Invariants: no crash, a bounded receive buffer, the new
// firmware never reported running unless every page was erased and every block written and
// acknowledged, and a give-up told once.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/Main.h"
#include "bootloader/BootFrames.h"
#include "firmware/FlashImage.h"
#include "firmware/HexFile.h"
#include "link/ComsTasks.h"
#include "serial/Ticks.h"
#include "support/FakeComPort.h"
#include "support/Fakes.h"
#include "support/SteppingClock.h"

namespace {

using namespace tarvex;

class NoLog : public IDebugOutput {
 public:
  void Output(const std::string& line) override {
    if (trace) std::fprintf(stderr, "log: %s\n", line.c_str());
  }
  bool trace = std::getenv("BOOT_REPLIES_TRACE") != nullptr;
};

// Two pages of firmware for the product's image: 16 blocks to write.
const std::string& Image() {
  static const std::string hex = [] {
    std::string text = ":020000040800F2\n";
    for (std::uint32_t a = 0; a < 2 * kPageSize; a += 16) {
      std::uint8_t sum = static_cast<std::uint8_t>(16 + (a >> 8) + (a & 0xFF));
      std::string rec = Format(":10%04X00", a);
      for (std::uint32_t i = 0; i < 16; ++i) {
        const auto b = static_cast<std::uint8_t>((a + i) * 7);
        sum = static_cast<std::uint8_t>(sum + b);
        rec += Format("%02X", b);
      }
      text += rec + Format("%02X\n", static_cast<std::uint8_t>(0x100 - sum) & 0xFF);
    }
    return text + ":00000001FF\n";
  }();
  return hex;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  test::FakeComPort port;
  test::FakePump pump;
  test::FakeMessageBoxes boxes;
  test::SteppingClock clock(0, 10);
  NoLog log;
  SetDebugOutput(&log);
  SetTickClock(&clock);
  SetUiMessagePump(&pump);
  {
    TPlatform platform;
    platform.ComPort = &port;
    platform.Pump = &pump;
    platform.MessageBoxes = &boxes;
    TfrmMain frm(platform, {});
    SetImagePages(128);
    THexFault fault;
    if (!LoadHexText(Image(), &fault)) {
      std::fprintf(stderr, "the image does not load: %s\n", HexFaultText("image.hex", fault).c_str());
      std::abort();
    }
    port.SetOpen(true);
    frm.PortOpen = true;
    frm.TxTimer = port.AddTimerTrigger();
    frm.ComsState = TComsState::csPortOpen;
    BootloaderMode = true;
    frm.SetActivePageIndex(2);  // the update page, as after Start
    frm.FlashInProgress = true;
    frm.SendBootCommand(kBootSync);

    int writeAcks = 0;  // data frames of WRITE acknowledged while the window wrote
    // The first byte chooses an update with or without the verify (the read-back).
    std::size_t pos = 0;
    if (size > 0) NoVerify = (data[pos++] & 1) != 0;
    // A closed port (a give-up, the run) delivers nothing more.
    while (pos < size && !frm.FlashDone && port.Open()) {
      const std::uint8_t op = data[pos++];
      std::string chunk;
      switch (op & 3) {
        case 0: {
          const std::size_t n = std::min<std::size_t>(op >> 2, size - pos);
          chunk.assign(reinterpret_cast<const char*>(data + pos), n);
          pos += n;
          break;
        }
        case 1: chunk = std::string(1, static_cast<char>(kBootAck)); break;
        case 2: chunk = std::string(1, static_cast<char>(kBootNack)); break;
        default: break;
      }
      if ((op & 3) == 3) {
        port.Expire(frm.TxTimer);
      } else {
        // A lone ACK to a block of data: the only answer that may count as the block written.
        if (frm.CurCmd == kCmdWrite && frm.WriteStage == TWriteStage::wsData && frm.Rx_Buffer.empty() &&
            chunk == std::string(1, static_cast<char>(kBootAck))) {
          ++writeAcks;
        }
        port.Receive(chunk);
      }
      pump.RunAll();
      if (frm.Rx_Buffer.size() > 4096) std::abort();  // the receive buffer must stay bounded
    }
    if (std::getenv("BOOT_REPLIES_TRACE") != nullptr) {
      std::fprintf(
          stderr, "cmd %02X go %d open %d queue %zu; done %d, erase %d, write %d, verify %d, acks %d of %d\n",
          frm.CurCmd, static_cast<int>(frm.GoStage), port.Open(), pump.queue.size(), frm.FlashDone,
          frm.imgErase.Visible(), frm.imgWrite.Visible(), frm.imgVerify.Visible(), writeAcks, CountBlocks());
    }
    if (frm.FlashDone) {
      // Running means every page was erased and every block written and acknowledged.
      if (!frm.imgErase.Visible() || !frm.imgWrite.Visible()) std::abort();
      if (writeAcks < CountBlocks()) std::abort();
    }
    int giveUps = 0;
    for (const auto& text : boxes.Texts()) {
      giveUps +=
          text == "NACK Response from Target" || text == "No bootloader response from product." ? 1 : 0;
    }
    if (giveUps > 1) std::abort();
    pump.queue.clear();
  }
  CommsJob.reset();
  ResetGlobals();
  SetTickClock(nullptr);
  SetUiMessagePump(nullptr);
  SetDebugOutput(nullptr);
  return 0;
}
