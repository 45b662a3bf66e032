// Connecting: the port list's selection, opening the port, its failures, and the connect job.
#include <gtest/gtest.h>

#include "app/Main.h"
#include "link/ComsTasks.h"
#include "serial/SerialErrors.h"
#include "support/FakeComPort.h"
#include "support/Fakes.h"
#include "support/WindowFixture.h"

namespace tarvex {
namespace {

class Connect : public test::WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    fp.ports.names = {"COM3", "COM123", "COM1x"};
    platform = fp.Get();
    platform.ComPort = &port;
    platform.Pump = &pump;
    frm = std::make_unique<TfrmMain>(platform, std::vector<std::string>{});
    frm->FormCreate();
  }
  void Select(const std::string& name) {
    const auto& items = frm->cbComPort.Items();
    const auto it = std::find(items.begin(), items.end(), name);
    ASSERT_NE(it, items.end());
    frm->cbComPort.SetItemIndex(static_cast<int>(it - items.begin()));
  }

  TPlatform platform;
};

TEST_F(Connect, NothingSelectedAsksForAPort) {
  frm->btnConnectClick();
  EXPECT_EQ(fp.boxes.Texts(), std::vector<std::string>{"Please select the USB communication port."});
  EXPECT_EQ(fp.boxes.shown[0].first, TMsgKind::mkError);
  EXPECT_EQ(port.opens, 0);
}

TEST_F(Connect, OpensTheSelectedPortAndSendsTheConnectJob) {
  ProductInfo.ProductCode = 120;
  ProductInfo.Major = 4;
  ProductInfo.SerialNo = "123";
  frm->lbProductType.SetCaption("PX-22");
  frm->FlashDone = true;
  Select("COM3");
  frm->btnConnectClick();
  EXPECT_EQ(port.ComNumber(), 3);
  EXPECT_EQ(frm->PortIdx, 3);
  EXPECT_TRUE(port.Open());
  EXPECT_TRUE(frm->PortOpen);
  EXPECT_EQ(frm->TxTimer, 8);
  EXPECT_EQ(port.flushIn, 1);
  EXPECT_EQ(port.flushOut, 1);
  EXPECT_FALSE(BootloaderMode);
  EXPECT_FALSE(frm->FlashDone);
  EXPECT_EQ(ProductInfo.ProductCode, 0);
  EXPECT_EQ(ProductInfo.Major, 0);
  EXPECT_EQ(ProductInfo.SerialNo, "");
  EXPECT_EQ(frm->lbProductType.Caption(), "");
  // The access request is on the line with the reply timer running.
  ASSERT_EQ(port.written.size(), 1u);
  EXPECT_EQ(port.written[0].substr(2, 6), std::string("\x01\x00\x01\x00\x01\x00", 6));
  EXPECT_TRUE(port.TimerActive(frm->TxTimer));
  EXPECT_EQ(port.TimerPeriod(frm->TxTimer), 36);
  EXPECT_EQ(frm->ComsState, TComsState::csReadWrite);
  ASSERT_TRUE(CommsJob);
  EXPECT_EQ(CommsJob->JobID(), 1);
}

TEST_F(Connect, MissingDeviceTellsTheUserAndPassesTheErrorOn) {
  port.openHook = [](std::uint16_t) { throw EBadId(ecBadId); };
  Select("COM3");
  EXPECT_THROW(frm->btnConnectClick(), EBadId);
  EXPECT_EQ(fp.boxes.Texts(), std::vector<std::string>{"Com port does not exist"});
  EXPECT_EQ(fp.boxes.shown[0].first, TMsgKind::mkPlain);
  EXPECT_FALSE(frm->PortOpen);
  EXPECT_EQ(frm->TxTimer, 0);
  EXPECT_EQ(frm->ComsState, TComsState::csPortClosed);
  EXPECT_EQ(frm->PortIdx, 3);  // the failed port is the one remembered
  EXPECT_TRUE(port.written.empty());
  // The front end's default report then shows the layer's own text.
  try {
    frm->btnConnectClick();
  } catch (const std::exception& e) {
    frm->ShowException(e);
  }
  EXPECT_EQ(fp.boxes.Texts().back(), "ie_BadId - Specified comport doesn't exist");
}

TEST_F(Connect, PortHeldElsewhere) {
  port.openHook = [](std::uint16_t) { throw EAlreadyOpen(ecAlreadyOpen); };
  Select("COM3");
  EXPECT_THROW(frm->btnConnectClick(), EAlreadyOpen);
  EXPECT_EQ(fp.boxes.Texts(), std::vector<std::string>{"Com port is being used by another program"});
  EXPECT_EQ(frm->ComsState, TComsState::csPortClosed);
}

TEST_F(Connect, OtherOpenFailuresHaveNoMessageOfTheirOwn) {
  port.openHook = [](std::uint16_t) { throw ENoPortSelected(ecNoPortSelected); };
  Select("COM3");
  EXPECT_THROW(frm->btnConnectClick(), EOpenComm);
  EXPECT_TRUE(fp.boxes.shown.empty());
}

TEST_F(Connect, ConnectTwiceClosesAndReopensWithAFreshTrigger) {
  Select("COM3");
  frm->btnConnectClick();
  frm->btnConnectClick();
  EXPECT_EQ(port.opens, 2);
  EXPECT_EQ(port.closes, 1);
  EXPECT_EQ(frm->TxTimer, 8);  // the handle counter starts afresh at every open
  EXPECT_EQ(port.written.size(), 2u);
  EXPECT_EQ(port.written[0], port.written[1]);
}

TEST_F(Connect, EveryDigitOfTheNameCounts) {
  Select("COM123");
  frm->btnConnectClick();
  EXPECT_EQ(port.ComNumber(), 123);
  EXPECT_EQ(frm->PortIdx, 123);
}

TEST_F(Connect, NameWithoutANumberOpensNothing) {
  Select("COM3");
  frm->btnConnectClick();
  Select("COM1x");
  frm->btnConnectClick();
  EXPECT_FALSE(port.Open());  // closed first, then nothing more
  EXPECT_EQ(frm->ComsState, TComsState::csPortClosed);
  EXPECT_EQ(frm->PortIdx, 3);
  EXPECT_TRUE(fp.boxes.shown.empty());
}

TEST_F(Connect, ClosePortRemovesTheTrigger) {
  Select("COM3");
  frm->btnConnectClick();
  frm->ClosePort();
  EXPECT_EQ(frm->TxTimer, 0);
  EXPECT_FALSE(port.Open());
  EXPECT_FALSE(frm->PortOpen);
  EXPECT_EQ(frm->ComsState, TComsState::csPortClosed);
  frm->ClosePort();  // harmless when closed
  EXPECT_EQ(port.closes, 1);
}

TEST_F(Connect, ADeadPortEndsWhatRunsOnItAndWithdrawsTheProduct) {
  Select("COM3");
  frm->btnConnectClick();
  // During the connect job: the job ends at once, the port is closed.
  frm->ComPortThreadError("Device read error");
  ASSERT_EQ(fp.boxes.Texts().size(), 1u);
  EXPECT_EQ(fp.boxes.Texts()[0].rfind("Device read error\n", 0), 0u);
  EXPECT_FALSE(CommsJob);
  EXPECT_FALSE(port.Open());
  // During an update: it is over, Start is not offered, and the window can close again.
  frm->btnConnectClick();
  frm->ProductReady = true;
  FileReady = true;
  frm->FlashInProgress = true;
  frm->UpdateWizard();
  EXPECT_FALSE(frm->btnCancel.Enabled());
  frm->ComPortThreadError("Device read error");
  EXPECT_FALSE(frm->FlashInProgress);
  EXPECT_FALSE(frm->ProductReady);
  EXPECT_FALSE(frm->btnStart.Enabled());
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(frm->TxTimer, 0);
  EXPECT_TRUE(frm->btnCancel.Enabled());
  EXPECT_EQ(fp.boxes.shown.size(), 2u);
  EXPECT_EQ(fp.boxes.shown[1].first, TMsgKind::mkError);
}

}  // namespace
}  // namespace tarvex
