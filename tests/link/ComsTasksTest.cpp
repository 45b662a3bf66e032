// Jobs and tasks: sizes, property rules, building the two jobs.
#include <gtest/gtest.h>

#include "link/AccessCodes.h"
#include "link/ComsTasks.h"

namespace tarvex {
namespace {

class ComsTasks : public ::testing::Test {
 protected:
  void TearDown() override { CommsJob.reset(); }
};

TEST_F(ComsTasks, NewJobAndTaskStartFromTheirInitialValues) {
  TCommsJob job;
  EXPECT_EQ(job.JobID(), 0);
  EXPECT_EQ(job.JobType(), TJobType::jtAccess);
  EXPECT_EQ(job.FirstTask(), -1);
  EXPECT_EQ(job.CurrentTask(), -1);
  EXPECT_EQ(job.PanelBufferSize(), 480);
  EXPECT_TRUE(job.ClearStatus());
  EXPECT_TRUE(job.ResetProgress());
  EXPECT_FALSE(job.ShowProgress());
  EXPECT_FALSE(job.AbortJob());
  EXPECT_TRUE(job.JobDone());  // no task at all
  EXPECT_EQ(job.TxLength(), 0);
  EXPECT_EQ(job.RxLength(), 0);

  TCommsTask& t = job.Add();
  EXPECT_FALSE(job.JobDone());
  EXPECT_EQ(t.TaskType(), TTaskType::ttNil);
  EXPECT_EQ(t.SendLength(), 0);
  EXPECT_EQ(t.ReceiveLength(), 0);
  EXPECT_TRUE(t.PanelData().empty());
  t.SetTaskSent(true);
  EXPECT_TRUE(job.JobDone());
  job.ResetAllTasks();
  EXPECT_FALSE(job.JobDone());
}

TEST_F(ComsTasks, TaskIndexesAreClampedToTheTaskList) {
  TCommsJob job;
  job.SetCurrentTask(0);
  EXPECT_EQ(job.CurrentTask(), -1);  // empty job: any value stores -1
  for (int i = 0; i < 3; ++i) job.Add();
  job.SetCurrentTask(5);
  EXPECT_EQ(job.CurrentTask(), -1);
  job.SetCurrentTask(3);
  EXPECT_EQ(job.CurrentTask(), -1);
  job.SetCurrentTask(2);
  EXPECT_EQ(job.CurrentTask(), 2);
  job.SetFirstTask(1);
  EXPECT_EQ(job.FirstTask(), 1);
  job.SetFirstTask(7);
  EXPECT_EQ(job.FirstTask(), -1);
}

TEST_F(ComsTasks, ClearTasksResetsTheJobButKeepsFirstTask) {
  TCommsJob job;
  job.Add();
  job.Add();
  job.SetJobID(2);
  job.SetFirstTask(1);
  job.SetCurrentTask(1);
  job.SetShowProgress(true);
  job.SetClearStatus(false);
  job.SetAbortJob(true);
  job.SetCRCErrors(2);
  job.SetTxByteCount(10);
  job.SetRxByteCount(11);
  job.ClearTasks();
  EXPECT_EQ(job.Count(), 0);
  EXPECT_EQ(job.JobID(), 0);
  EXPECT_EQ(job.CurrentTask(), -1);
  EXPECT_EQ(job.FirstTask(), 1);
  EXPECT_FALSE(job.ShowProgress());
  EXPECT_TRUE(job.ClearStatus());
  EXPECT_FALSE(job.AbortJob());
  EXPECT_EQ(job.CRCErrors(), 0);
  EXPECT_EQ(job.TxByteCount(), 0);
  EXPECT_EQ(job.RxByteCount(), 0);
}

TEST_F(ComsTasks, SizesFollowTheTaskTypeAndTheFinalDataType) {
  BuildJob(1, TJobType::jtAccess, false, false);
  AddTask(TTaskType::ttRead, 610, 1, 16, TDataType::dtByte);
  AddTask(TTaskType::ttRead, 610, 1, 16, TDataType::dtWord);
  AddTask(TTaskType::ttReadRAM, 20, 1, 2, TDataType::dtStruc);
  AddTask(TTaskType::ttWrite, 30, 1, 3, TDataType::dtString20);
  AddTask(TTaskType::ttRead, 0, 1, 16, TDataType::dtByte);  // no address: nothing counted
  AddTask(TTaskType::ttRead, 610, 0, 16, TDataType::dtByte);
  AddTask(TTaskType::ttPoll, 5, 1, 1, TDataType::dtByte);
  const auto& j = *CommsJob;
  EXPECT_EQ(j.Items(0).SendLength(), 8);
  EXPECT_EQ(j.Items(0).ReceiveLength(), 24);
  EXPECT_EQ(j.Items(1).ReceiveLength(), 40);
  EXPECT_EQ(j.Items(2).SendLength(), 8);
  EXPECT_EQ(j.Items(2).ReceiveLength(), 156);
  EXPECT_EQ(j.Items(3).SendLength(), 68);
  EXPECT_EQ(j.Items(3).ReceiveLength(), 8);
  for (int i : {4, 5, 6}) {
    EXPECT_EQ(j.Items(i).SendLength(), 0) << i;
    EXPECT_EQ(j.Items(i).ReceiveLength(), 0) << i;
  }
  EXPECT_EQ(j.Items(0).ProcessMode(), TProcessMode::pmRead);
  EXPECT_EQ(j.Items(2).ProcessMode(), TProcessMode::pmReadRAM);
  EXPECT_EQ(j.Items(3).ProcessMode(), TProcessMode::pmWrite);
  EXPECT_EQ(j.Items(6).ProcessMode(), TProcessMode::pmPoll);
}

TEST_F(ComsTasks, BlobWriteSendsItsDataWhole) {
  TCommsJob job;
  TCommsTask& t = job.Add();
  t.SetTaskType(TTaskType::ttWrite);
  t.SetPanelData(ByteString(64, 'x'));
  t.SetParamAddress(100);
  t.SetIDStart(1);
  t.SetIDLength(1);
  t.SetTaskDataType(TDataType::dtBlob64);
  EXPECT_EQ(t.SendLength(), 72);
  EXPECT_EQ(t.ReceiveLength(), 8);
}

TEST_F(ComsTasks, SizeArithmeticWrapsAt16Bits) {
  TCommsJob job;
  TCommsTask& t = job.Add();
  t.SetTaskType(TTaskType::ttRead);
  t.SetParamAddress(1);
  t.SetIDStart(1);
  t.SetIDLength(1000);
  t.SetTaskDataType(TDataType::dtStruc);  // 74000 + 8 wraps
  EXPECT_EQ(t.ReceiveLength(), static_cast<std::uint16_t>(74008));
}

TEST_F(ComsTasks, RxLengthCountsTheEnvelopeOfEveryFrame) {
  TCommsJob job;
  job.SetPanelBufferSize(20);
  for (int i = 0; i < 3; ++i) {
    TCommsTask& t = job.Add();
    t.SetTaskType(TTaskType::ttWrite);
    t.SetParamAddress(1);
    t.SetIDStart(1);
    t.SetIDLength(1);
    t.SetTaskDataType(TDataType::dtWord);  // send 10, receive 8
  }
  EXPECT_EQ(job.TxLength(), 30);
  // Running send totals 10, 20, 30 > 20: a second frame starts at the third task.
  EXPECT_EQ(job.RxLength(), 24 + 2 * 4);
}

TEST_F(ComsTasks, TheTwoJobsAreBuiltAsTheProductExpects) {
  BuildJob(kIdentityJob, TJobType::jtAccess, false, false);
  AddTask(TTaskType::ttGetAccess, 1, 1, 1, TDataType::dtNil);
  ASSERT_TRUE(CommsJob);
  EXPECT_EQ(CommsJob->JobID(), 1);
  EXPECT_FALSE(CommsJob->ClearStatus());
  EXPECT_FALSE(CommsJob->ResetProgress());
  EXPECT_FALSE(CommsJob->UpdateForms());
  const TCommsTask& access = CommsJob->Items(0);
  EXPECT_EQ(access.ProcessMode(), TProcessMode::pmGetAccess);
  EXPECT_EQ(access.PanelData(), FirstAccessCode());
  EXPECT_EQ(access.PanelData().size(), 4u);
  EXPECT_EQ(access.SendLength(), 0);

  AddTask(TTaskType::ttGetBDAccess, 1, 1, 1, TDataType::dtNil);
  EXPECT_EQ(CommsJob->Items(1).PanelData().size(), 10u);
  EXPECT_EQ(CommsJob->Items(1).ProcessMode(), TProcessMode::pmGetAccess);
  AddTask(TTaskType::ttBootloader, 13, 1, 1, TDataType::dtNil);
  EXPECT_EQ(CommsJob->Items(2).PanelData(), BootloaderEntryCode());
  EXPECT_EQ(CommsJob->Items(2).PanelData().size(), 2u);
  EXPECT_EQ(CommsJob->Items(2).ProcessMode(), TProcessMode::pmBootloader);

  // A new job reuses the object and starts empty.
  TCommsJob* same = CommsJob.get();
  CommsJob->SetAbortJob(true);
  BuildJob(kBootloaderEntryJob, TJobType::jtReceiveData, true, true);
  EXPECT_EQ(CommsJob.get(), same);
  EXPECT_EQ(CommsJob->Count(), 0);
  EXPECT_EQ(CommsJob->JobID(), 2);
  EXPECT_FALSE(CommsJob->AbortJob());
  EXPECT_TRUE(CommsJob->UpdateForms());
  EXPECT_TRUE(CommsJob->ResetProgress());
}

TEST_F(ComsTasks, AddTaskWithoutAJobDoesNothing) {
  AddTask(TTaskType::ttGetAccess, 1, 1, 1, TDataType::dtNil);
  EXPECT_FALSE(CommsJob);
}

}  // namespace
}  // namespace tarvex
