// Product-link jobs: an ordered list of tasks, each of which becomes one request record in a frame.
// At most one job exists at a time, held in the global CommsJob.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/Globals.h"

namespace tarvex {

enum class TTaskType : std::uint8_t {
  ttNil,
  ttGetAccess,
  ttGetBDAccess,
  ttGetPanelInfo,
  ttBootloader,
  ttPoll,
  ttRead,
  ttReadRAM,
  ttWrite,
};

enum class TJobType : std::uint8_t { jtAccess, jtPoll, jtReceiveData, jtSendData };

enum class TProcessMode : std::uint8_t {
  pmNil,
  pmGetAccess,
  pmGetPanelInfo,
  pmBootloader,
  pmPoll,
  pmRead,
  pmReadRAM,
  pmWrite,
};

enum class TDataType : std::uint8_t {
  dtNil,
  dtByte,
  dtWord,
  dtString3,
  dtString4,
  dtString5,
  dtString6,
  dtString8,
  dtString9,
  dtString16,
  dtString20,
  dtBlob64,
  dtLogData8,
  dtBytes5,
  dtStruc,
};

// Bytes of one element of a read or write; 0 for the types that have no element size.
std::uint16_t DataTypeSize(TDataType type);

// Size of a request or reply record's header.
inline constexpr std::uint16_t kRecordHeaderSize = 8;
// Bound on the summed request and reply sizes of the tasks in one frame (the product's buffer).
inline constexpr std::uint16_t kPanelBufferSize = 480;

// One request of a job.
class TCommsTask {
 public:
  [[nodiscard]] const std::string& Text() const { return FText; }
  void SetText(const std::string& v) { FText = v; }
  [[nodiscard]] const ByteString& PanelData() const { return FPanelData; }
  void SetPanelData(const ByteString& v) { FPanelData = v; }
  [[nodiscard]] TTaskType TaskType() const { return FTaskType; }
  void SetTaskType(TTaskType v);
  [[nodiscard]] std::uint16_t ParamAddress() const { return FParamAddress; }
  void SetParamAddress(std::uint16_t v);
  [[nodiscard]] std::uint16_t IDStart() const { return FIDStart; }
  void SetIDStart(std::uint16_t v);
  [[nodiscard]] std::uint16_t IDLength() const { return FIDLength; }
  void SetIDLength(std::uint16_t v);
  [[nodiscard]] bool TaskSent() const { return FTaskSent; }
  void SetTaskSent(bool v) { FTaskSent = v; }
  [[nodiscard]] bool TaskAcked() const { return FTaskAcked; }
  void SetTaskAcked(bool v) { FTaskAcked = v; }
  [[nodiscard]] TDataType TaskDataType() const { return FTaskDataType; }
  void SetTaskDataType(TDataType v);
  [[nodiscard]] std::uint16_t SendLength() const { return FSendLength; }
  [[nodiscard]] std::uint16_t ReceiveLength() const { return FReceiveLength; }
  [[nodiscard]] TProcessMode ProcessMode() const { return FProcessMode; }
  void SetProcessMode(TProcessMode v) { FProcessMode = v; }

 private:
  // Works the request and reply sizes out again after one of the fields they depend on changed.
  void UpdateLengths();

  std::string FText;
  ByteString FPanelData;
  TTaskType FTaskType = TTaskType::ttNil;
  std::uint16_t FParamAddress = 0;
  std::uint16_t FIDStart = 0;
  std::uint16_t FIDLength = 0;
  bool FTaskSent = false;
  bool FTaskAcked = false;
  TDataType FTaskDataType = TDataType::dtNil;
  std::uint16_t FSendLength = 0;
  std::uint16_t FReceiveLength = 0;
  TProcessMode FProcessMode = TProcessMode::pmNil;
};

// An ordered list of tasks that owns them.
class TCommsJob {
 public:
  TCommsJob() = default;
  TCommsJob(const TCommsJob&) = delete;
  TCommsJob& operator=(const TCommsJob&) = delete;

  // Appends a new task and returns it; the job keeps ownership.
  TCommsTask& Add();
  [[nodiscard]] int Count() const { return static_cast<int>(tasks_.size()); }
  // The task at index i (0 to Count-1).
  [[nodiscard]] TCommsTask& Items(int i) { return *tasks_.at(static_cast<std::size_t>(i)); }
  [[nodiscard]] const TCommsTask& Items(int i) const { return *tasks_.at(static_cast<std::size_t>(i)); }

  // Destroys every task and puts the job's state back for a fresh start; FirstTask stays.
  void ClearTasks();
  // Marks every task as not sent.
  void ResetAllTasks();

  [[nodiscard]] std::uint16_t JobID() const { return FJobID; }
  void SetJobID(std::uint16_t v) {
    if (v != FJobID) FJobID = v;
  }
  [[nodiscard]] TJobType JobType() const { return FJobType; }
  void SetJobType(TJobType v) {
    if (v != FJobType) FJobType = v;
  }
  [[nodiscard]] std::int32_t FirstTask() const { return FFirstTask; }
  void SetFirstTask(std::int32_t v) { StoreIndex(FFirstTask, v); }
  [[nodiscard]] std::int32_t CurrentTask() const { return FCurrentTask; }
  void SetCurrentTask(std::int32_t v) { StoreIndex(FCurrentTask, v); }
  [[nodiscard]] bool ShowProgress() const { return FShowProgress; }
  void SetShowProgress(bool v) {
    if (v != FShowProgress) FShowProgress = v;
  }
  [[nodiscard]] bool ResetProgress() const { return FResetProgress; }
  void SetResetProgress(bool v) {
    if (v != FResetProgress) FResetProgress = v;
  }
  [[nodiscard]] bool ClearStatus() const { return FClearStatus; }
  void SetClearStatus(bool v) {
    if (v != FClearStatus) FClearStatus = v;
  }
  [[nodiscard]] bool UpdateForms() const { return FUpdateForms; }
  void SetUpdateForms(bool v) {
    if (v != FUpdateForms) FUpdateForms = v;
  }
  // True when there is no task or every task has been sent.
  [[nodiscard]] bool JobDone() const;
  [[nodiscard]] bool AbortJob() const { return FAbortJob; }
  void SetAbortJob(bool v) {
    if (v != FAbortJob) FAbortJob = v;
  }
  [[nodiscard]] std::int32_t TxByteCount() const { return FTxByteCount; }
  void SetTxByteCount(std::int32_t v) {
    if (v != FTxByteCount) FTxByteCount = v;
  }
  [[nodiscard]] std::int32_t RxByteCount() const { return FRxByteCount; }
  void SetRxByteCount(std::int32_t v) {
    if (v != FRxByteCount) FRxByteCount = v;
  }
  [[nodiscard]] std::uint16_t CRCErrors() const { return FCRCErrors; }
  void SetCRCErrors(std::uint16_t v) {
    if (v != FCRCErrors) FCRCErrors = v;
  }
  [[nodiscard]] std::uint16_t PanelBufferSize() const { return FPanelBufferSize; }
  void SetPanelBufferSize(std::uint16_t v) {
    if (v != FPanelBufferSize) FPanelBufferSize = v;
  }

  // The summed request sizes of all tasks.
  [[nodiscard]] std::int32_t TxLength() const;
  // The summed reply sizes of all tasks plus the envelope of every frame the tasks need.
  [[nodiscard]] std::int32_t RxLength() const;

 private:
  // A task index: -1 when the job has no tasks or the index lies past the last task.
  void StoreIndex(std::int32_t& field, std::int32_t v) {
    if (tasks_.empty() || v >= Count()) v = -1;
    if (v != field) field = v;
  }

  std::vector<std::unique_ptr<TCommsTask>> tasks_;
  std::uint16_t FJobID = 0;
  TJobType FJobType = TJobType::jtAccess;
  std::int32_t FFirstTask = -1;
  std::int32_t FCurrentTask = -1;
  bool FShowProgress = false;
  bool FResetProgress = true;
  bool FClearStatus = true;
  bool FUpdateForms = false;
  bool FAbortJob = false;
  std::int32_t FTxByteCount = 0;
  std::int32_t FRxByteCount = 0;
  std::uint16_t FCRCErrors = 0;
  std::uint16_t FPanelBufferSize = kPanelBufferSize;
};

// Job IDs: what JobFinished does when the job is done.
inline constexpr std::uint16_t kIdentityJob = 1;
inline constexpr std::uint16_t kBootloaderEntryJob = 2;

// Makes CommsJob (created when there is none) the start of a new job.
void BuildJob(std::uint16_t jobId, TJobType jobType, bool showProgress, bool clearStatus);
// Appends one task to CommsJob, which must exist.
void AddTask(TTaskType type, std::uint16_t paramAddress, std::uint16_t idStart, std::uint16_t idLength,
             TDataType dataType);

}  // namespace tarvex
