// The update from Start against the in-memory boot loader: the chained steps with their log lines,
// status rows and progress bar, manual step mode, and Start's own checks. Whole updates against the
// product emulator, with its faults, are in tests/flash.
#include <gtest/gtest.h>

#include <algorithm>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "BootTarget.h"
#include "link/ComsTasks.h"

namespace tarvex {
namespace {

using std::string;
using std::vector;

class FlashSequence : public test::FlashFixture {
 protected:
  void SetUp() override {
    FlashFixture::SetUp();
    BootloaderMode = false;
    frm->ComsState = TComsState::csReady;
    frm->ProductReady = true;
    FileReady = true;
    test::FillPage(0, 11);
    test::FillPage(1, 12);
    frm->VM.AddObserver([this](const TControl& c) {
      if (&c == &frm->progBar && (bars.empty() || bars.back().first != c.Max() || c.Position() != 0)) {
        if (bars.empty() || bars.back().first != c.Max()) bars.emplace_back(c.Max(), 0);
        bars.back().second = std::max(bars.back().second, c.Position());
      }
    });
  }
  // Start, and the end of the boot-loader-entry job on the product link.
  void StartAndEnterBootloader() {
    frm->SetActivePageIndex(2);
    frm->UpdateWizard();
    frm->btnStartClick();
    ASSERT_FALSE(port.written.empty()) << "the boot-loader-entry job was not sent";
    ASSERT_TRUE(CommsJob);
    EXPECT_EQ(CommsJob->JobID(), kBootloaderEntryJob);
    port.written.clear();
    port.SetTimerTrigger(frm->TxTimer, 0, false);
    log.lines.clear();
    frm->JobFinished(kBootloaderEntryJob);
  }
  [[nodiscard]] bool FlashMatchesFile() const {
    for (std::uint32_t p = 0; p < kPages; ++p) {
      if (!FileMemory[p].InUse) continue;
      if (target.flash.compare(p * kPageSize, kPageSize, reinterpret_cast<const char*>(FileMemory[p].Data),
                               kPageSize) != 0) {
        return false;
      }
    }
    return true;
  }
  void ExpectDone() {
    EXPECT_NE(std::find(log.lines.begin(), log.lines.end(), "Target running"), log.lines.end());
    EXPECT_TRUE(frm->FlashDone);
    EXPECT_TRUE(frm->ReconnectToProduct);
    EXPECT_EQ(frm->USBCount, 0);
    EXPECT_FALSE(frm->FlashInProgress);
    EXPECT_FALSE(frm->ProductReady);
    EXPECT_FALSE(frm->CommandActive);
    EXPECT_TRUE(frm->imgRunApp.Visible());
    EXPECT_FALSE(frm->btnStart.Enabled());
    EXPECT_FALSE(frm->btnNext.Enabled());
    EXPECT_TRUE(frm->btnBack.Enabled());
    EXPECT_TRUE(frm->btnCancel.Enabled());
    EXPECT_FALSE(port.Open());
    EXPECT_TRUE(target.running);
  }
  static vector<string> FullLog(bool verify) {
    vector<string> l{"Connected to Target"};
    for (int page : {0, 1}) {
      l.push_back("ERASE_CMD: ACK");
      l.push_back(Format("Page %d Erased", page));
    }
    l.push_back("Selected Pages Erased");
    for (std::uint32_t a = kFlashBase; a < kFlashBase + 2 * kPageSize; a += 256) {
      l.push_back("WRITE_CMD: ACK");
      l.push_back(Format("Writing Data 256 Bytes @ address: %.4X", a));
      l.push_back("Written 256 bytes");
    }
    l.push_back("All Data Written to device");
    if (verify) {
      for (std::uint32_t a = kFlashBase; a < kFlashBase + 2 * kPageSize; a += 256) {
        l.push_back("ACK from Read Command");
        l.push_back(Format("Reading Data 256 Bytes @ address: %.4X", a));
        l.push_back("Read Data: 256 bytes");
      }
      l.push_back("All Data Read from Device");
    }
    l.push_back("GO_CMD: ACK");
    l.push_back("Target running");
    return l;
  }
  // (maximum, highest position) of each run of the progress bar.
  vector<std::pair<int, int>> bars;
};

TEST_F(FlashSequence, RepliesInSingleBytesGiveTheSameUpdate) {
  target.splitReplies = true;
  StartAndEnterBootloader();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(log.lines, FullLog(true));
  EXPECT_EQ(bars, (vector<std::pair<int, int>>{{2, 2}, {16, 16}}));  // the write and the verify share 16
  EXPECT_TRUE(FlashMatchesFile());
  ExpectDone();
  EXPECT_EQ(frm->imgVerify.Picture(), "Icon_OK");
  for (auto* img : frm->ResultImages()) EXPECT_TRUE(img->Visible()) << img->Name();
}

TEST_F(FlashSequence, UnwritableReportIsAnErrorAndTheUpdateCarriesOnAsAFailedVerify) {
  target.flipAddress = 0x10;
  LogsFolder = (logs / "gone" / "").string();
  StartAndEnterBootloader();
  EXPECT_EQ(Run(), 0);
  // The report's failure, then the failed update itself, which names no report that is not there.
  ASSERT_EQ(fp.boxes.shown.size(), 2u);
  EXPECT_EQ(fp.boxes.shown[0].first, TMsgKind::mkError);
  EXPECT_NE(fp.boxes.shown[0].second.find("Verification Data.txt"), string::npos);
  EXPECT_EQ(fp.boxes.shown[1].first, TMsgKind::mkError);
  EXPECT_EQ(fp.boxes.shown[1].second.find("Verification Data.txt"), string::npos);
  EXPECT_EQ(frm->VerifyResult, TVerifyResult::vrFailed);
  EXPECT_EQ(frm->lbVerifyData.Caption(), "Verifying flash data...FAILED!");
  EXPECT_EQ(frm->imgVerify.Picture(), "Icon_Error");
  ExpectDone();
}

TEST_F(FlashSequence, ManualModeRunsOneStepPerButton) {
  ManualMode = true;
  StartAndEnterBootloader();
  EXPECT_TRUE(port.written.empty());  // nothing until the sync button
  for (auto* b : frm->StepButtons()) EXPECT_TRUE(b->Enabled()) << b->Name();

  // A step that the link cannot take yet sends nothing and does not lock the buttons.
  frm->btnSelFlashClick(2);
  EXPECT_TRUE(port.written.empty());
  EXPECT_FALSE(frm->CommandActive);
  EXPECT_FALSE(frm->progBar.Visible());

  frm->btnSelFlashClick(1);
  EXPECT_EQ(port.written, vector<string>{"\x7F"});
  frm->btnSelFlashClick(2);  // the sync awaits its reply: ignored
  EXPECT_EQ(port.written.size(), 1u);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(log.lines, vector<string>{"Connected to Target"});
  EXPECT_EQ(target.erases, 0);
  frm->btnSelFlashClick(1);  // the sync is done with
  EXPECT_TRUE(port.written.empty());

  frm->btnSelFlashClick(2);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(log.lines.back(), "Selected Pages Erased");
  EXPECT_EQ(target.writes, 0);
  frm->btnSelFlashClick(3);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(log.lines.back(), "All Data Written to device");
  EXPECT_EQ(target.reads, 0);
  frm->btnSelFlashClick(4);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(log.lines.back(), "All Data Read from Device");
  EXPECT_EQ(frm->lbVerifyData.Caption(), "Verifying flash data...OK");
  EXPECT_EQ(target.gos, 0);
  frm->btnSelFlashClick(5);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(log.lines, FullLog(true));
  ExpectDone();
  // The port is closed: every step is refused without effect.
  for (int tag = 1; tag <= 5; ++tag) frm->btnSelFlashClick(tag);
  EXPECT_FALSE(frm->CommandActive);
}

TEST_F(FlashSequence, UnsupportedProductShowsTheBoxAndSendsNothing) {
  ProductInfo.ProductCode = 105;  // needs version 5.10
  ProductInfo.Major = 4;
  frm->SetActivePageIndex(2);
  frm->UpdateWizard();
  frm->btnStartClick();
  EXPECT_EQ(fp.boxes.shown,
            (vector<std::pair<TMsgKind, string>>{
                {TMsgKind::mkInformation,
                 "The product does not support remote flash upgrade. Please contact technical support."}}));
  EXPECT_TRUE(port.written.empty());
  EXPECT_FALSE(CommsJob);
  EXPECT_FALSE(frm->FlashInProgress);
  EXPECT_FALSE(frm->FlashDone);
  EXPECT_TRUE(frm->btnStart.Enabled());
  EXPECT_TRUE(frm->btnCancel.Enabled());
  EXPECT_FALSE(frm->lbBootloader.Visible());
}

TEST_F(FlashSequence, StartNeedsProductAndFile) {
  frm->SetActivePageIndex(2);
  for (bool product : {false, true}) {
    frm->ProductReady = product;
    FileReady = !product;
    frm->USBCount = 3;
    frm->btnStartClick();
    EXPECT_EQ(frm->USBCount, 0);
    EXPECT_FALSE(frm->FlashInProgress);
    EXPECT_TRUE(port.written.empty());
  }
}

TEST_F(FlashSequence, StartShowsTheFirstRowAndLocksTheWizard) {
  frm->SetActivePageIndex(2);
  frm->UpdateWizard();
  frm->imgErase.SetVisible(true);
  frm->btnStartClick();
  EXPECT_TRUE(frm->FlashInProgress);
  EXPECT_FALSE(frm->btnStart.Enabled());
  EXPECT_FALSE(frm->btnBack.Enabled());
  EXPECT_FALSE(frm->btnCancel.Enabled());
  EXPECT_TRUE(frm->lbBootloader.Visible());
  EXPECT_FALSE(frm->imgErase.Visible());
  EXPECT_FALSE(frm->ReconnectToProduct);
  ASSERT_TRUE(CommsJob);
  EXPECT_EQ(CommsJob->JobID(), kBootloaderEntryJob);
}

}  // namespace
}  // namespace tarvex
