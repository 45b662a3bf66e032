// The wizard's pages, navigation and the status rows of the update page.
#include "app/Main.h"

namespace tarvex {

std::vector<TControl*> TfrmMain::StatusLabels() {
  return {&lbBootloader, &lbErase, &lbWriteData, &lbVerifyData, &lbRunApp};
}

std::vector<TControl*> TfrmMain::ResultImages() {
  return {&imgBootDone, &imgErase, &imgWrite, &imgVerify, &imgRunApp};
}

std::vector<TControl*> TfrmMain::StepButtons() {
  return {&btnSelFlash, &btnEraseFlash, &btnWriteFlash, &btnVerifyFlash, &btnRun};
}

void TfrmMain::UpdateWizard() {
  for (auto* b : StepButtons()) b->SetVisible(ManualMode);
  if (ManualMode) {
    for (auto* l : StatusLabels()) l->SetVisible(true);
  }
  btnBack.SetEnabled(activePage_ >= 1 && !FlashInProgress);
  btnNext.SetEnabled(activePage_ < kPageCount - 1 && !FlashInProgress);
  btnCancel.SetEnabled(!FlashInProgress);

  switch (activePage_) {
    case 0:
      imgPageIcon.SetPicture("Icon_USB");
      lbTaskType.SetCaption("USB settings");
      lbInstruction.SetCaption(
          "Connect the USB Lead to the USB port on the control panel, then click \"Connect\".");
      if (FlashDone) {
        FlashDone = false;
        ProductReady = false;
        ResetStepDisplay();
      }
      btnNext.SetEnabled(ProductReady);
      if (!FileReady) edFileName.SetCaption("");
      break;
    case 1:
      imgPageIcon.SetPicture("Icon_Hex");
      lbTaskType.SetCaption("Firmware file");
      lbInstruction.SetCaption("Click \"Open\" to select the firmware file.");
      lbFirmwareFolder.SetCaption(LastFolder);
      btnNext.SetEnabled(FileReady);
      break;
    case 2:
      imgPageIcon.SetPicture("Icon_Chip");
      lbTaskType.SetCaption("Firmware Update");
      // Once the new firmware runs, the line states how the update went instead of inviting Start.
      if (!FlashDone) {
        lbInstruction.SetCaption("Click \"Start\" to download the firmware file into the product.");
      } else if (VerifyResult == TVerifyResult::vrFailed) {
        lbInstruction.SetCaption("Update FAILED: the product's flash differs from the file.");
      } else if (VerifyResult == TVerifyResult::vrSkipped) {
        lbInstruction.SetCaption("Update complete: the new firmware is running (not verified).");
      } else {
        lbInstruction.SetCaption("Update complete: the new firmware is verified and running.");
      }
      // Only the flash sequence ever disables Start.
      if (ProductReady && FileReady) btnStart.SetEnabled(true);
      break;
    default: break;
  }
}

void TfrmMain::ResetStepDisplay() {
  progBar.SetVisible(false);
  progBar.SetTop(kProgBarRestTop);
  progBar.SetPosition(0);
  if (!ManualMode) {
    for (auto* l : StatusLabels()) l->SetVisible(false);
  }
  for (auto* i : ResultImages()) i->SetVisible(false);
}

void TfrmMain::SetActivePageIndex(int index) {
  if (index < 0 || index >= kPageCount || index == activePage_) return;
  activePage_ = index;
  PgCtrlChange();
}

void TfrmMain::btnNextClick() {
  SetActivePageIndex(activePage_ + 1);
  UpdateWizard();
  FocusPage();
}

void TfrmMain::btnBackClick() {
  SetActivePageIndex(activePage_ - 1);
  UpdateWizard();
  FocusPage();
}

// The clicked Next or Back may now be disabled, and the focus would pass on to Close, where a
// Space quits the program: it goes to the page's own first control instead.
void TfrmMain::FocusPage() {
  TControl* wanted = nullptr;
  switch (activePage_) {
    case 0: wanted = &cbComPort; break;
    case 1: wanted = &btnOpenHex; break;
    case 2: wanted = btnStart.Enabled() ? &btnStart : &btnBack; break;
    default: break;
  }
  if (wanted != nullptr) VM.RequestFocus(*wanted);
}

void TfrmMain::PgCtrlChange() {
  // One side panel serves all pages: it moves onto the active one, its children with it.
  for (auto* c : {&pnlSide, &imgPageIcon, &lbhdrProduct, &lbHdrVersion, &lbAppName, &lbVersion}) {
    c->SetPage(activePage_);
  }
}

}  // namespace tarvex
