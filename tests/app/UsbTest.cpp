// USB arrivals and removals: the count rules and the reconnection after an update.
#include <gtest/gtest.h>

#include "app/Main.h"
#include "devices/UsbClass.h"
#include "link/ComsTasks.h"
#include "serial/Ticks.h"
#include "support/FakeComPort.h"
#include "support/Fakes.h"
#include "support/SteppingClock.h"
#include "support/WindowFixture.h"

namespace tarvex {
namespace {

constexpr const char* kAdvice =
    "It is highly recommended after a firmware upgrade to default the Tarvex control panel,\n\r"
    "please refer to the contro panel installation manual for further information.";

// A tick clock that moves on by one tick every time it is read, so WaitTicks(36) ends at once.
class RacingClock : public test::SteppingClock {
 public:
  RacingClock() : test::SteppingClock(1000, TickLength) {}
};

class Usb : public test::WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    SetTickClock(&clock);
    SetUiMessagePump(&pump);
    fp.ports.names = {"COM3"};
    platform = fp.Get();
    platform.ComPort = &port;
    platform.Pump = &pump;
    frm = std::make_unique<TfrmMain>(platform, std::vector<std::string>{});
    frm->FormCreate();
    ASSERT_TRUE(frm->USBComp);
  }
  void Arrive() { frm->USBComp->Notify(TUsbDeviceEvent{true, "", "", ""}); }
  void Leave() { frm->USBComp->Notify(TUsbDeviceEvent{false, "", "", ""}); }
  // As the flash sequence leaves things when the new firmware runs.
  void AfterUpdate(std::uint8_t productCode) {
    frm->PortIdx = 3;
    ProductInfo.ProductCode = productCode;
    frm->USBCount = 0;
    frm->ReconnectToProduct = true;
  }

  RacingClock clock;
  TPlatform platform;
};

TEST_F(Usb, FirstArrivalIsPassedOverTheSecondRefreshesTheList) {
  fp.ports.names = {"COM3", "COM9"};
  Arrive();
  EXPECT_EQ(frm->cbComPort.Items().size(), 1u);
  Arrive();
  EXPECT_EQ(frm->cbComPort.Items().size(), 2u);
  EXPECT_EQ(port.opens, 0);  // no update ran: nothing reconnects
}

TEST_F(Usb, RemovalOnlyRefreshesTheListAndNeverClosesThePort) {
  frm->PortIdx = 3;
  frm->cbComPort.SetItemIndex(0);
  frm->OpenPort();
  ASSERT_TRUE(port.Open());
  fp.ports.names = {};
  frm->ReconnectToProduct = true;
  Leave();
  Leave();
  EXPECT_TRUE(frm->cbComPort.Items().empty());
  EXPECT_TRUE(frm->lbNoPorts.Visible());
  EXPECT_TRUE(port.Open());
  EXPECT_EQ(port.opens, 1);
  EXPECT_EQ(frm->USBCount, 0);
  EXPECT_TRUE(frm->ReconnectToProduct);
}

TEST_F(Usb, SecondArrivalAfterAnUpdateReconnectsAndAdvisesAPanel) {
  AfterUpdate(120);
  Arrive();
  EXPECT_EQ(port.opens, 0);
  Arrive();
  EXPECT_FALSE(frm->ReconnectToProduct);
  EXPECT_EQ(port.opens, 1);
  EXPECT_EQ(port.ComNumber(), 3);
  EXPECT_EQ(frm->cbComPort.SelectedText(), "COM3");
  ASSERT_EQ(port.written.size(), 1u);  // the connect job's access request
  EXPECT_EQ(fp.boxes.Texts(), std::vector<std::string>{kAdvice});
  EXPECT_EQ(fp.boxes.shown[0].first, TMsgKind::mkInformation);
  // Later arrivals only refresh the list.
  Arrive();
  EXPECT_EQ(port.opens, 1);
}

TEST_F(Usb, PeripheralProductsGetNoAdvice) {
  for (int c : {1, 2, 7, 102, 105}) {
    const auto code = static_cast<std::uint8_t>(c);
    fp.boxes.shown.clear();
    AfterUpdate(code);
    Arrive();
    Arrive();
    EXPECT_TRUE(fp.boxes.shown.empty()) << int(code);
    EXPECT_FALSE(frm->ReconnectToProduct);
  }
}

TEST_F(Usb, ArrivalsDuringTheWaitDoNotReconnectTwice) {
  AfterUpdate(120);
  Arrive();
  // While the reconnection waits, more arrivals are handled from the message queue.
  int nested = 0;
  pump.Post([&] {
    ++nested;
    Arrive();
    Arrive();
  });
  Arrive();
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(port.opens, 1);
  EXPECT_EQ(frm->USBCount, 4);
  EXPECT_EQ(fp.boxes.shown.size(), 1u);
}

TEST_F(Usb, RememberedPortGoneReopensTheLastNumberUsed) {
  AfterUpdate(110);
  port.SetComNumber(3);
  fp.ports.names = {"COM4"};  // the lead came back under another name
  Arrive();
  Arrive();
  EXPECT_EQ(frm->cbComPort.ItemIndex(), -1);
  EXPECT_EQ(port.opens, 1);
  EXPECT_EQ(port.ComNumber(), 3);
}

}  // namespace
}  // namespace tarvex
