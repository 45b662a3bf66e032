// Sending boot loader commands: state gates, frames and reply timer periods.
#include <gtest/gtest.h>

#include <memory>

#include "app/Main.h"
#include "support/FakeComPort.h"
#include "support/Fakes.h"
#include "support/WindowFixture.h"

namespace tarvex {
namespace {

class BootCommand : public test::WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    frm = std::make_unique<TfrmMain>(WiredPlatform(), std::vector<std::string>{});
    port.SetOpen(true);
    frm->TxTimer = port.AddTimerTrigger();
  }
};

TEST_F(BootCommand, SyncGoesOutOnlyBeforeTheTargetAnswered) {
  frm->ComsState = TComsState::csPortOpen;
  frm->RetryCount = 1;
  frm->Rx_Buffer = "stale";
  frm->SendBootCommand(0x7F);
  EXPECT_EQ(port.TakeWritten(), std::string(1, '\x7F'));
  EXPECT_EQ(frm->Tx_Buffer, std::string(1, '\x7F'));
  EXPECT_TRUE(frm->Rx_Buffer.empty());
  EXPECT_EQ(frm->RetryCount, 5);
  EXPECT_TRUE(frm->CommandActive);
  EXPECT_EQ(frm->CurCmd, 0x7F);
  EXPECT_TRUE(port.TimerActive(frm->TxTimer));
  EXPECT_EQ(port.TimerPeriod(frm->TxTimer), 18);

  port.SetTimerTrigger(frm->TxTimer, 0, false);
  frm->ComsState = TComsState::csConnected;
  frm->SendBootCommand(0x7F);
  EXPECT_EQ(port.TakeWritten(), "");
  EXPECT_FALSE(port.TimerActive(frm->TxTimer));
}

TEST_F(BootCommand, CommandsNeedAnAnsweredSync) {
  frm->ComsState = TComsState::csConnected;
  frm->SendBootCommand(0x11);
  EXPECT_EQ(port.TakeWritten(), std::string("\x11\xEE"));
  EXPECT_EQ(port.TimerPeriod(frm->TxTimer), 90);
  frm->SendBootCommand(0x44);
  EXPECT_EQ(port.TakeWritten(), std::string("\x44\xBB"));

  for (auto state : {TComsState::csPortOpen, TComsState::csReady, TComsState::csPortClosed}) {
    port.SetTimerTrigger(frm->TxTimer, 0, false);
    frm->CommandActive = false;
    frm->RetryCount = 0;
    frm->ComsState = state;
    frm->SendBootCommand(0x44);
    EXPECT_EQ(port.TakeWritten(), "");
    EXPECT_FALSE(port.TimerActive(frm->TxTimer));
    // The command is marked as started all the same.
    EXPECT_TRUE(frm->CommandActive);
    EXPECT_EQ(frm->CurCmd, 0x44);
    EXPECT_EQ(frm->RetryCount, 5);
  }
}

TEST_F(BootCommand, FramesUseTheTimerOfTheCommandInProgress) {
  frm->CurCmd = 0x31;
  frm->RetryCount = 3;
  frm->SendBootFrame(std::string("\x08\x00\x00\x00\x08", 5));
  EXPECT_EQ(port.TakeWritten(), std::string("\x08\x00\x00\x00\x08", 5));
  EXPECT_EQ(port.TimerPeriod(frm->TxTimer), 90);
  EXPECT_EQ(frm->RetryCount, 3);  // follow-on frames share the command's transmissions

  frm->CurCmd = 0x7F;
  frm->SendBootFrame(std::string(1, '\x7F'));
  EXPECT_EQ(port.TimerPeriod(frm->TxTimer), 18);
  EXPECT_EQ(port.TakeWritten(), std::string(1, '\x7F'));

  port.SetTimerTrigger(frm->TxTimer, 0, false);
  frm->Rx_Buffer = "kept";
  frm->SendBootFrame("");
  EXPECT_EQ(frm->Rx_Buffer, "kept");
  EXPECT_FALSE(port.TimerActive(frm->TxTimer));
  EXPECT_EQ(port.TakeWritten(), "");
}

TEST_F(BootCommand, APortClosedWhileABlockIsAwaitedWholeHandsBytesOverOneByOneAgain) {
  PageList = {{0, kFlashBase, kFlashBase + 255}};
  PageIdx = 0;
  frm->StartAddr = kFlashBase;
  frm->EndAddr = kFlashBase + 255;
  frm->ComsState = TComsState::csConnected;
  BootloaderMode = true;
  frm->SendBootCommand(0x11);
  for (int i = 0; i < 3; ++i) port.Receive(std::string(1, '\x79'));  // command, address, block ACK
  EXPECT_EQ(port.triggerLength, 257);
  // The lead is pulled mid-block: the next product's short replies must not wait for 257 bytes.
  frm->ClosePort();
  EXPECT_EQ(port.triggerLength, 1);
}

TEST_F(BootCommand, ClosedPortEndsTheUpdateAtOnceAndSaysSo) {
  frm->ComsState = TComsState::csConnected;
  frm->FlashInProgress = true;
  port.SetOpen(false);
  EXPECT_NO_THROW(frm->SendBootCommand(0x21));
  EXPECT_TRUE(port.written.empty());
  // No reply and no time-out could ever come: waiting would leave the window unclosable.
  EXPECT_FALSE(frm->CommandActive);
  EXPECT_FALSE(frm->FlashInProgress);
  EXPECT_TRUE(frm->FormCloseQuery());
  EXPECT_EQ(frm->LinkGiveUp, TLinkGiveUp::lgLineLost);
  ASSERT_EQ(fp.boxes.shown.size(), 1u);
  EXPECT_EQ(fp.boxes.shown[0].first, TMsgKind::mkError);
}

}  // namespace
}  // namespace tarvex
