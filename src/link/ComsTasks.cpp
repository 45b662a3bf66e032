#include "link/ComsTasks.h"

#include <algorithm>

#include "link/AccessCodes.h"

namespace tarvex {

std::unique_ptr<TCommsJob> CommsJob;

std::uint16_t DataTypeSize(TDataType type) {
  switch (type) {
    case TDataType::dtByte: return 1;
    case TDataType::dtWord: return 2;
    case TDataType::dtString3: return 3;
    case TDataType::dtString4: return 4;
    case TDataType::dtString5: return 5;
    case TDataType::dtString6: return 6;
    case TDataType::dtString8: return 8;
    case TDataType::dtString9: return 9;
    case TDataType::dtString16: return 16;
    case TDataType::dtString20: return 20;
    case TDataType::dtLogData8: return 8;
    case TDataType::dtBytes5: return 5;
    case TDataType::dtStruc: return 74;
    case TDataType::dtNil:
    case TDataType::dtBlob64: return 0;
  }
  return 0;
}

// TCommsTask --------------------------------------------------------------------------------------

void TCommsTask::SetTaskType(TTaskType v) {
  if (v == FTaskType) return;
  FTaskType = v;
  UpdateLengths();
}

void TCommsTask::SetParamAddress(std::uint16_t v) {
  if (v == FParamAddress) return;
  FParamAddress = v;
  UpdateLengths();
}

void TCommsTask::SetIDStart(std::uint16_t v) {
  if (v == FIDStart) return;
  FIDStart = v;
  UpdateLengths();
}

void TCommsTask::SetIDLength(std::uint16_t v) {
  if (v == FIDLength) return;
  FIDLength = v;
  UpdateLengths();
}

void TCommsTask::SetTaskDataType(TDataType v) {
  if (v == FTaskDataType) return;
  FTaskDataType = v;
  UpdateLengths();
}

void TCommsTask::UpdateLengths() {
  if (FParamAddress == 0 || FIDStart == 0 || FIDLength == 0) return;
  // 16-bit arithmetic throughout, as the product counts.
  const auto elements = static_cast<std::uint16_t>(DataTypeSize(FTaskDataType) * FIDLength);
  switch (FTaskType) {
    case TTaskType::ttRead:
    case TTaskType::ttReadRAM:
      FSendLength = kRecordHeaderSize;
      FReceiveLength = static_cast<std::uint16_t>(elements + kRecordHeaderSize);
      break;
    case TTaskType::ttWrite:
      if (FTaskDataType == TDataType::dtBlob64) {
        FSendLength = static_cast<std::uint16_t>(FPanelData.size() + kRecordHeaderSize);
      } else {
        FSendLength = static_cast<std::uint16_t>(elements + kRecordHeaderSize);
      }
      FReceiveLength = kRecordHeaderSize;
      break;
    default: break;  // access, identity, boot loader and poll requests count nothing
  }
}

// TCommsJob ---------------------------------------------------------------------------------------

TCommsTask& TCommsJob::Add() {
  tasks_.push_back(std::make_unique<TCommsTask>());
  return *tasks_.back();
}

void TCommsJob::ClearTasks() {
  tasks_.clear();
  SetShowProgress(false);
  SetClearStatus(true);
  SetAbortJob(false);
  SetJobID(0);
  SetCurrentTask(-1);
  SetTxByteCount(0);
  SetRxByteCount(0);
  SetCRCErrors(0);
}

void TCommsJob::ResetAllTasks() {
  for (auto& t : tasks_) t->SetTaskSent(false);
}

bool TCommsJob::JobDone() const {
  return std::all_of(tasks_.begin(), tasks_.end(), [](const auto& t) { return t->TaskSent(); });
}

std::int32_t TCommsJob::TxLength() const {
  std::int32_t sum = 0;
  for (const auto& t : tasks_) sum += t->SendLength();
  return sum;
}

std::int32_t TCommsJob::RxLength() const {
  if (tasks_.empty()) return 0;
  std::int32_t sum = 0;
  std::int32_t frames = 1;
  std::int32_t total = 0;
  for (const auto& t : tasks_) {
    sum += t->ReceiveLength();
    total += t->SendLength();
    if (total > FPanelBufferSize) {
      ++frames;
      total = t->SendLength();
    }
  }
  return sum + 4 * frames;
}

// Building jobs -----------------------------------------------------------------------------------

void BuildJob(std::uint16_t jobId, TJobType jobType, bool showProgress, bool clearStatus) {
  if (!CommsJob) CommsJob = std::make_unique<TCommsJob>();
  CommsJob->ClearTasks();
  CommsJob->SetJobID(jobId);
  CommsJob->SetJobType(jobType);
  if (jobType == TJobType::jtReceiveData) CommsJob->SetUpdateForms(true);
  CommsJob->SetAbortJob(false);
  CommsJob->SetShowProgress(showProgress);
  CommsJob->SetResetProgress(showProgress);
  CommsJob->SetClearStatus(clearStatus);
  CommsJob->SetPanelBufferSize(kPanelBufferSize);
}

void AddTask(TTaskType type, std::uint16_t paramAddress, std::uint16_t idStart, std::uint16_t idLength,
             TDataType dataType) {
  if (!CommsJob) return;  // a caller error; nothing to add to
  TCommsTask& task = CommsJob->Add();
  task.SetText("");
  task.SetTaskType(type);
  task.SetParamAddress(paramAddress);
  task.SetIDStart(idStart);
  task.SetIDLength(idLength);
  switch (type) {
    case TTaskType::ttNil: task.SetProcessMode(TProcessMode::pmNil); break;
    case TTaskType::ttGetAccess:
      task.SetProcessMode(TProcessMode::pmGetAccess);
      task.SetPanelData(FirstAccessCode());
      break;
    case TTaskType::ttGetBDAccess:
      task.SetProcessMode(TProcessMode::pmGetAccess);
      task.SetPanelData(SecondAccessCode());
      break;
    case TTaskType::ttGetPanelInfo: task.SetProcessMode(TProcessMode::pmGetPanelInfo); break;
    case TTaskType::ttBootloader:
      task.SetProcessMode(TProcessMode::pmBootloader);
      task.SetPanelData(BootloaderEntryCode());
      break;
    case TTaskType::ttPoll: task.SetProcessMode(TProcessMode::pmPoll); break;
    case TTaskType::ttRead: task.SetProcessMode(TProcessMode::pmRead); break;
    case TTaskType::ttReadRAM: task.SetProcessMode(TProcessMode::pmReadRAM); break;
    case TTaskType::ttWrite: task.SetProcessMode(TProcessMode::pmWrite); break;
  }
  // Last, so the sizes that stand are those of the final data type.
  task.SetTaskDataType(dataType);
}

}  // namespace tarvex
