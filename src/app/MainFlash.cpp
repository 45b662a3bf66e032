// The flash sequence: Start, the manual step buttons, and the handling of each boot loader step's
// progress and end (message 1124), which chains the steps unless the user runs them by hand.
#include "app/Main.h"
#include "bootloader/BootEvents.h"
#include "bootloader/BootFrames.h"
#include "core/ProductCatalogue.h"
#include "link/ComsTasks.h"

namespace tarvex {

namespace {

// Tags of the step buttons.
constexpr int kStepSync = 1;
constexpr int kStepErase = 2;
constexpr int kStepWrite = 3;
constexpr int kStepVerify = 4;
constexpr int kStepRun = 5;

void StepBar(TControl& bar) {
  bar.SetPosition(bar.Position() + 1);
}

}  // namespace

void TfrmMain::btnStartClick() {
  USBCount = 0;
  if (!ProductReady || !FileReady) return;

  ReconnectToProduct = false;
  FlashDone = false;
  FlashInProgress = true;
  UpdateWizard();
  btnStart.SetEnabled(false);
  ResetStepDisplay();
  CommandActive = false;
  VerifyResult = TVerifyResult::vrNone;
  VerifyReportWritten = false;
  LinkGiveUp = TLinkGiveUp::lgNone;
  BeginHistory();

  if (!RemoteFlashSupported(ProductInfo)) {
    const char* text = "The product does not support remote flash upgrade. Please contact technical support.";
    MessageDlg(TMsgKind::mkInformation, text);
    FinishHistory(false, text);
    btnStart.SetEnabled(false);
    FlashDone = false;
    FlashInProgress = false;
    UpdateWizard();
    return;
  }

  lbBootloader.SetVisible(true);
  if (ResumeUpdate) {
    // The product waits in its boot loader already: no product link to ask, the sync again (a
    // boot loader synchronised before answers it too), then erase, write, verify and run.
    LogDebug("Finishing the interrupted update");
    BootloaderMode = true;
    ComsState = TComsState::csPortOpen;
    SendBootCommand(kBootSync);
    return;
  }
  BuildJob(kBootloaderEntryJob, TJobType::jtAccess, false, false);
  AddTask(TTaskType::ttGetAccess, 1, 1, 1, TDataType::dtNil);
  SendNextTasks();
}

void TfrmMain::btnSelFlashClick(int tag) {
  if (CommandActive) return;
  // A step the link cannot take now would send nothing yet mark a command as running, and no
  // reply would ever clear the mark again: every step button would be dead from then on. Such a
  // click is ignored instead. The sync belongs before the target has answered one, every other
  // step after.
  const TComsState needed = tag == kStepSync ? TComsState::csPortOpen : TComsState::csConnected;
  if (ComsState != needed) return;
  switch (tag) {
    case kStepSync: SendBootCommand(kBootSync); break;
    case kStepErase: StartErase(); break;
    case kStepWrite: StartWrite(); break;
    case kStepVerify: StartVerify(); break;
    case kStepRun: StartRun(); break;
    default: break;
  }
}

void TfrmMain::TaskDoneMsg(std::uint8_t wParam, std::uint8_t lParam) {
  switch (wParam) {
    case kBootSync:
      if (BootProbe) {
        BootloaderProbed(true);
        return;
      }
      ComsState = TComsState::csConnected;
      imgBootDone.SetVisible(true);
      lbErase.SetVisible(true);
      LogDebug("Connected to Target");
      CommandActive = false;
      if (ManualMode) {
        btnEraseFlash.SetEnabled(true);
      } else {
        StartErase();
      }
      return;

    case kCmdErase:
      switch (lParam) {
        case kEvCmdAck: LogDebug("ERASE_CMD: ACK"); return;
        case kEvPageErased:
          // The page just erased: the index already pointed past it when the event was posted.
          if (TaskPageIdx >= 1 && TaskPageIdx <= PageList.size()) {
            LogDebug(Format("Page %d Erased", PageList[TaskPageIdx - 1u].PageID));
          }
          StepBar(progBar);
          return;
        case kEvAllErased:
          LogDebug("Selected Pages Erased");
          imgErase.SetVisible(true);
          progBar.SetVisible(false);
          lbWriteData.SetVisible(true);
          CommandActive = false;
          if (ManualMode) {
            btnWriteFlash.SetEnabled(true);
          } else {
            StartWrite();
          }
          return;
        default: return;
      }

    case kCmdWrite:
      switch (lParam) {
        case kEvCmdAck: LogDebug("WRITE_CMD: ACK"); return;
        case kEvAddressAck:
          LogDebug(Format("Writing Data %d Bytes @ address: %.4X", TaskSize, TaskAddr));
          return;
        case kEvBlockDone:
          LogDebug(Format("Written %d bytes", TaskSize));
          StepBar(progBar);
          return;
        case kEvAllBlocksDone:
          LogDebug("All Data Written to device");
          progBar.SetVisible(false);
          imgWrite.SetVisible(true);
          CommandActive = false;
          if (ManualMode) {
            btnVerifyFlash.SetEnabled(true);
            btnRun.SetEnabled(true);
          } else {
            StartVerify();
          }
          return;
        default: return;
      }

    case kCmdRead:
      switch (lParam) {
        case kEvCmdAck: LogDebug("ACK from Read Command"); return;
        case kEvAddressAck:
          LogDebug(Format("Reading Data %d Bytes @ address: %.4X", TaskSize, TaskAddr));
          return;
        case kEvBlockDone:
          LogDebug(Format("Read Data: %d bytes", TaskSize));
          StepBar(progBar);
          return;
        case kEvAllBlocksDone: {
          LogDebug("All Data Read from Device");
          CommandActive = false;
          // A report that cannot be written has been told about; the step ends as a failed one.
          const bool passed = VerifyImages();
          VerifyResult = passed ? TVerifyResult::vrPassed : TVerifyResult::vrFailed;
          HistoryStepResult(THistoryStep::hsVerify, passed ? TStepResult::srPassed : TStepResult::srFailed);
          imgVerify.SetPicture(passed ? "Icon_OK" : "Icon_Error");
          lbVerifyData.SetCaption(passed ? "Verifying flash data...OK" : "Verifying flash data...FAILED!");
          imgVerify.SetVisible(true);
          progBar.SetVisible(false);
          if (!ManualMode) StartRun();
          return;
        }
        default: return;
      }

    case kCmdGo:
      switch (lParam) {
        case kEvCmdAck: LogDebug("GO_CMD: ACK"); return;
        case kEvGoRunning:
          LogDebug("Target running");
          imgRunApp.SetVisible(true);
          FlashInProgress = false;
          FlashDone = true;
          ProductReady = false;
          UpdateWizard();
          CommandActive = false;
          USBCount = 0;
          ReconnectToProduct = true;
          ResumeUpdate = false;
          BootloaderWaiting = false;
          HistoryStepResult(THistoryStep::hsRun, TStepResult::srPassed);
          if (VerifyResult != TVerifyResult::vrFailed) FinishHistory(true);
          if (VerifyResult == TVerifyResult::vrFailed) {
            // The run step follows a failed verify all the same; the installer must not take the
            // running firmware for a good update.
            std::string text = "The new firmware in the product differs from the file: the update failed.";
            if (VerifyReportWritten) {
              text +=
                  Format(" The differences are listed in \"%s\".", (LogsFolder + kVerifyReportFile).c_str());
            }
            text += " Please run the update again.";
            LogDebug(text);
            MessageDlg(TMsgKind::mkError, text);
            FinishHistory(false, text);
          }
          return;
        default: return;
      }

    case kInvalidSyncReply:
      CommandActive = false;
      if (lParam == kBootSync) LogDebug("Invalid Response from Target");
      return;

    default: return;
  }
}

}  // namespace tarvex
