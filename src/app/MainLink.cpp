// The product link: packing a job's tasks into frames, sending them with the reply timer,
// recognising reply frames, processing the replies and finishing the job.
#include <memory>
#include <optional>
#include <utility>

#include "app/Main.h"
#include "bootloader/BootFrames.h"
#include "core/ProductCatalogue.h"
#include "firmware/FlashImage.h"
#include "link/ComsTasks.h"
#include "link/Frame.h"
#include "link/ReplyParsing.h"
#include "serial/ComPortIntf.h"
#include "serial/MessagePump.h"
#include "serial/SerialErrors.h"
#include "serial/Ticks.h"

namespace tarvex {

namespace {

// Transmissions of one product-link frame: the first and two repeats.
constexpr std::int32_t kLinkTransmissions = 3;
constexpr std::int32_t kReplyTimeoutTicks = 36;
// Ticks the product needs to start its boot loader after acknowledging the entry request.
constexpr std::int32_t kBootloaderStartTicks = 4;
// No reply of a product with a 480-byte buffer comes near this; a longer run of bytes that never
// formed a frame is line noise and is dropped.
constexpr std::size_t kMaxReceiveBuffer = 4096;

// The request record of one task.
void AppendRequest(ByteString& frame, const TCommsTask& task) {
  if (task.TaskType() == TTaskType::ttNil) {
    // A nil task carries its address fields only.
    PutLinkWord(frame, task.ParamAddress());
    PutLinkWord(frame, task.IDStart());
    PutLinkWord(frame, task.IDLength());
    return;
  }
  TLinkRequest rec{task.ParamAddress(), task.IDStart(), task.IDLength(), {}};
  switch (task.TaskType()) {
    case TTaskType::ttGetAccess:
    case TTaskType::ttGetBDAccess:
    case TTaskType::ttBootloader:
    case TTaskType::ttWrite: rec.Data = task.PanelData(); break;
    default: break;  // reads, identity and poll send no data
  }
  EncodeLinkRequest(frame, rec);
}

// Replaces the job's tasks by one new task; clearing resets the job ID, which the job keeps.
void ContinueJob(TTaskType type, std::uint16_t paramAddress) {
  const std::uint16_t id = CommsJob->JobID();
  CommsJob->ClearTasks();
  CommsJob->SetJobID(id);
  AddTask(type, paramAddress, 1, 1, TDataType::dtNil);
}

// Counts a reply that cannot be trusted (bad CRC, malformed, noise, not an answer to the request)
// and sends the request again, or gives the job up after the last transmission.
void RejectReply(TfrmMain& frm) {
  if (CommsJob) CommsJob->SetCRCErrors(static_cast<std::uint16_t>(CommsJob->CRCErrors() + 1));
  --frm.RetryCount;
  if (frm.RetryCount > 0) {
    if (!frm.SendPanelFrame(frm.Tx_Buffer)) frm.LineLost();
    return;
  }
  frm.ComsState = TComsState::csReady;
  if (CommsJob) {
    LogDebug(
        Format("Product link: %u bad replies, job aborted", static_cast<unsigned>(CommsJob->CRCErrors())));
    frm.LinkGiveUp = TLinkGiveUp::lgBadReply;
    CommsJob->SetAbortJob(true);
    frm.SendNextTasks();
  }
}

// The tasks the frame last sent carried: from FirstTask on, as far as they were sent.
std::int32_t TasksInFrame(const TCommsJob& job) {
  std::int32_t n = 0;
  for (std::int32_t i = job.FirstTask(); i >= 0 && i < job.Count() && job.Items(i).TaskSent(); ++i) ++n;
  return n;
}

// A record answers its task when it carries the task's own address as its reply code, or is an
// error record, or the identity's "not ready yet". Anything else is a reply to another request (a
// late one, sent again after its time-out) and must not be taken for this one.
bool RecordAnswers(const TLinkReply& r, const TCommsTask& task) {
  if (r.Code == kReplyCodeError || r.Code == task.ParamAddress()) return true;
  return r.Code == kReplyCodeNotReady && task.ProcessMode() == TProcessMode::pmGetPanelInfo;
}

// One record per task of the request, in order: fewer, or one for another task, and the frame
// cannot be trusted. Records beyond the tasks are passed over.
bool RepliesMatchRequest(const std::vector<TLinkReply>& records, const TCommsJob& job) {
  const std::int32_t tasks = TasksInFrame(job);
  if (static_cast<std::int32_t>(records.size()) < tasks) return false;
  for (std::int32_t k = 0; k < tasks; ++k) {
    if (!RecordAnswers(records[static_cast<std::size_t>(k)], job.Items(job.FirstTask() + k))) return false;
  }
  return true;
}

bool EveryTaskAnswered(const TCommsJob& job) {
  for (std::int32_t i = 0; i < job.Count(); ++i) {
    if (!job.Items(i).TaskAcked()) return false;
  }
  return true;
}

}  // namespace

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
  if (!CommsJob) return;
  if (CommsJob->JobDone() && !CommsJob->AbortJob() && !EveryTaskAnswered(*CommsJob)) {
    // A task passed over (an error the link does not know, say) has told nothing: a job that
    // reads an NVM lock must not end as if the lock were off.
    LogDebug("Product link: a task was not answered, job aborted");
    LinkGiveUp = TLinkGiveUp::lgBadReply;
    CommsJob->SetAbortJob(true);
  }
  if (CommsJob->AbortJob()) {
    const std::uint16_t id = CommsJob->JobID();
    FlashInProgress = false;
    CommsJob.reset();
    UpdateWizard();
    // Silence on the product link may be a product waiting in its boot loader.
    if (id == kIdentityJob && LinkGiveUp == TLinkGiveUp::lgNoAnswer && PortOpen) {
      ProbeBootloader();
      return;
    }
    TellGiveUp(id);
    FinishHistory(false);
    return;
  }
  if (CommsJob->JobDone()) {
    ComsState = TComsState::csReady;
    // The job goes before JobFinished runs: its waits handle messages, and a job built meanwhile
    // (a reconnection, say) must not be destroyed on return.
    const std::unique_ptr<TCommsJob> finished = std::move(CommsJob);
    JobFinished(finished->JobID());
    return;
  }
  if (CommsJob->CurrentTask() == -1 && CommsJob->Count() > 0) {
    CommsJob->SetCurrentTask(0);
    CommsJob->SetFirstTask(0);
    RetryCount = kLinkTransmissions;
  } else {
    CommsJob->SetFirstTask(CommsJob->CurrentTask());
  }
  ComsState = TComsState::csReadWrite;

  Tx_Buffer.clear();
  // Wide sums: 16-bit ones could wrap past the bound and let an oversized task through.
  std::int32_t rx = 0;
  std::int32_t tx = 0;
  const std::int32_t first = CommsJob->CurrentTask();
  std::int32_t last = first - 1;
  bool packed = false;
  for (std::int32_t i = first; i < CommsJob->Count(); ++i) {
    TCommsTask& task = CommsJob->Items(i);
    rx += task.ReceiveLength();
    tx += task.SendLength();
    last = i;
    if (rx >= CommsJob->PanelBufferSize() || tx >= CommsJob->PanelBufferSize()) break;
    task.SetTaskSent(true);
    AppendRequest(Tx_Buffer, task);
    packed = true;
  }
  CommsJob->SetCurrentTask(last);
  if (!packed || !FrameAddCrc(Tx_Buffer)) {
    // A task too big for the product's buffer on its own can never be sent; waiting for its
    // reply would hang the job, so it ends as if the product had not answered.
    LogDebug("Product link: task too large for one frame, job aborted");
    CommsJob->SetAbortJob(true);
    SendNextTasks();
    return;
  }
  BootloaderMode = false;
  if (!SendPanelFrame(Tx_Buffer)) LineLost();
}

bool TfrmMain::SendPanelFrame(const ByteString& frame) {
  Rx_Buffer.clear();
  if (frame.empty()) return true;
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

// The port's events --------------------------------------------------------------------------------

void TfrmMain::ComPortTriggerAvail(std::uint16_t count) {
  IComPort* port = platform_.ComPort;
  if (port == nullptr) return;
  for (std::uint16_t i = 0; i < count; ++i) Rx_Buffer += port->GetChar();

  if (BootloaderMode) {
    ProcessBootResponse();
    return;
  }

  if (Rx_Buffer.size() > 2 && Rx_Buffer.size() == GetLinkWord(Rx_Buffer, 0)) {
    auto frame = std::make_unique<ByteString>(std::move(Rx_Buffer));
    Rx_Buffer.clear();
    IMessagePump* pump = platform_.Pump;
    if (pump == nullptr) {
      ProcessUDLData(std::move(frame));
      return;
    }
    // The message owns the frame: it is freed with the message whether or not it is handled.
    auto holder = std::make_shared<std::unique_ptr<ByteString>>(std::move(frame));
    pump->Post([this, holder] { ProcessUDLData(std::move(*holder)); });
    return;
  }

  if (Rx_Buffer.size() > kMaxReceiveBuffer) {
    // Noise that never forms a frame: dropped, and counted like a bad reply.
    Rx_Buffer.clear();
    if (CommsJob) RejectReply(*this);
  }
}

void TfrmMain::ComPortTriggerTimer(std::uint16_t triggerHandle) {
  if (triggerHandle != TxTimer) return;
  if (BootloaderMode) {
    BootTimeout();
    return;
  }
  --RetryCount;
  if (RetryCount > 0) {
    if (!SendPanelFrame(Tx_Buffer)) LineLost();
  } else if (CommsJob) {
    LinkGiveUp = TLinkGiveUp::lgNoAnswer;
    CommsJob->SetAbortJob(true);
    SendNextTasks();
  }
}

// Replies ------------------------------------------------------------------------------------------

void TfrmMain::ProcessUDLData(std::unique_ptr<ByteString> frame) {
  IComPort* port = platform_.ComPort;
  if (port != nullptr && port->Open()) port->SetTimerTrigger(TxTimer, 0, false);
  if (!frame || frame->empty()) return;

  // A record running past the end of the payload makes the frame as untrustworthy as a bad CRC.
  std::optional<std::vector<TLinkReply>> records;
  if (FrameCheckCrc(*frame)) records = DecodeLinkReplies(*frame);
  if (!records || (CommsJob && !RepliesMatchRequest(*records, *CommsJob))) {
    RejectReply(*this);
    return;
  }

  RetryCount = kLinkTransmissions;
  std::int32_t i = CommsJob ? CommsJob->FirstTask() : 0;
  for (const TLinkReply& r : *records) {
    const std::int32_t index = i++;
    if (!CommsJob || index < 0 || index >= CommsJob->Count()) continue;

    if (r.Code == kReplyCodeError) {
      std::uint16_t error = r.Data.size() >= 2 ? GetLinkWord(r.Data, 0) : 0;
      // The second code is the last one there is: refusing it too is a refusal.
      if (error == kLinkErrTryOtherCode && CommsJob->Items(index).TaskType() == TTaskType::ttGetBDAccess) {
        error = kLinkErrAccessDenied;
      }
      if (error == kLinkErrTryOtherCode) {
        CommsJob->SetAbortJob(false);
        ContinueJob(TTaskType::ttGetBDAccess, kParamAccess);
        continue;
      }
      const char* text = nullptr;
      TMsgKind kind = TMsgKind::mkError;
      if (error == kLinkErrMessageLength) {
        text = "Message Length Error";
        kind = TMsgKind::mkPlain;
      } else if (error == kLinkErrAccessDenied) {
        text = "Access with product is denied";
      } else if (error == kLinkErrNotSupported) {
        text = "Command not supported";
      }
      if (text == nullptr) continue;  // an error the link does not know is passed over (unanswered)
      LogDebug(text);
      LinkGiveUp = TLinkGiveUp::lgRefused;
      CommsJob->SetAbortJob(true);
      MessageDlg(kind, text);
      break;
    }

    TCommsTask& task = CommsJob->Items(index);
    bool accepted = true;
    switch (task.ProcessMode()) {
      case TProcessMode::pmNil:
      case TProcessMode::pmBootloader: task.SetTaskAcked(true); break;
      case TProcessMode::pmGetAccess:
        accepted = r.IDLength == task.IDLength() && r.Data.empty();
        if (accepted) {
          if (CommsJob->JobID() == kIdentityJob) {
            ContinueJob(TTaskType::ttGetPanelInfo, kParamIdentity);
          } else if (CommsJob->JobID() == kBootloaderEntryJob) {
            ContinueJob(TTaskType::ttBootloader, kParamBootloader);
          } else {
            // Access was all this job wanted.
            const std::uint16_t id = CommsJob->JobID();
            CommsJob->ClearTasks();
            CommsJob->SetJobID(id);
          }
        }
        break;
      case TProcessMode::pmGetPanelInfo:
        ComsState = TComsState::csReady;
        if (r.Code == kReplyCodeNotReady && r.Data.size() <= 2) {
          // The product has its identity not ready yet: ask again.
          Rx_Buffer.clear();
          ContinueJob(TTaskType::ttGetPanelInfo, kParamIdentity);
          break;
        }
        task.SetTaskAcked(true);
        ParsePanelInfo(r.Data);
        if (!IsPeripheralProduct(ProductInfo.ProductCode)) {
          Rx_Buffer.clear();
          CommsJob->ClearTasks();
          CommsJob->SetJobID(kIdentityJob);
          AddTask(TTaskType::ttRead, kParamSerialNo, 1, 16, TDataType::dtByte);
          AddTask(TTaskType::ttRead, kParamNvmLock, 1, 1, TDataType::dtByte);
        }
        break;
      case TProcessMode::pmPoll:
        task.SetTaskAcked(true);
        ComsState = TComsState::csReady;
        break;
      case TProcessMode::pmRead:
        accepted = !r.Data.empty();
        if (accepted) {
          task.SetTaskAcked(true);
          if (task.ParamAddress() == kParamSerialNo) ParseSerialNo(r.Data);
          if (task.ParamAddress() == kParamNvmLock) ParseNvmLock(r.Data);
        }
        break;
      case TProcessMode::pmReadRAM:
        accepted = !r.Data.empty();
        if (accepted) task.SetTaskAcked(true);
        break;
      case TProcessMode::pmWrite:
        accepted = r.IDLength == task.IDLength() && r.Data.empty();
        if (accepted) task.SetTaskAcked(true);
        break;
    }
    if (!accepted) {
      LogDebug("Product link: a reply did not acknowledge its request, job aborted");
      LinkGiveUp = TLinkGiveUp::lgBadReply;
      CommsJob->SetAbortJob(true);
      break;
    }
  }
  SendNextTasks();
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
