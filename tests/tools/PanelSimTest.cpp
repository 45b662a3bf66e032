// The emulated product fed request bytes directly: product link, boot loader, restart and faults.
#include <gtest/gtest.h>

#include <initializer_list>
#include <random>

#include "bootloader/BootFrames.h"
#include "link/AccessCodes.h"
#include "link/Frame.h"
#include "support/Bytes.h"
#include "tools/panel-sim/PanelSim.h"

namespace tarvex::panelsim {
namespace {

using test::B;

const ByteString kIdentityRequest =
    B({0x0C, 0x00, 0x02, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0xBE, 0xCB});
const ByteString kPanelReadsRequest = B({0x14, 0x00, 0x62, 0x02, 0x01, 0x00, 0x10, 0x00, 0x00, 0x00,
                                         0x44, 0x0C, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x48, 0xA5});

ByteString Request(std::uint16_t param, const ByteString& data = {}, std::uint16_t idLength = 1) {
  ByteString p;
  EncodeLinkRequest(p, {param, 1, idLength, data});
  FrameAddCrc(p);
  return p;
}

ByteString Block(std::uint32_t addr) {
  ByteString f = AddrToBytes(addr);
  AppendXorChecksum(f);
  return f;
}

ByteString WriteData(const ByteString& data) {
  ByteString f(1, static_cast<char>(data.size() - 1));
  f += data;
  AppendXorChecksum(f);
  return f;
}

class PanelSimTest : public ::testing::Test {
 protected:
  void Make(TProductConfig cfg) {
    cfg.UniqueID = "ABCDEFGHIJKL";
    cfg.SerialNo = "SN-0042";
    sim_ = std::make_unique<TPanelSim>(cfg);
  }
  void SetUp() override { Make({}); }

  // Everything the product sends in answer to the bytes; actions stay in last_.
  ByteString Send(const ByteString& bytes) {
    now_ += 10;
    last_ = sim_->Feed(bytes, now_);
    ByteString out;
    for (const auto& a : last_) {
      if (a.What == TSimAction::Kind::Send) out += a.Bytes;
    }
    return out;
  }
  // The reply frame's records; fails the test on a bad frame.
  std::vector<TLinkReply> Replies(const ByteString& bytes) {
    ByteString frame = Send(bytes);
    EXPECT_GE(frame.size(), 4u);
    if (frame.size() >= 2) {
      EXPECT_EQ(GetLinkWord(frame, 0), frame.size());
    }
    EXPECT_TRUE(FrameCheckCrc(frame));
    auto recs = DecodeLinkReplies(frame);
    EXPECT_TRUE(recs);
    return recs ? *recs : std::vector<TLinkReply>{};
  }
  void Login() {
    const auto r = Replies(Request(kParamAccess, FirstAccessCode()));
    ASSERT_EQ(r.size(), 1u);
    ASSERT_EQ(r[0].Code, kParamAccess);
  }
  void EnterBootloader() {
    Login();
    ASSERT_EQ(Replies(Request(kParamBootloader, BootloaderEntryCode())).size(), 1u);
    ASSERT_TRUE(sim_->InBootloader());
    ASSERT_EQ(Send(B({0x7F})), B({0x79}));
  }
  static std::uint16_t ErrorOf(const TLinkReply& r) {
    EXPECT_EQ(r.Code, kReplyCodeError);
    return r.Data.size() >= 2 ? GetLinkWord(r.Data, 0) : 0;
  }

  std::unique_ptr<TPanelSim> sim_;
  std::uint64_t now_ = 1000;
  std::vector<TSimAction> last_;
};

// Product link --------------------------------------------------------------------------------

TEST_F(PanelSimTest, AccessWithFirstCodeThenLongIdentity) {
  // The example identity request, before access, is refused.
  auto r = Replies(kIdentityRequest);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(ErrorOf(r[0]), kLinkErrAccessDenied);

  r = Replies(Request(kParamAccess, FirstAccessCode()));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].IDLength, 1);
  EXPECT_TRUE(r[0].Data.empty());
  EXPECT_TRUE(sim_->AccessGranted());

  r = Replies(kIdentityRequest);
  ASSERT_EQ(r.size(), 1u);
  const ByteString& d = r[0].Data;
  ASSERT_EQ(d.size(), 34u);
  EXPECT_EQ(d[0], 1);  // version 1.00
  EXPECT_EQ(d[1], 0);
  EXPECT_EQ(d[2], 'S');
  EXPECT_EQ(d[4], 0);
  EXPECT_EQ(static_cast<std::uint8_t>(d[5]), 120);
  EXPECT_EQ(d.substr(14, 12), "ABCDEFGHIJKL");
  EXPECT_EQ(d.substr(6, 8), ByteString(8, '\0'));
}

TEST_F(PanelSimTest, PeripheralGivesShortIdentityAndNoPanelReads) {
  TProductConfig cfg;
  cfg.ProductCode = 2;
  cfg.Micro = 'G';
  Make(cfg);
  Login();
  auto r = Replies(kIdentityRequest);
  ASSERT_EQ(r.size(), 1u);
  ASSERT_EQ(r[0].Data.size(), 18u);
  EXPECT_EQ(r[0].Data[2], 'G');
  EXPECT_EQ(r[0].Data.substr(6, 12), "ABCDEFGHIJKL");
  r = Replies(kPanelReadsRequest);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(ErrorOf(r[0]), kLinkErrNotSupported);
  EXPECT_EQ(ErrorOf(r[1]), kLinkErrNotSupported);
}

TEST_F(PanelSimTest, PanelReadsInOneFrameGiveSerialAndLock) {
  TProductConfig cfg;
  cfg.NvmLocked = true;
  Make(cfg);
  Login();
  auto r = Replies(kPanelReadsRequest);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].Code, kParamSerialNo);
  EXPECT_EQ(r[0].IDLength, 16);
  EXPECT_EQ(r[0].Data, "SN-0042         ");
  EXPECT_EQ(r[1].Code, kParamNvmLock);
  EXPECT_EQ(r[1].Data, B({0x00, 0x40}));
}

TEST_F(PanelSimTest, CodesAreChecked) {
  // Wrong first code, a code of the wrong length, a wrong entry code.
  ByteString wrong = FirstAccessCode();
  wrong[0] = static_cast<char>(wrong[0] ^ 1);
  EXPECT_EQ(ErrorOf(Replies(Request(kParamAccess, wrong))[0]), kLinkErrAccessDenied);
  EXPECT_EQ(ErrorOf(Replies(Request(kParamAccess, "abc"))[0]), kLinkErrAccessDenied);
  EXPECT_FALSE(sim_->AccessGranted());
  EXPECT_EQ(ErrorOf(Replies(Request(kParamBootloader, BootloaderEntryCode()))[0]), kLinkErrAccessDenied);
  Login();
  EXPECT_EQ(ErrorOf(Replies(Request(kParamBootloader, "xx"))[0]), kLinkErrAccessDenied);
  EXPECT_FALSE(sim_->InBootloader());
  EXPECT_EQ(ErrorOf(Replies(Request(777))[0]), kLinkErrNotSupported);
}

TEST_F(PanelSimTest, SecondCodeWhenConfigured) {
  TProductConfig cfg;
  cfg.NeedSecondCode = true;
  Make(cfg);
  EXPECT_EQ(ErrorOf(Replies(Request(kParamAccess, FirstAccessCode()))[0]), kLinkErrTryOtherCode);
  ByteString wrong = SecondAccessCode();
  wrong[9] = static_cast<char>(wrong[9] ^ 0x20);
  EXPECT_EQ(ErrorOf(Replies(Request(kParamAccess, wrong))[0]), kLinkErrAccessDenied);
  const auto r = Replies(Request(kParamAccess, SecondAccessCode()));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].Code, kParamAccess);
  EXPECT_TRUE(sim_->AccessGranted());
}

TEST_F(PanelSimTest, MalformedAndOversizedRequestsGetMessageLengthError) {
  ByteString cut;
  EncodeLinkRequest(cut, {kParamIdentity, 1, 1, {}});
  cut.pop_back();
  cut += "\x07\x00";  // data length pointing past the end
  FrameAddCrc(cut);
  auto r = Replies(cut);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(ErrorOf(r[0]), kLinkErrMessageLength);

  Login();
  ByteString big;
  for (int i = 0; i < 2; ++i) EncodeLinkRequest(big, {kParamIdentity, 1, 1, ByteString(300, 'x')});
  FrameAddCrc(big);
  r = Replies(big);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(ErrorOf(r[1]), kLinkErrMessageLength);
}

TEST_F(PanelSimTest, SplitRequestIsAnsweredWhenComplete) {
  Login();
  EXPECT_TRUE(Send(kIdentityRequest.substr(0, 1)).empty());
  EXPECT_TRUE(Send(kIdentityRequest.substr(1, 6)).empty());
  EXPECT_EQ(Replies(kIdentityRequest.substr(7)).size(), 1u);
  // A request cut short and never finished is dropped after a pause; the next one is answered.
  EXPECT_TRUE(Send(kIdentityRequest.substr(0, 5)).empty());
  now_ += TPanelSim::kFrameGapMs + 1;
  EXPECT_EQ(Replies(kIdentityRequest).size(), 1u);
}

TEST_F(PanelSimTest, BadCrcRequestIsNotAnswered) {
  ByteString req = kIdentityRequest;
  req.back() = 0;
  EXPECT_TRUE(Send(req).empty());
  Login();
}

// Link faults ---------------------------------------------------------------------------------

TEST_F(PanelSimTest, LinkFaults) {
  TProductConfig cfg;
  cfg.Faults.AnswerAfter = 2;
  cfg.Faults.BadCrcFrames = 1;
  cfg.Faults.NotReadyCount = 2;
  Make(cfg);
  EXPECT_TRUE(Send(Request(kParamAccess, FirstAccessCode())).empty());
  EXPECT_TRUE(Send(Request(kParamAccess, FirstAccessCode())).empty());
  ByteString corrupt = Send(Request(kParamAccess, FirstAccessCode()));
  ASSERT_FALSE(corrupt.empty());
  EXPECT_EQ(GetLinkWord(corrupt, 0), corrupt.size());
  EXPECT_FALSE(FrameCheckCrc(corrupt));
  Login();
  for (int i = 0; i < 2; ++i) {
    const auto r = Replies(kIdentityRequest);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].Code, kReplyCodeNotReady);
    EXPECT_TRUE(r[0].Data.empty());
  }
  EXPECT_EQ(Replies(kIdentityRequest)[0].Data.size(), 34u);
}

TEST_F(PanelSimTest, AccessErrorAndSilence) {
  for (std::uint16_t e : {std::uint16_t{2}, std::uint16_t{3}, std::uint16_t{4}, std::uint16_t{5}}) {
    TProductConfig cfg;
    cfg.Faults.AccessError = e;
    Make(cfg);
    EXPECT_EQ(ErrorOf(Replies(Request(kParamAccess, FirstAccessCode()))[0]), e);
    EXPECT_FALSE(sim_->AccessGranted());
  }
  TProductConfig cfg;
  cfg.Faults.Silent = true;
  Make(cfg);
  EXPECT_TRUE(Send(Request(kParamAccess, FirstAccessCode())).empty());
}

TEST_F(PanelSimTest, RepliesSplitIntoDelayedChunks) {
  TProductConfig cfg;
  cfg.Faults.ChunkSize = 5;
  cfg.Faults.ChunkDelayMs = 30;
  Make(cfg);
  Login();
  const ByteString all = Send(kIdentityRequest);
  ASSERT_EQ(all.size(), 8u + 34u + 4u);
  ASSERT_EQ(last_.size(), 10u);
  EXPECT_EQ(last_[0].DelayMs, 0u);
  for (std::size_t i = 1; i < last_.size(); ++i) EXPECT_EQ(last_[i].DelayMs, 30u);
  EXPECT_EQ(last_.back().Bytes.size(), 1u);
}

// Boot loader ---------------------------------------------------------------------------------

TEST_F(PanelSimTest, EntryReplyThenSyncAndCommands) {
  Login();
  const auto r = Replies(Request(kParamBootloader, BootloaderEntryCode()));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].Code, kParamBootloader);
  EXPECT_TRUE(r[0].Data.empty());
  ASSERT_TRUE(sim_->InBootloader());
  // Noise before the sync is passed over; a second sync is answered NACK.
  EXPECT_TRUE(Send(B({0x00, 0x55})).empty());
  EXPECT_EQ(Send(B({0x7F})), B({kBootAck}));
  EXPECT_EQ(Send(B({0x7F})), B({kBootNack}));
  EXPECT_EQ(Send(B({0x11, 0xEF})), B({kBootNack}));  // bad complement
  EXPECT_EQ(Send(B({0x02, 0xFD})), B({kBootNack}));  // a command this boot loader lacks
}

TEST_F(PanelSimTest, EraseWriteReadInTheProductsDialect) {
  TProductConfig cfg;
  cfg.EraseMs = 25;
  cfg.WriteMs = 7;
  Make(cfg);
  EnterBootloader();
  const std::uint32_t page5 = kFlashBase + 5 * kPageSize;

  EXPECT_EQ(Send(B({0x44, 0xBB})), B({kBootAck}));
  EXPECT_EQ(Send(B({0x00, 0x00, 0x00, 0x05, 0x05})), B({kBootNack}));  // count field of the other dialect
  EXPECT_EQ(Send(B({0x00, 0x01, 0x00, 0x05, 0x05})), B({kBootNack}));  // bad checksum
  EXPECT_EQ(Send(B({0x00, 0x01, 0x00, 0x05, 0x04})), B({kBootAck}));
  EXPECT_EQ(last_[0].DelayMs, 25u);

  ByteString data;
  for (int i = 0; i < 256; ++i) data += static_cast<char>(i);
  EXPECT_EQ(Send(B({0x31, 0xCE})), B({kBootAck}));
  ByteString badAddr = Block(page5);
  badAddr.back() = static_cast<char>(badAddr.back() ^ 1);
  EXPECT_EQ(Send(badAddr), B({kBootNack}));
  EXPECT_EQ(Send(Block(page5)), B({kBootAck}));  // the same frame again is taken
  ByteString frame = WriteData(data);
  ASSERT_EQ(frame.size(), 258u);
  EXPECT_TRUE(Send(frame.substr(0, 100)).empty());
  EXPECT_EQ(Send(frame.substr(100)), B({kBootAck}));
  EXPECT_EQ(last_[0].DelayMs, 7u);
  EXPECT_EQ(sim_->Flash().substr(5 * kPageSize, 256), data);

  EXPECT_EQ(Send(B({0x11, 0xEE})), B({kBootAck}));
  EXPECT_EQ(Send(Block(page5)), B({kBootAck}));
  const ByteString reply = Send(B({0xFF, 0x00}));
  ASSERT_EQ(reply.size(), 258u);
  EXPECT_EQ(static_cast<std::uint8_t>(reply[0]), kBootAck);
  EXPECT_EQ(reply.substr(1, 256), data);

  // Outside the flash: refused.
  EXPECT_EQ(Send(B({0x11, 0xEE})), B({kBootAck}));
  EXPECT_EQ(Send(Block(kFlashBase + sim_->FlashSize())), B({kBootNack}));
}

TEST_F(PanelSimTest, ProgrammingOnlyClearsBits) {
  EnterBootloader();
  const std::uint32_t addr = kFlashBase + 7 * kPageSize;
  for (int v : {0xF0, 0x3C}) {
    EXPECT_EQ(Send(B({0x31, 0xCE})), B({kBootAck}));
    EXPECT_EQ(Send(Block(addr)), B({kBootAck}));
    EXPECT_EQ(Send(WriteData(B({v}))), B({kBootAck}));
  }
  EXPECT_EQ(static_cast<std::uint8_t>(sim_->Flash()[7 * kPageSize]), 0x30);
}

TEST_F(PanelSimTest, GoRestartsWithTheIdentityInFlash) {
  Make({});
  EnterBootloader();
  // Page 0 erased and given a new firmware identity: version 2.05 of product 30, variant 1.
  EXPECT_EQ(Send(B({0x44, 0xBB})), B({kBootAck}));
  EXPECT_EQ(Send(B({0x00, 0x01, 0x00, 0x00, 0x01})), B({kBootAck}));
  EXPECT_EQ(Send(B({0x31, 0xCE})), B({kBootAck}));
  EXPECT_EQ(Send(Block(kFlashBase + 0x40)), B({kBootAck}));
  EXPECT_EQ(Send(WriteData(TPanelSim::IdentityBlock(30, 1, 2, 5, true))), B({kBootAck}));

  EXPECT_EQ(Send(B({0x21, 0xDE})), B({kBootAck}));
  EXPECT_EQ(Send(Block(kFlashBase)), B({kBootAck}));
  ASSERT_EQ(last_.size(), 2u);
  EXPECT_EQ(last_[1].What, TSimAction::Kind::Reenumerate);
  EXPECT_FALSE(sim_->InBootloader());
  EXPECT_FALSE(sim_->AccessGranted());

  Login();
  const auto r = Replies(kIdentityRequest);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].Data[0], 2);
  EXPECT_EQ(r[0].Data[1], 5);
  EXPECT_EQ(r[0].Data[2], 'G');
  EXPECT_EQ(r[0].Data[4], 1);
  EXPECT_EQ(r[0].Data[5], 30);
}

TEST_F(PanelSimTest, GoOnErasedFlashStaysInBootloader) {
  EnterBootloader();
  EXPECT_EQ(Send(B({0x44, 0xBB})), B({kBootAck}));
  EXPECT_EQ(Send(B({0x00, 0x01, 0x00, 0x00, 0x01})), B({kBootAck}));
  EXPECT_EQ(Send(B({0x21, 0xDE})), B({kBootAck}));
  EXPECT_EQ(Send(Block(kFlashBase + 4)), B({kBootNack}));  // GO only to the flash base
  EXPECT_EQ(Send(Block(kFlashBase)), B({kBootAck}));
  EXPECT_TRUE(sim_->InBootloader());
  EXPECT_EQ(Send(B({0x7F})), B({kBootAck}));  // a fresh boot loader wants a fresh sync
}

TEST_F(PanelSimTest, LongSilenceMidCommandLetsAFreshSyncThrough) {
  EnterBootloader();
  EXPECT_EQ(Send(B({0x31, 0xCE})), B({kBootAck}));
  // Within the programmer's repeat time the address stage waits for its frame ...
  now_ += TPanelSim::kFrameGapMs + 1;
  EXPECT_TRUE(Send(B({0x7F})).empty());
  // ... but after a long silence the command is abandoned and a sync is heard as one.
  now_ += TPanelSim::kCommandAbandonMs + 1;
  EXPECT_EQ(Send(B({0x7F})), B({kBootNack}));
  EXPECT_EQ(Send(B({0x11, 0xEE})), B({kBootAck}));
}

// Boot loader faults --------------------------------------------------------------------------

TEST_F(PanelSimTest, ANackedSyncStillSynchronises) {
  TProductConfig cfg;
  cfg.Faults.NackCommand = kBootSync;
  cfg.Faults.NackCount = 1;
  Make(cfg);
  Login();
  Replies(Request(kParamBootloader, BootloaderEntryCode()));
  EXPECT_EQ(Send(B({0x7F})), B({kBootNack}));
  // The programmer takes that NACK for "already synchronised" and goes on with its commands.
  EXPECT_EQ(Send(B({0x44, 0xBB})), B({kBootAck}));
}

TEST_F(PanelSimTest, NackAndSilenceForOneCommand) {
  TProductConfig cfg;
  cfg.Faults.NackCommand = kCmdWrite;
  cfg.Faults.NackCount = 2;
  cfg.Faults.SilentCommand = kCmdErase;
  cfg.Faults.SilentCount = 1;
  cfg.Faults.SyncGarbage = 1;
  Make(cfg);
  Login();
  Replies(Request(kParamBootloader, BootloaderEntryCode()));
  const ByteString garbage = Send(B({0x7F}));
  EXPECT_FALSE(garbage.empty());
  EXPECT_NE(garbage, B({kBootAck}));
  EXPECT_NE(garbage, B({kBootNack}));
  EXPECT_EQ(Send(B({0x7F})), B({kBootAck}));

  EXPECT_EQ(Send(B({0x31, 0xCE})), B({kBootNack}));
  EXPECT_EQ(Send(B({0x31, 0xCE})), B({kBootNack}));
  EXPECT_EQ(Send(B({0x31, 0xCE})), B({kBootAck}));
  EXPECT_EQ(Send(Block(kFlashBase + 0x1000)), B({kBootAck}));
  EXPECT_EQ(Send(WriteData(B({0x12}))), B({kBootAck}));

  EXPECT_TRUE(Send(B({0x44, 0xBB})).empty());
  now_ += TPanelSim::kFrameGapMs;
  EXPECT_EQ(Send(B({0x44, 0xBB})), B({kBootAck}));
}

TEST_F(PanelSimTest, UnplugMidTransferAndFlippedFlash) {
  TProductConfig cfg;
  cfg.Faults.FlipAddress = kFlashBase + 0x1001;
  cfg.Faults.UnplugAfter = 8;  // the sync is frame 1
  Make(cfg);
  EnterBootloader();
  EXPECT_EQ(Send(B({0x31, 0xCE})), B({kBootAck}));
  EXPECT_EQ(Send(Block(kFlashBase + 0x1000)), B({kBootAck}));
  EXPECT_EQ(Send(WriteData(B({0x00, 0x00, 0x00}))), B({kBootAck}));
  EXPECT_EQ(Send(B({0x11, 0xEE})), B({kBootAck}));
  EXPECT_EQ(Send(Block(kFlashBase + 0x1000)), B({kBootAck}));
  const ByteString back = Send(B({0x02, 0xFD}));
  ASSERT_EQ(back.size(), 5u);
  EXPECT_EQ(back.substr(1, 3), B({0x00, 0x01, 0x00}));

  EXPECT_TRUE(Send(B({0x31, 0xCE})).empty());
  ASSERT_EQ(last_.size(), 1u);
  EXPECT_EQ(last_[0].What, TSimAction::Kind::Unplug);
  // Power came back with the factory firmware intact: the product link answers again.
  EXPECT_FALSE(sim_->InBootloader());
  Login();
}

// Robustness ----------------------------------------------------------------------------------

TEST_F(PanelSimTest, RandomBytesNeverWedgeEitherSide) {
  std::mt19937 rng(12345);
  for (bool boot : {false, true}) {
    Make({});
    if (boot) EnterBootloader();
    for (int i = 0; i < 20000; ++i) {
      ByteString noise(rng() % 40, '\0');
      for (char& c : noise) c = static_cast<char>(rng());
      now_ += rng() % 3 == 0 ? 700 : 1;
      sim_->Feed(noise, now_);
      ASSERT_LE(sim_->PendingBytes(), TPanelSim::kMaxRequestFrame);
    }
    // After a pause the product still answers properly.
    now_ += TPanelSim::kCommandAbandonMs + 1;
    if (sim_->InBootloader()) {
      const ByteString a = Send(B({0x7F}));
      ASSERT_EQ(a.size(), 1u);
      EXPECT_TRUE(a[0] == static_cast<char>(kBootAck) || a[0] == static_cast<char>(kBootNack));
    } else {
      Login();
    }
  }
}

}  // namespace
}  // namespace tarvex::panelsim
