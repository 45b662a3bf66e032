// The wizard's navigation and the status rows, driven through the view model.
#include <gtest/gtest.h>

#include "app/Main.h"
#include "support/Fakes.h"

namespace tarvex {
namespace {

class Wizard : public ::testing::Test {
 protected:
  void SetUp() override { ResetGlobals(); }
  void TearDown() override { ResetGlobals(); }
  std::unique_ptr<TfrmMain> Make(std::vector<std::string> args = {}) {
    auto frm = std::make_unique<TfrmMain>(fp.Get(), std::move(args));
    frm->FormCreate();
    return frm;
  }
  test::FakePlatform fp;
};

TEST_F(Wizard, StartsOnPageOneWithItsTexts) {
  auto frm = Make();
  EXPECT_EQ(frm->ActivePageIndex(), 0);
  EXPECT_EQ(frm->lbTaskType.Caption(), "USB settings");
  EXPECT_EQ(frm->lbInstruction.Caption(),
            "Connect the USB Lead to the USB port on the control panel, then click \"Connect\".");
  EXPECT_EQ(frm->imgPageIcon.Picture(), "Icon_USB");
  EXPECT_FALSE(frm->btnBack.Enabled());
  EXPECT_FALSE(frm->btnNext.Enabled());  // no product yet
  EXPECT_TRUE(frm->btnCancel.Enabled());
  EXPECT_FALSE(frm->lbFirmwareDL.Visible());
  EXPECT_FALSE(frm->progBar.Visible());
  EXPECT_TRUE(frm->btnStart.Enabled());
  for (auto* l : frm->StatusLabels()) EXPECT_FALSE(l->Visible());
  for (auto* b : frm->StepButtons()) EXPECT_FALSE(b->Enabled());
}

TEST_F(Wizard, NextFollowsProductReadyThenFileReady) {
  auto frm = Make();
  frm->ProductReady = true;
  frm->UpdateWizard();
  EXPECT_TRUE(frm->btnNext.Enabled());
  frm->btnNextClick();
  EXPECT_EQ(frm->ActivePageIndex(), 1);
  EXPECT_EQ(frm->lbTaskType.Caption(), "Firmware file");
  EXPECT_EQ(frm->lbInstruction.Caption(), "Click \"Open\" to select the firmware file.");
  EXPECT_EQ(frm->imgPageIcon.Picture(), "Icon_Hex");
  EXPECT_EQ(frm->lbFirmwareFolder.Caption(), LastFolder);
  EXPECT_TRUE(frm->btnBack.Enabled());
  EXPECT_FALSE(frm->btnNext.Enabled());
  FileReady = true;
  frm->UpdateWizard();
  EXPECT_TRUE(frm->btnNext.Enabled());
  frm->btnNextClick();
  EXPECT_EQ(frm->ActivePageIndex(), 2);
  EXPECT_EQ(frm->lbTaskType.Caption(), "Firmware Update");
  EXPECT_EQ(frm->imgPageIcon.Picture(), "Icon_Chip");
  EXPECT_FALSE(frm->btnNext.Enabled());  // last page
  EXPECT_TRUE(frm->btnBack.Enabled());
  frm->btnBackClick();
  EXPECT_EQ(frm->ActivePageIndex(), 1);
}

TEST_F(Wizard, SidePanelMovesOntoTheActivePage) {
  auto frm = Make();
  EXPECT_EQ(frm->pnlSide.Page(), 0);
  frm->SetActivePageIndex(2);
  EXPECT_EQ(frm->pnlSide.Page(), 2);
  EXPECT_EQ(frm->lbVersion.Page(), 2);
  frm->SetActivePageIndex(7);  // no such page: nothing changes
  EXPECT_EQ(frm->ActivePageIndex(), 2);
}

TEST_F(Wizard, UpdateInProgressDisablesBackNextAndClose) {
  auto frm = Make();
  frm->ProductReady = true;
  FileReady = true;
  frm->SetActivePageIndex(2);
  frm->FlashInProgress = true;
  frm->UpdateWizard();
  EXPECT_FALSE(frm->btnBack.Enabled());
  EXPECT_FALSE(frm->btnNext.Enabled());
  EXPECT_FALSE(frm->btnCancel.Enabled());
  // On the first two pages Next follows its flag even then.
  frm->SetActivePageIndex(1);
  frm->UpdateWizard();
  EXPECT_TRUE(frm->btnNext.Enabled());
  EXPECT_FALSE(frm->btnBack.Enabled());
}

TEST_F(Wizard, StartIsEnabledOnlyByBothFlagsAndNeverDisabledHere) {
  auto frm = Make();
  frm->btnStart.SetEnabled(false);  // as the flash sequence leaves it
  frm->SetActivePageIndex(2);
  frm->ProductReady = true;
  frm->UpdateWizard();
  EXPECT_FALSE(frm->btnStart.Enabled());
  FileReady = true;
  frm->UpdateWizard();
  EXPECT_TRUE(frm->btnStart.Enabled());
  frm->ProductReady = false;
  frm->UpdateWizard();
  EXPECT_TRUE(frm->btnStart.Enabled());
}

TEST_F(Wizard, BackToPageOneAfterAnUpdateResetsTheRows) {
  auto frm = Make();
  frm->SetActivePageIndex(2);
  frm->FlashDone = true;
  frm->ProductReady = true;
  FileReady = true;
  frm->progBar.SetVisible(true);
  frm->progBar.SetTop(142);
  frm->progBar.SetMax(16);
  frm->progBar.SetPosition(9);
  for (auto* i : frm->ResultImages()) i->SetVisible(true);
  for (auto* l : frm->StatusLabels()) l->SetVisible(true);
  frm->btnBackClick();
  frm->btnBackClick();
  EXPECT_EQ(frm->ActivePageIndex(), 0);
  EXPECT_FALSE(frm->FlashDone);
  EXPECT_FALSE(frm->ProductReady);
  EXPECT_FALSE(frm->btnNext.Enabled());
  EXPECT_FALSE(frm->progBar.Visible());
  EXPECT_EQ(frm->progBar.Geometry().Top, 65);
  EXPECT_EQ(frm->progBar.Position(), 0);
  for (auto* i : frm->ResultImages()) EXPECT_FALSE(i->Visible());
  for (auto* l : frm->StatusLabels()) EXPECT_FALSE(l->Visible());
}

TEST_F(Wizard, ManualModeKeepsLabelsAndShowsStepButtons) {
  auto frm = Make({"/M"});
  // Start-up lays out the wizard before it reads the switches; the next layout shows the rows.
  for (auto* b : frm->StepButtons()) EXPECT_FALSE(b->Visible());
  frm->btnNextClick();
  for (auto* b : frm->StepButtons()) EXPECT_TRUE(b->Visible());
  for (auto* l : frm->StatusLabels()) EXPECT_TRUE(l->Visible());
  frm->ResetStepDisplay();
  for (auto* l : frm->StatusLabels()) EXPECT_TRUE(l->Visible());
  // Step buttons keep their tags for the shared click handler.
  std::vector<int> tags;
  for (auto* b : frm->StepButtons()) tags.push_back(b->Tag());
  EXPECT_EQ(tags, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(Wizard, FileNameEmptiedOnPageOneOnlyWithoutAnAcceptedFile) {
  auto frm = Make();
  frm->edFileName.SetCaption("/fw/a.hex");
  FileReady = true;
  frm->UpdateWizard();
  EXPECT_EQ(frm->edFileName.Caption(), "/fw/a.hex");
  FileReady = false;
  frm->UpdateWizard();
  EXPECT_EQ(frm->edFileName.Caption(), "");
}

TEST_F(Wizard, ObserversHearEachChangeOnce) {
  auto frm = Make();
  std::vector<std::string> changed;
  frm->VM.AddObserver([&](const TControl& c) { changed.push_back(c.Name()); });
  frm->btnStart.SetEnabled(true);  // no change: no notification
  frm->ProductReady = true;
  frm->UpdateWizard();
  EXPECT_NE(std::find(changed.begin(), changed.end(), "btnNext"), changed.end());
  EXPECT_EQ(std::count(changed.begin(), changed.end(), "btnNext"), 1);
  EXPECT_EQ(std::count(changed.begin(), changed.end(), "btnStart"), 0);
}

TEST_F(Wizard, EveryNamedControlIsReachableByName) {
  auto frm = Make();
  for (const char* name :
       {"lbTaskType",    "lbInstruction", "imgLogo",     "btnManual",  "btnBack",        "btnNext",
        "btnCancel",     "pnlSide",       "imgPageIcon", "cbComPort",  "btnConnect",     "lbNoPorts",
        "lbGuid",        "lbMicro",       "edFileName",  "btnOpenHex", "btnResetFolder", "lbFileProduct",
        "lbFileVersion", "lbFileMicro",   "progBar",     "btnStart",   "btnSelFlash",    "btnRun",
        "imgVerify",     "lbRunApp"}) {
    EXPECT_NE(frm->VM.Find(name), nullptr) << name;
  }
  EXPECT_EQ(frm->btnNext.Caption(), "&Next >>");
  EXPECT_EQ(frm->btnStart.Geometry(), (TGeometry{585, 259, 75, 25}));
  EXPECT_EQ(frm->imgVerify.Geometry(), (TGeometry{188, 134, 32, 32}));
  EXPECT_EQ(frm->btnRun.Geometry(), (TGeometry{226, 175, 43, 25}));
  EXPECT_EQ(frm->lbErase.Geometry().Top, 68);
}

}  // namespace
}  // namespace tarvex
