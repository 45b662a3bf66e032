// The window's side of the product link: the session (link/LinkSession) runs the job; here its
// frames go to the port, a received frame becomes message 1125, and the job's end is shown.
#include <memory>
#include <utility>

#include "app/Main.h"
#include "bootloader/BootFrames.h"
#include "core/ProductCatalogue.h"
#include "firmware/FlashImage.h"
#include "link/ComsTasks.h"
#include "link/ReplyParsing.h"
#include "serial/ComPortIntf.h"
#include "serial/MessagePump.h"
#include "serial/SerialErrors.h"
#include "serial/Ticks.h"

namespace tarvex {

namespace {
// Ticks the product needs to start its boot loader after acknowledging the entry request.
constexpr std::int32_t kBootloaderStartTicks = 4;
}  // namespace

class TfrmMain::TLinkActions final : public ILinkActions {
 public:
  explicit TLinkActions(TfrmMain& frm) : frm_(frm) {}

  bool SendFrame(const ByteString& frame) override { return frm_.PutPanelFrame(frame); }
  void LineLost() override { frm_.LineLost(); }

  void StopTimer() override {
    IComPort* port = frm_.platform_.ComPort;
    if (port != nullptr && port->Open()) port->SetTimerTrigger(frm_.TxTimer, 0, false);
  }

  void FrameReceived(std::unique_ptr<ByteString> frame) override {
    IMessagePump* pump = frm_.platform_.Pump;
    if (pump == nullptr) {
      frm_.ProcessUDLData(std::move(frame));
      return;
    }
    // The message owns the frame: it is freed with the message whether or not it is handled.
    auto holder = std::make_shared<std::unique_ptr<ByteString>>(std::move(frame));
    TfrmMain* frm = &frm_;
    pump->Post([frm, holder] { frm->ProcessUDLData(std::move(*holder)); });
  }

  void Refused(TMsgKind kind, const std::string& text) override { frm_.MessageDlg(kind, text); }

  void JobAborted(std::uint16_t jobId) override {
    frm_.FlashInProgress = false;
    frm_.UpdateWizard();
    // Silence on the product link may be a product waiting in its boot loader.
    if (jobId == kIdentityJob && frm_.LinkGiveUp == TLinkGiveUp::lgNoAnswer && frm_.PortOpen) {
      frm_.ProbeBootloader();
      return;
    }
    frm_.TellGiveUp(jobId);
    frm_.FinishHistory(false);
  }

  void JobFinished(std::uint16_t jobId) override { frm_.JobFinished(jobId); }

 private:
  TfrmMain& frm_;
};

std::unique_ptr<ILinkActions> TfrmMain::MakeLinkActions() {
  return std::make_unique<TLinkActions>(*this);
}

// The installer is told why a job was given up; a refusal has had its own box already.
void TfrmMain::TellGiveUp(std::uint16_t jobId) {
  std::string text;
  if (jobId == kIdentityJob) {
    if (LinkGiveUp == TLinkGiveUp::lgNoAnswer) {
      text = Format(
          "No product answered on COM%d. Check that the USB lead is connected and that the product is "
          "powered, then click \"Connect\" again.",
          PortIdx);
    } else if (LinkGiveUp == TLinkGiveUp::lgBadReply) {
      text = Format(
          "The product on COM%d did not answer correctly. Check the USB lead, then click \"Connect\" "
          "again.",
          PortIdx);
    }
  } else if (jobId == kBootloaderEntryJob) {
    if (LinkGiveUp == TLinkGiveUp::lgNoAnswer || LinkGiveUp == TLinkGiveUp::lgBadReply) {
      text =
          "The product did not answer the request to start its boot loader. Nothing has been written. "
          "Check the USB lead, then click \"Start\" again.";
    }
  }
  if (text.empty()) return;
  LogDebug(text);
  MessageDlg(TMsgKind::mkError, text);
}

// Sending -----------------------------------------------------------------------------------------

void TfrmMain::SendNextTasks() {
  Link.SendNextTasks();
}

bool TfrmMain::SendPanelFrame(const ByteString& frame) {
  return Link.Send(frame);
}

bool TfrmMain::PutPanelFrame(const ByteString& frame) {
  IComPort* port = platform_.ComPort;
  if (port == nullptr || !port->Open()) return false;
  try {
    port->SetTimerTrigger(TxTimer, kReplyTimeoutTicks, true);
    port->PutString(frame);
  } catch (const ESerialException& e) {
    // A port whose threads have stopped takes nothing more.
    LogDebug(e.what());
    return false;
  }
  return true;
}

// The port's events: the line belongs to the boot loader or to the product link ------------------

void TfrmMain::ComPortTriggerAvail(std::uint16_t count) {
  IComPort* port = platform_.ComPort;
  if (port == nullptr) return;
  ByteString bytes;
  bytes.reserve(count);
  for (std::uint16_t i = 0; i < count; ++i) bytes += port->GetChar();
  if (BootloaderMode) {
    Boot.OnBytes(bytes);
  } else {
    Link.OnBytes(bytes);
  }
}

void TfrmMain::ComPortTriggerTimer(std::uint16_t triggerHandle) {
  if (triggerHandle != TxTimer) return;
  if (BootloaderMode) {
    Boot.OnTimeout();
  } else {
    Link.OnTimeout();
  }
}

void TfrmMain::ProcessUDLData(std::unique_ptr<ByteString> frame) {
  if (!frame) {
    Link.ProcessReply({});
    return;
  }
  Link.ProcessReply(std::move(*frame));
}

// The end of a job -----------------------------------------------------------------------------------

void TfrmMain::ShowProductIdentity() {
  const TProductInfo& p = ProductInfo;
  const std::string name = GetProductName(p.ProductCode, p.Variant);
  lbProductType.SetCaption(name);
  lbhdrProduct.SetCaption("Product: " + name);
  const std::string version = FormatVersion(p.Major, p.Minor);
  lbSoftwareVer.SetCaption(version);
  lbHdrVersion.SetCaption("Version: " + version);
  lbSerialNo.SetCaption(p.SerialNo);
  lbGuid.SetCaption(FormatUniqueID(p.UniqueID));
  lbMicro.SetCaption(p.Micro == 'G'   ? "GigaDevice"
                     : p.Micro == 'S' ? "ST Microelectronics"
                                      : "ST Microelectronics*");
}

void TfrmMain::JobFinished(std::uint16_t jobId) {
  if (jobId == kIdentityJob) {
    TProductInfo& p = ProductInfo;
    ShowProductIdentity();
    if (p.Micro != 'G' && p.Micro != 'S') p.Micro = 0xFF;  // the file rules read an unknown maker as this

    const std::int32_t v = p.VersionNumber();
    const std::int32_t m = GetMinVersion(p.ProductCode);
    if (m > v) {
      MessageDlg(TMsgKind::mkError, "The Product must have Version " + FormatFloat2(m / 100.0) +
                                        " or above in order to support flash update via the USB port");
      ProductMemSize = 0;
    } else if (p.ProductCode == 1 && (v == 109 || v == 110)) {
      MessageDlg(TMsgKind::mkError,
                 "Version " + FormatFloat2(v / 100.0) +
                     " in the Keypad cannot be flash updated, please contact technical support for "
                     "additional information");
      ProductMemSize = 0;
    } else {
      ProductMemSize = GetMemSize(p.ProductCode);
      PrepareImages(ProductMemSize);
    }
    if (p.NvmLocked) {
      ProductMemSize = 0;
      MessageDlg(TMsgKind::mkError,
                 "The Control Panel cannot be flashed whilst the NVM is locked. Please remove the lock in "
                 "System options|Options|Lock NVM. Then try again.");
    }
    // A file accepted for the product before is not thereby right for this one (the same code
    // with another microcontroller maker, say).
    if (ProductMemSize != 0 && FileReady) JudgeLoadedFile();
    ProductReady = ProductMemSize != 0;
    UpdateWizard();
  } else if (jobId == kBootloaderEntryJob) {
    // From here on the line belongs to the boot loader.
    BootloaderMode = true;
    ComsState = TComsState::csPortOpen;
    if (ManualMode) {
      for (auto* b : StepButtons()) b->SetEnabled(true);
    } else {
      WaitTicks(kBootloaderStartTicks, true);
      SendBootCommand(kBootSync);
    }
  }
}

}  // namespace tarvex
