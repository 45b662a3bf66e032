// Sending boot loader commands and frames: one frame outstanding, timed by the reply timer.
#include "app/Main.h"
#include "bootloader/BootFrames.h"
#include "serial/ComPortIntf.h"
#include "serial/SerialErrors.h"

namespace tarvex {

namespace {
// Transmissions a boot loader command may use, NACKs and time-outs together.
constexpr std::int32_t kBootTransmissions = 5;
}  // namespace

void TfrmMain::SendBootCommand(std::uint8_t cmd) {
  RetryCount = kBootTransmissions;
  CommandActive = true;
  CurCmd = cmd;
  if (cmd == kBootSync) {
    // The sync only makes sense before the target has answered one.
    if (ComsState != TComsState::csPortOpen) return;
    Tx_Buffer = ByteString(1, static_cast<char>(kBootSync));
  } else {
    if (ComsState != TComsState::csConnected) return;
    Tx_Buffer = BuildCommandFrame(cmd);
  }
  SendBootFrame(Tx_Buffer);
}

bool TfrmMain::SendBootFrame(const ByteString& frame) {
  if (frame.empty()) return true;
  Rx_Buffer.clear();
  IComPort* port = platform_.ComPort;
  // A port closed or dead under us (the lead pulled, say) takes no frame and arms no timer, so
  // no reply and no time-out would ever come: the update ends here instead of waiting for ever.
  bool sent = port != nullptr && port->Open();
  if (sent) {
    try {
      port->SetTimerTrigger(TxTimer, CurCmd == kBootSync ? kSyncTimeoutTicks : kBootTimeoutTicks, true);
      port->PutString(frame);
    } catch (const ESerialException& e) {
      LogDebug(e.what());
      sent = false;
    }
  }
  if (!sent) LineLost();
  return sent;
}

}  // namespace tarvex
