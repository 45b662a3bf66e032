// The update history: each Start opens a record of the product and the file, the steps mark it as
// they pass or fail, and the end of the update (passed, failed, given up, the lead pulled, the
// program closed) keeps it in the Logs folder. Keeping it never stops or changes an update.
#include <ctime>

#include "app/Main.h"
#include "link/ReplyParsing.h"
#include "serial/Ticks.h"

namespace tarvex {

void TfrmMain::BeginHistory() {
  THistoryEntry e;
  e.When = LocalTimeIso8601(std::time(nullptr));
  e.ProgramVersion = kAppVersion;
  e.Port = Format("COM%d", PortIdx);
  e.ProductType = lbProductType.Caption();
  e.ProductCode = std::to_string(ProductInfo.ProductCode);
  e.SerialNumber = TrimTrailingBlanks(lbSerialNo.Caption());  // the product pads it with blanks
  e.UniqueId = lbGuid.Caption();
  e.Microcontroller = lbMicro.Caption();
  e.VersionBefore = lbSoftwareVer.Caption();
  e.File = edFileName.Caption();
  e.FileSha256 = FileSha256;
  e.FileVersion = lbFileVersion.Caption();
  History = std::move(e);
  HistoryStep = THistoryStep::hsBootLoader;
  HistoryStartTick = CurrentTick();
}

void TfrmMain::HistoryStepStarted(THistoryStep step) {
  if (!History) return;
  // Steps by hand may run out of order: only a step left behind unmarked has passed.
  auto& before = History->Steps[static_cast<std::size_t>(HistoryStep)];
  if (step != HistoryStep && before == TStepResult::srSkipped) before = TStepResult::srPassed;
  HistoryStep = step;
}

void TfrmMain::HistoryStepResult(THistoryStep step, TStepResult result) {
  if (History) History->Steps[static_cast<std::size_t>(step)] = result;
}

void TfrmMain::FinishHistory(bool passed, const std::string& error) {
  if (!History) return;
  THistoryEntry e = std::move(*History);
  History.reset();
  auto& current = e.Steps[static_cast<std::size_t>(HistoryStep)];
  if (current == TStepResult::srSkipped) current = passed ? TStepResult::srPassed : TStepResult::srFailed;
  e.Passed = passed;
  if (!error.empty()) e.Error = error;
  if (!passed && e.Error.empty()) e.Error = "The update did not finish.";
  e.DurationSeconds = static_cast<double>(CurrentTick() - HistoryStartTick) * TickLength / 1000.0;
  LastHistory = e;
  // A product left in its boot loader is remembered until an update of it finishes.
  const bool erased = e.Steps[static_cast<std::size_t>(THistoryStep::hsErase)] != TStepResult::srSkipped;
  const bool started = e.Steps[static_cast<std::size_t>(THistoryStep::hsRun)] == TStepResult::srPassed;
  if (erased && !started) {
    RecordInterrupted(e);
  } else if (started && Interrupted && FormatUniqueID(Interrupted->Product.UniqueID) == e.UniqueId) {
    Interrupted.reset();
    SaveInterrupted();
    LogDebug("Interrupted update finished");
  }
  if (platform_.History == nullptr) return;
  std::string why;
  if (platform_.History->Append(LogsFolder, e, why)) return;
  LogDebug("Update history not written: " + why);
  if (HistoryFailureTold) return;
  HistoryFailureTold = true;
  MessageDlg(TMsgKind::mkWarning, Format("The update history could not be written to \"%s%s\": %s. The "
                                         "update itself is not affected.",
                                         LogsFolder.c_str(), kHistoryFile, why.c_str()));
}

}  // namespace tarvex
