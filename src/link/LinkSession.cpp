// The product link's job machine: packing a job's tasks into frames, gathering reply frames,
// processing the replies (access, identity, reads, writes, errors), repeats and the job's end.
#include "link/LinkSession.h"

#include <optional>
#include <utility>
#include <vector>

#include "core/ProductCatalogue.h"
#include "link/ComsTasks.h"
#include "link/Frame.h"
#include "link/ReplyParsing.h"

namespace tarvex {

namespace {

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

// Counts a reply that cannot be trusted (bad CRC, malformed, noise, not an answer to the request)
// and sends the request again, or gives the job up after the last transmission.
void TLinkSession::RejectReply() {
  if (CommsJob) CommsJob->SetCRCErrors(static_cast<std::uint16_t>(CommsJob->CRCErrors() + 1));
  --f_.RetryCount;
  if (f_.RetryCount > 0) {
    if (!Send(f_.Tx_Buffer)) act_.LineLost();
    return;
  }
  f_.ComsState = TComsState::csReady;
  if (CommsJob) {
    LogDebug(
        Format("Product link: %u bad replies, job aborted", static_cast<unsigned>(CommsJob->CRCErrors())));
    f_.LinkGiveUp = TLinkGiveUp::lgBadReply;
    CommsJob->SetAbortJob(true);
    SendNextTasks();
  }
}

void TLinkSession::SendNextTasks() {
  if (!CommsJob) return;
  if (CommsJob->JobDone() && !CommsJob->AbortJob() && !EveryTaskAnswered(*CommsJob)) {
    // A task passed over (an error the link does not know, say) has told nothing: a job that
    // reads an NVM lock must not end as if the lock were off.
    LogDebug("Product link: a task was not answered, job aborted");
    f_.LinkGiveUp = TLinkGiveUp::lgBadReply;
    CommsJob->SetAbortJob(true);
  }
  if (CommsJob->AbortJob()) {
    const std::uint16_t id = CommsJob->JobID();
    CommsJob.reset();
    act_.JobAborted(id);
    return;
  }
  if (CommsJob->JobDone()) {
    f_.ComsState = TComsState::csReady;
    // The job goes before JobFinished runs: its waits handle messages, and a job built meanwhile
    // (a reconnection, say) must not be destroyed on return.
    const std::unique_ptr<TCommsJob> finished = std::move(CommsJob);
    act_.JobFinished(finished->JobID());
    return;
  }
  if (CommsJob->CurrentTask() == -1 && CommsJob->Count() > 0) {
    CommsJob->SetCurrentTask(0);
    CommsJob->SetFirstTask(0);
    f_.RetryCount = kLinkTransmissions;
  } else {
    CommsJob->SetFirstTask(CommsJob->CurrentTask());
  }
  f_.ComsState = TComsState::csReadWrite;

  f_.Tx_Buffer.clear();
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
    AppendRequest(f_.Tx_Buffer, task);
    packed = true;
  }
  CommsJob->SetCurrentTask(last);
  if (!packed || !FrameAddCrc(f_.Tx_Buffer)) {
    // A task too big for the product's buffer on its own can never be sent; waiting for its
    // reply would hang the job, so it ends as if the product had not answered.
    LogDebug("Product link: task too large for one frame, job aborted");
    CommsJob->SetAbortJob(true);
    SendNextTasks();
    return;
  }
  BootloaderMode = false;
  if (!Send(f_.Tx_Buffer)) act_.LineLost();
}

bool TLinkSession::Send(const ByteString& frame) {
  f_.Rx_Buffer.clear();
  if (frame.empty()) return true;
  return act_.SendFrame(frame);
}

void TLinkSession::OnBytes(std::string_view bytes) {
  f_.Rx_Buffer.append(bytes);
  ByteString& rx = f_.Rx_Buffer;
  if (rx.size() > 2 && rx.size() == GetLinkWord(rx, 0)) {
    auto frame = std::make_unique<ByteString>(std::move(rx));
    rx.clear();
    act_.FrameReceived(std::move(frame));
    return;
  }
  if (rx.size() > kMaxReceiveBuffer) {
    // Noise that never forms a frame: dropped, and counted like a bad reply.
    rx.clear();
    if (CommsJob) RejectReply();
  }
}

void TLinkSession::OnTimeout() {
  --f_.RetryCount;
  if (f_.RetryCount > 0) {
    if (!Send(f_.Tx_Buffer)) act_.LineLost();
  } else if (CommsJob) {
    f_.LinkGiveUp = TLinkGiveUp::lgNoAnswer;
    CommsJob->SetAbortJob(true);
    SendNextTasks();
  }
}

void TLinkSession::ProcessReply(ByteString frame) {
  act_.StopTimer();
  if (frame.empty()) return;

  // A record running past the end of the payload makes the frame as untrustworthy as a bad CRC.
  std::optional<std::vector<TLinkReply>> records;
  if (FrameCheckCrc(frame)) records = DecodeLinkReplies(frame);
  if (!records || (CommsJob && !RepliesMatchRequest(*records, *CommsJob))) {
    RejectReply();
    return;
  }

  f_.RetryCount = kLinkTransmissions;
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
      f_.LinkGiveUp = TLinkGiveUp::lgRefused;
      CommsJob->SetAbortJob(true);
      act_.Refused(kind, text);
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
        f_.ComsState = TComsState::csReady;
        if (r.Code == kReplyCodeNotReady && r.Data.size() <= 2) {
          // The product has its identity not ready yet: ask again.
          f_.Rx_Buffer.clear();
          ContinueJob(TTaskType::ttGetPanelInfo, kParamIdentity);
          break;
        }
        task.SetTaskAcked(true);
        ParsePanelInfo(r.Data);
        if (!IsPeripheralProduct(ProductInfo.ProductCode)) {
          f_.Rx_Buffer.clear();
          CommsJob->ClearTasks();
          CommsJob->SetJobID(kIdentityJob);
          AddTask(TTaskType::ttRead, kParamSerialNo, 1, 16, TDataType::dtByte);
          AddTask(TTaskType::ttRead, kParamNvmLock, 1, 1, TDataType::dtByte);
        }
        break;
      case TProcessMode::pmPoll:
        task.SetTaskAcked(true);
        f_.ComsState = TComsState::csReady;
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
      f_.LinkGiveUp = TLinkGiveUp::lgBadReply;
      CommsJob->SetAbortJob(true);
      break;
    }
  }
  SendNextTasks();
}

}  // namespace tarvex
