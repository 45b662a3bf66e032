// The boot loader session on its own: reply bytes and time-outs in, frames, events and give-ups
// out, with no window, port or pump behind it.
#include <gtest/gtest.h>

#include <vector>

#include "bootloader/BootFrames.h"
#include "bootloader/BootSession.h"

namespace tarvex {
namespace {

struct TRecorder final : IBootActions {
  std::vector<ByteString> Sent;
  std::vector<TBootEvent> Events;
  std::vector<TBootGiveUp> GiveUps;
  std::vector<std::uint16_t> Awaits;
  int Stops = 0;
  int Closes = 0;
  int Discards = 0;
  bool SendFrame(const ByteString& frame) override {
    Sent.push_back(frame);
    return true;
  }
  void StopTimer() override { ++Stops; }
  void PostEvent(const TBootEvent& event) override { Events.push_back(event); }
  void AwaitBytes(std::uint16_t count) override { Awaits.push_back(count); }
  void DiscardInput() override { ++Discards; }
  void ClosePort() override { ++Closes; }
  void GiveUp(TBootGiveUp why) override { GiveUps.push_back(why); }
};

class BootSessionAlone : public ::testing::Test {
 protected:
  void SetUp() override {
    // One page of 300 bytes: a full block and one of 44.
    FileMemory.assign(1, TMem2KPage{});
    PageList = {{0, kFlashBase, kFlashBase + 299}};
    PageIdx = 0;
    StartAddr = kFlashBase;
    EndAddr = kFlashBase + 299;
  }
  void TearDown() override {
    FileMemory.clear();
    PageList.clear();
    PageIdx = 0;
  }
  void Reply(std::uint8_t byte) { session.OnBytes(ByteString(1, static_cast<char>(byte))); }

  ByteString rx, tx;
  std::int32_t retries = 0;
  std::uint8_t cmd = 0;
  bool active = false;
  TComsState state = TComsState::csConnected;
  TReadStage read = TReadStage::rsCmd;
  TWriteStage write = TWriteStage::wsCmd;
  TEraseStage erase = TEraseStage::esCmd;
  TGoStage go = TGoStage::gsCmd;
  std::uint32_t StartAddr = 0, EndAddr = 0;
  std::uint16_t size = 0;
  TRecorder out;
  TBootSession session{
      {rx, tx, retries, cmd, active, state, read, write, erase, go, StartAddr, EndAddr, size}, out};
};

TEST_F(BootSessionAlone, AWriteOfTwoBlocksSendsEachFrameAndTellsEachBlockOnce) {
  session.SendCommand(kCmdWrite);
  for (int i = 0; i < 6; ++i) Reply(kBootAck);

  ASSERT_EQ(out.Sent.size(), 6u);
  EXPECT_EQ(out.Sent[0], BuildCommandFrame(kCmdWrite));
  EXPECT_EQ(out.Sent[1], BuildAddressFrame(kFlashBase));
  EXPECT_EQ(out.Sent[2].size(), 1u + 256 + 1);
  EXPECT_EQ(out.Sent[4], BuildAddressFrame(kFlashBase + 256));
  EXPECT_EQ(out.Sent[5].size(), 1u + 44 + 1);
  std::vector<std::uint32_t> blocks;
  int ends = 0;
  for (const TBootEvent& e : out.Events) {
    if (e.LParam == kEvBlockDone) blocks.push_back(e.Addr);
    ends += e.LParam == kEvAllBlocksDone ? 1 : 0;
  }
  // Each block's event names that block, and the command ends once, after the last.
  EXPECT_EQ(blocks, (std::vector<std::uint32_t>{kFlashBase, kFlashBase + 256}));
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(out.Events.back().LParam, kEvAllBlocksDone);
  EXPECT_TRUE(out.GiveUps.empty());
}

TEST_F(BootSessionAlone, GiveUpsComeOnceAndNothingMovesAfterThem) {
  session.SendCommand(kCmdErase);
  for (int i = 0; i < 8; ++i) Reply(kBootNack);
  EXPECT_EQ(out.Sent.size(), static_cast<std::size_t>(kBootTransmissions));
  EXPECT_EQ(out.GiveUps, std::vector<TBootGiveUp>{TBootGiveUp::bgNack});
  Reply(kBootAck);
  EXPECT_TRUE(out.Events.empty());

  session.SendCommand(kCmdRead);
  for (int i = 0; i < 8; ++i) session.OnTimeout();
  EXPECT_EQ(out.GiveUps, (std::vector<TBootGiveUp>{TBootGiveUp::bgNack, TBootGiveUp::bgSilence}));
  EXPECT_EQ(out.Sent.size(), 2u * kBootTransmissions);
}

TEST_F(BootSessionAlone, ABlockReadBackIsAwaitedWholeAfterItsAckAndAStalledOneIsDropped) {
  session.SendCommand(kCmdRead);
  Reply(kBootAck);
  Reply(kBootAck);  // the address; the count frame goes out
  Reply(kBootAck);  // the block's ACK: the rest is awaited whole
  EXPECT_EQ(out.Awaits, std::vector<std::uint16_t>{256 + 1});
  session.OnBytes(ByteString(257, '\x5A'));
  EXPECT_EQ(out.Awaits, (std::vector<std::uint16_t>{257, 1}));
  EXPECT_EQ(out.Events.back().LParam, kEvBlockDone);

  // The next block's ACK and part of it, then silence: the part is dropped and the repeat's
  // reply comes a byte at a time again.
  Reply(kBootAck);
  Reply(kBootAck);
  Reply(kBootAck);
  session.OnBytes(ByteString(10, '\x5A'));
  session.OnTimeout();
  EXPECT_EQ(out.Discards, 1);
  EXPECT_EQ(out.Awaits, (std::vector<std::uint16_t>{257, 1, 44 + 1, 1}));
  EXPECT_TRUE(rx.empty());
}

}  // namespace
}  // namespace tarvex
