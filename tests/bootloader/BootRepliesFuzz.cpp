// Fuzzes the boot loader's reply handling through a whole update: the input is a script of line
// events (arbitrary bytes, a lone ACK, a lone NACK, the reply timer running out) played into the
// main window from the sync to the run. Invariants: no crash, a bounded receive buffer, the new
// firmware never reported running unless every page was erased and every block written and
// acknowledged, and a give-up told once.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/Main.h"
#include "bootloader/BootFrames.h"
#include "firmware/FlashImage.h"
#include "firmware/HexBuilder.h"
#include "firmware/HexFile.h"
#include "support/FuzzWindow.h"

using namespace tarvex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  test::FuzzWindowScope scope;
  test::FakeComPort& port = scope.port;
  test::FakePump& pump = scope.pump;
  {
    TfrmMain frm(scope.Platform(), {});
    SetImagePages(128);
    static const std::string image = test::FullImageHex(2, 120, 2, 5);  // 16 blocks to write
    if (!LoadHexText(image)) std::abort();
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
    if (frm.FlashDone) {
      // Running means every page was erased and every block written and acknowledged.
      if (!frm.imgErase.Visible() || !frm.imgWrite.Visible()) std::abort();
      if (writeAcks < CountBlocks()) std::abort();
    }
    int giveUps = 0;
    for (const auto& text : scope.boxes.Texts()) {
      giveUps +=
          text == "NACK Response from Target" || text == "No bootloader response from product." ? 1 : 0;
    }
    if (giveUps > 1) std::abort();
  }
  return 0;
}
