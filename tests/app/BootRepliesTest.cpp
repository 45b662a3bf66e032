// The boot loader reply state machine: judging the receive buffer, stages, repeats and give-ups.
// Posted step events are seen through the debug lines their handling writes; ManualMode keeps the
// handler from chaining the next step.
#include <gtest/gtest.h>

#include <string>

#include "BootTarget.h"
#include "bootloader/BootEvents.h"
#include "bootloader/BootFrames.h"

namespace tarvex {
namespace {

using std::string;
using test::FlashFixture;

const string kAck(1, '\x79');
const string kNack(1, '\x1F');

class BootReplies : public FlashFixture {
 protected:
  void SetUp() override {
    FlashFixture::SetUp();
    ManualMode = true;
    frm->FlashInProgress = true;
  }
  // Connected, with one command of the given code just sent.
  void Connected() {
    frm->ComsState = TComsState::csConnected;
    port.TakeWritten();
  }
  bool TimerOn() { return port.TimerActive(frm->TxTimer); }
};

TEST_F(BootReplies, SyncAnsweredWithAckOrNackConnects) {
  for (const string& answer : {kAck, kNack}) {
    frm->ComsState = TComsState::csPortOpen;
    log.lines.clear();
    Sync();
    EXPECT_EQ(port.TakeWritten(), "\x7F");
    EXPECT_EQ(port.TimerPeriod(frm->TxTimer), 18);
    port.Receive(answer);
    EXPECT_FALSE(TimerOn());
    pump.RunAll();
    EXPECT_EQ(log.lines, std::vector<string>{"Connected to Target"});
    EXPECT_EQ(frm->ComsState, TComsState::csConnected);
    EXPECT_FALSE(frm->CommandActive);
    EXPECT_TRUE(frm->btnEraseFlash.Enabled());
  }
}

TEST_F(BootReplies, GarbageOnTheSyncIsReportedAndTheSyncRepeatedAtTheTimeOut) {
  Sync();
  port.TakeWritten();
  port.Receive("\x55");
  port.Receive("\xAA");
  EXPECT_TRUE(TimerOn());  // left running: its expiry repeats the sync
  pump.RunAll();
  EXPECT_EQ(log.lines, (std::vector<string>{"Invalid Response from Target", "Invalid Response from Target"}));
  EXPECT_FALSE(frm->CommandActive);
  ASSERT_TRUE(port.Expire(frm->TxTimer));
  EXPECT_EQ(port.TakeWritten(), "\x7F");
  EXPECT_TRUE(frm->Rx_Buffer.empty());
  EXPECT_EQ(frm->RetryCount, 4);
  port.Receive(kAck);
  pump.RunAll();
  EXPECT_EQ(log.lines.back(), "Connected to Target");
}

TEST_F(BootReplies, SilentTargetIsGivenUpAfterFiveTransmissions) {
  Sync();
  int sent = 0;
  while (true) {
    const string w = port.TakeWritten();
    if (w.empty()) break;
    EXPECT_EQ(w, "\x7F");
    EXPECT_EQ(port.TimerPeriod(frm->TxTimer), 18);
    ++sent;
    ASSERT_LE(sent, 5);
    ASSERT_TRUE(port.Expire(frm->TxTimer));
  }
  EXPECT_EQ(sent, 5);
  EXPECT_EQ(fp.boxes.shown, (std::vector<std::pair<TMsgKind, string>>{
                                {TMsgKind::mkError, "No bootloader response from product."}}));
  EXPECT_EQ(log.lines, std::vector<string>{"No bootloader response from product."});
  EXPECT_FALSE(frm->FlashInProgress);
  EXPECT_TRUE(frm->btnCancel.Enabled());
  // The port stays open; nothing more goes out, not even for a late byte.
  EXPECT_TRUE(port.Open());
  EXPECT_FALSE(TimerOn());
  port.Receive(kNack);
  EXPECT_EQ(port.TakeWritten(), "");
}

TEST_F(BootReplies, FourNacksAreRepeatedAndTheFifthGivesUp) {
  Connected();
  frm->GoStage = TGoStage::gsCmd;
  frm->SendBootCommand(kCmdGo);
  EXPECT_EQ(port.TakeWritten(), "\x21\xDE");
  for (int i = 0; i < 4; ++i) {
    port.Receive(kNack);
    EXPECT_EQ(port.TakeWritten(), "\x21\xDE") << i;
    EXPECT_TRUE(TimerOn());
  }
  port.Receive(kAck);
  EXPECT_EQ(port.TakeWritten(), string("\x08\x00\x00\x00\x08", 5));
  EXPECT_EQ(frm->RetryCount, 1);  // the address frame draws on the same five

  // Same count for the follow-on frame: one more NACK uses up the command.
  frm->btnCancel.SetEnabled(false);
  port.Receive(kNack);
  EXPECT_EQ(port.TakeWritten(), "");
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(frm->ComsState, TComsState::csPortClosed);
  EXPECT_FALSE(frm->FlashInProgress);
  EXPECT_TRUE(frm->btnCancel.Enabled());
  EXPECT_TRUE(frm->CommandActive);
  EXPECT_EQ(fp.boxes.Texts(), std::vector<string>{"NACK Response from Target"});
  EXPECT_EQ(fp.boxes.shown[0].first, TMsgKind::mkError);
  EXPECT_EQ(log.lines.back(), "NACK Response from Target");
}

TEST_F(BootReplies, NacksAndTimeOutsShareTheFiveTransmissions) {
  Connected();
  frm->SendBootCommand(kCmdErase);
  port.TakeWritten();
  port.Receive(kNack);
  ASSERT_TRUE(port.Expire(frm->TxTimer));
  port.Receive(kNack);
  ASSERT_TRUE(port.Expire(frm->TxTimer));
  EXPECT_EQ(port.TakeWritten(), string("\x44\xBB\x44\xBB\x44\xBB\x44\xBB"));
  EXPECT_EQ(port.TimerPeriod(frm->TxTimer), 90);
  ASSERT_TRUE(port.Expire(frm->TxTimer));
  EXPECT_EQ(port.TakeWritten(), "");
  EXPECT_EQ(fp.boxes.Texts(), std::vector<string>{"No bootloader response from product."});
  EXPECT_TRUE(port.Open());
  // A command given up takes no late answer: neither a NACK nor an ACK starts it again.
  port.Receive(kNack);
  port.Receive(kAck);
  EXPECT_EQ(port.TakeWritten(), "");
  EXPECT_EQ(pump.RunAll(), 0);
}

TEST_F(BootReplies, NackCountsOnlyAsTheSingleByteSinceTheFrame) {
  Connected();
  frm->SendBootCommand(kCmdErase);
  port.TakeWritten();
  port.Receive(string(1, '\0'));
  port.Receive(kNack);
  EXPECT_EQ(port.TakeWritten(), "");
  EXPECT_EQ(frm->RetryCount, 5);
  EXPECT_TRUE(TimerOn());
  // An ACK after other bytes is no ACK either.
  port.Receive(kAck);
  EXPECT_EQ(port.TakeWritten(), "");
  EXPECT_EQ(frm->EraseStage, TEraseStage::esCmd);
}

TEST_F(BootReplies, EraseWalksThePageListAndEndsOnce) {
  test::FillPage(3, 1);
  test::FillPage(9, 2);
  Connected();
  frm->StartErase();
  EXPECT_EQ(frm->progBar.Max(), 2);
  EXPECT_EQ(frm->progBar.Geometry().Top, 65);
  EXPECT_TRUE(frm->progBar.Visible());
  // Each event is handled before the next reply arrives, as on the line.
  const auto answer = [this] {
    port.Receive(kAck);
    pump.RunAll();
    return port.TakeWritten();
  };
  EXPECT_EQ(port.TakeWritten(), "\x44\xBB");
  EXPECT_EQ(answer(), string("\x00\x01\x00\x03\x02", 5));
  EXPECT_EQ(frm->EraseStage, TEraseStage::esPages);
  EXPECT_EQ(answer(), "\x44\xBB");
  EXPECT_EQ(PageIdx, 1);
  EXPECT_EQ(frm->progBar.Position(), 1);
  EXPECT_EQ(answer(), string("\x00\x01\x00\x09\x08", 5));
  EXPECT_EQ(answer(), "");
  EXPECT_FALSE(TimerOn());
  pump.RunAll();
  EXPECT_EQ(log.lines, (std::vector<string>{"ERASE_CMD: ACK", "Page 3 Erased", "ERASE_CMD: ACK",
                                            "Page 9 Erased", "Selected Pages Erased"}));
  EXPECT_EQ(frm->progBar.Position(), 2);
  EXPECT_FALSE(frm->progBar.Visible());
  EXPECT_TRUE(frm->btnWriteFlash.Enabled());
  // A stray ACK after the end changes nothing.
  port.Receive(kAck);
  EXPECT_EQ(port.TakeWritten(), "");
  EXPECT_EQ(pump.RunAll(), 0);
}

TEST_F(BootReplies, WriteSendsAddressThenChecksummedBlockAndAdvancesByBlocks) {
  test::FillPage(0, 5);
  test::FillPage(1, 6);
  Connected();
  frm->StartWrite();
  int blocks = 0;
  std::uint32_t expectAddr = kFlashBase;
  while (true) {
    const string cmd = port.TakeWritten();
    if (cmd.empty()) break;
    ASSERT_EQ(cmd, "\x31\xCE");
    port.Receive(kAck);
    ASSERT_EQ(port.TakeWritten(), BuildAddressFrame(expectAddr));
    port.Receive(kAck);
    const string data = port.TakeWritten();
    ASSERT_EQ(data.size(), 258u);
    EXPECT_EQ(static_cast<std::uint8_t>(data[0]), 0xFF);
    const std::uint32_t off = expectAddr - kFlashBase;
    EXPECT_EQ(data.substr(1, 256),
              string(reinterpret_cast<const char*>(FileMemory[off / kPageSize].Data + off % kPageSize), 256));
    std::uint8_t x = 0;
    for (std::size_t i = 0; i + 1 < data.size(); ++i) x ^= static_cast<std::uint8_t>(data[i]);
    EXPECT_EQ(static_cast<std::uint8_t>(data.back()), x);
    EXPECT_EQ(frm->RWSize, 256);
    port.Receive(kAck);
    ++blocks;
    expectAddr += 256;
  }
  EXPECT_EQ(blocks, 16);
  EXPECT_EQ(PageIdx, 2);
  pump.RunAll();
  int ends = 0;
  for (const auto& l : log.lines) ends += l == "All Data Written to device" ? 1 : 0;
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(log.lines.back(), "All Data Written to device");
}

TEST_F(BootReplies, ReadBlockIsTakenOnlyWhenExactlyComplete) {
  test::FillPage(2, 7);
  Connected();
  frm->StartVerify();
  EXPECT_EQ(port.TakeWritten(), "\x11\xEE");
  port.Receive(kAck);
  EXPECT_EQ(port.TakeWritten(), BuildAddressFrame(PageAddress(2)));
  port.Receive(kAck);
  EXPECT_EQ(port.TakeWritten(), string("\xFF\x00", 2));
  // The reply arrives in pieces; the ACK and 256 bytes alone are not yet a reply.
  port.Receive(kAck);
  port.Receive(string(200, '\x42'));
  port.Receive(string(56, '\x42'));
  EXPECT_EQ(port.TakeWritten(), "");
  EXPECT_TRUE(TimerOn());
  port.Receive(string(1, '\0'));
  EXPECT_FALSE(port.written.empty());
  EXPECT_EQ(port.TakeWritten(), "\x11\xEE");  // the next block
  EXPECT_EQ(DeviceMemory[2].Data[0], 0x42);
  EXPECT_EQ(DeviceMemory[2].Data[255], 0x42);
  EXPECT_EQ(DeviceMemory[2].Data[256], 0xFF);
  EXPECT_TRUE(DeviceMemory[2].InUse);
  EXPECT_EQ(frm->StartAddr, PageAddress(2, 256));

  // A reply one byte too long never matches; the time-out repeats the frame.
  port.Receive(kAck);
  port.TakeWritten();
  port.Receive(kAck);
  port.TakeWritten();
  port.Receive(kAck + string(256, '\x10') + string(2, '\0'));
  EXPECT_EQ(port.TakeWritten(), "");
  EXPECT_EQ(DeviceMemory[2].Data[256], 0xFF);
  ASSERT_TRUE(port.Expire(frm->TxTimer));
  EXPECT_EQ(port.TakeWritten(), string("\xFF\x00", 2));
}

TEST_F(BootReplies, LineNoiseDoesNotGrowTheReceiveBuffer) {
  test::FillPage(0, 1);
  Connected();
  frm->StartVerify();
  port.Receive(kAck);
  port.Receive(kAck);
  port.TakeWritten();
  for (int i = 0; i < 200; ++i) port.Receive(string(1000, '\x79'));
  EXPECT_LE(frm->Rx_Buffer.size(), 260u);
  EXPECT_EQ(port.TakeWritten(), "");
  ASSERT_TRUE(port.Expire(frm->TxTimer));
  EXPECT_TRUE(frm->Rx_Buffer.empty());
}

TEST_F(BootReplies, GoAddressIsAcceptedOnItsFirstByteAndClosesThePort) {
  Connected();
  frm->StartRun();
  EXPECT_TRUE(frm->lbRunApp.Visible());
  EXPECT_EQ(port.TakeWritten(), "\x21\xDE");
  port.Receive(kAck);
  EXPECT_EQ(frm->GoStage, TGoStage::gsAddress);
  EXPECT_EQ(port.TakeWritten(), string("\x08\x00\x00\x00\x08", 5));
  port.Receive(kAck + "hello from the new firmware");
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(frm->ComsState, TComsState::csPortClosed);
  EXPECT_EQ(frm->GoStage, TGoStage::gsRunning);
  pump.RunAll();
  EXPECT_EQ(log.lines, (std::vector<string>{"GO_CMD: ACK", "Target running"}));
}

TEST_F(BootReplies, NothingIsPostedWithoutAPump) {
  TfrmMain lone(fp.Get(), {});
  lone.PostTaskDone(0x7F, 0);
  EXPECT_TRUE(pump.queue.empty());
  frm->PostTaskDone(0x31, 0);
  EXPECT_EQ(pump.RunAll(), 1);
  EXPECT_EQ(log.lines, std::vector<string>{"WRITE_CMD: ACK"});
}

// A 1124 message is handled after its block: by then the next block (or page) may be under way.
TEST_F(BootReplies, EventsNameTheBlockAndPageTheyWerePostedFor) {
  frm->RWSize = 256;
  frm->StartAddr = 0x08000100;
  frm->PostTaskDone(kCmdWrite, kEvAddressAck);
  PageList = {{0, 0x08000000, 0x080007FF}, {1, 0x08000800, 0x08000FFF}};
  PageIdx = 1;
  frm->PostTaskDone(kCmdErase, kEvPageErased);
  frm->StartAddr = 0x08000200;  // the next block went out before the messages were handled
  PageIdx = 2;
  pump.RunAll();
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{"Writing Data 256 Bytes @ address: 8000100", "Page 0 Erased"}));
}

}  // namespace
}  // namespace tarvex
