// The window's side of the boot loader: the session (bootloader/BootSession) judges the replies;
// here its frames go to the port, its events become message 1124 and its give-ups are told.
#include "app/Main.h"
#include "bootloader/BootFrames.h"
#include "serial/ComPortIntf.h"
#include "serial/MessagePump.h"
#include "serial/SerialErrors.h"

namespace tarvex {

namespace {
constexpr const char* kNackGiveUp = "NACK Response from Target";
constexpr const char* kSilenceGiveUp = "No bootloader response from product.";
}  // namespace

class TfrmMain::TBootActions final : public IBootActions {
 public:
  explicit TBootActions(TfrmMain& frm) : frm_(frm) {}

  bool SendFrame(const ByteString& frame) override { return frm_.PutBootFrame(frame); }

  void StopTimer() override {
    IComPort* port = frm_.platform_.ComPort;
    if (port != nullptr && port->Open() && frm_.TxTimer != 0) port->SetTimerTrigger(frm_.TxTimer, 0, false);
  }

  void PostEvent(const TBootEvent& event) override { frm_.PostTaskDone(event); }

  void AwaitBytes(std::uint16_t count) override {
    IComPort* port = frm_.platform_.ComPort;
    if (port == nullptr || !port->Open()) return;
    try {
      port->SetTriggerLength(count);
    } catch (const ESerialException& e) {
      LogDebug(e.what());  // a dead port hands nothing over either way
    }
  }

  void DiscardInput() override {
    IComPort* port = frm_.platform_.ComPort;
    if (port == nullptr || !port->Open()) return;
    try {
      port->FlushInBuffer();
    } catch (const ESerialException& e) {
      LogDebug(e.what());
    }
  }

  void ClosePort() override { frm_.ClosePort(); }

  void GiveUp(TBootGiveUp why) override {
    if (why == TBootGiveUp::bgNack) {
      LogDebug(kNackGiveUp);
      frm_.ClosePort();
      frm_.FlashInProgress = false;
      frm_.btnCancel.SetEnabled(true);
      frm_.MessageDlg(TMsgKind::mkError, kNackGiveUp);
      frm_.FinishHistory(false);
      return;
    }
    if (frm_.BootProbe) {
      frm_.BootloaderProbed(false);
      return;
    }
    LogDebug(kSilenceGiveUp);
    frm_.FlashInProgress = false;
    frm_.UpdateWizard();
    frm_.MessageDlg(TMsgKind::mkError, kSilenceGiveUp);
    frm_.FinishHistory(false);
  }

 private:
  TfrmMain& frm_;
};

std::unique_ptr<IBootActions> TfrmMain::MakeBootActions() {
  return std::make_unique<TBootActions>(*this);
}

void TfrmMain::SendBootCommand(std::uint8_t cmd) {
  Boot.SendCommand(cmd);
}

bool TfrmMain::SendBootFrame(const ByteString& frame) {
  return Boot.Send(frame);
}

bool TfrmMain::PutBootFrame(const ByteString& frame) {
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

void TfrmMain::PostTaskDone(std::uint8_t wParam, std::uint8_t lParam) {
  PostTaskDone({wParam, lParam, StartAddr, RWSize, PageIdx});
}

void TfrmMain::PostTaskDone(const TBootEvent& event) {
  if (Platform().Pump == nullptr) return;
  // The block the event is about travels with it: by the time the message is handled the next
  // block may be under way.
  Platform().Pump->Post([this, event] {
    TaskAddr = event.Addr;
    TaskSize = event.Size;
    TaskPageIdx = event.PageIdx;
    TaskDoneMsg(event.WParam, event.LParam);
  });
}

}  // namespace tarvex
