// The product link's CRC, frame envelope, record codec and stored codes.
#include <gtest/gtest.h>

#include <initializer_list>

#include "link/AccessCodes.h"
#include "link/Crc.h"
#include "link/Frame.h"
#include "support/Bytes.h"

namespace tarvex {
namespace {

using test::B;

TEST(LinkCrc, TableIsTheMsbFirstTable) {
  const auto& t = CrcTable();
  EXPECT_EQ(t[0], 0x0000);
  EXPECT_EQ(t[1], 0x1021);
  EXPECT_EQ(t[2], 0x2042);
  EXPECT_EQ(t[128], 0x9188);
  EXPECT_EQ(t[255], 0x1EF0);
}

TEST(LinkCrc, KnownValues) {
  EXPECT_EQ(FrameCrc("123456789"), 0x6EB4);
  EXPECT_EQ(FrameCrc(""), 0xFFFF);
  // Byte-at-a-time update gives the same as the whole run.
  std::uint16_t r = kCrcStart;
  for (char c : std::string("123456789")) r = CrcUpdate(r, static_cast<std::uint8_t>(c));
  EXPECT_EQ(r, 0x6EB4);
}

TEST(LinkFrame, AddCrcBuildsTheEnvelope) {
  ByteString abc = "abc";
  ASSERT_TRUE(FrameAddCrc(abc));
  EXPECT_EQ(abc, B({0x07, 0x00, 0x61, 0x62, 0x63, 0x44, 0xF1}));

  ByteString identity = B({0x02, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00});
  ASSERT_TRUE(FrameAddCrc(identity));
  EXPECT_EQ(identity, B({0x0C, 0x00, 0x02, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0xBE, 0xCB}));
}

TEST(LinkFrame, AddCrcRefusesEmptyAndOversizedPayloads) {
  ByteString empty;
  EXPECT_FALSE(FrameAddCrc(empty));
  EXPECT_TRUE(empty.empty());
  // The length field would wrap: refused rather than sent with a wrong length.
  ByteString big(kMaxFrameSize - kFrameEnvelopeSize + 1, 'x');
  EXPECT_FALSE(FrameAddCrc(big));
  EXPECT_EQ(big.size(), kMaxFrameSize - kFrameEnvelopeSize + 1);
  ByteString largest(kMaxFrameSize - kFrameEnvelopeSize, 'x');
  ASSERT_TRUE(FrameAddCrc(largest));
  EXPECT_EQ(GetLinkWord(largest, 0), 0xFFFF);
}

TEST(LinkFrame, CheckCrcStripsEnvelopeOrLeavesFrameAlone) {
  ByteString frame = B({0x07, 0x00, 0x61, 0x62, 0x63, 0x44, 0xF1});
  ASSERT_TRUE(FrameCheckCrc(frame));
  EXPECT_EQ(frame, "abc");

  ByteString bad = B({0x07, 0x00, 0x61, 0x62, 0x63, 0xF1, 0x44});  // CRC bytes swapped
  const ByteString before = bad;
  EXPECT_FALSE(FrameCheckCrc(bad));
  EXPECT_EQ(bad, before);

  for (const ByteString& tiny : {ByteString(), B({0xFF}), B({0xFF, 0xFF}), B({2, 0, 0xFF})}) {
    ByteString t = tiny;
    EXPECT_FALSE(FrameCheckCrc(t)) << t.size();
    EXPECT_EQ(t, tiny);
  }
  // Length and CRC alone: an empty payload.
  ByteString bare = B({0x04, 0x00});
  PutLinkWord(bare, FrameCrc(bare));
  ASSERT_TRUE(FrameCheckCrc(bare));
  EXPECT_TRUE(bare.empty());
}

TEST(LinkRecords, PanelReadsRequestIsTheTwentyByteFrame) {
  ByteString payload;
  ASSERT_TRUE(EncodeLinkRequest(payload, {kParamSerialNo, 1, 16, {}}));
  ASSERT_TRUE(EncodeLinkRequest(payload, {kParamNvmLock, 1, 1, {}}));
  ASSERT_TRUE(FrameAddCrc(payload));
  EXPECT_EQ(payload, B({0x14, 0x00, 0x62, 0x02, 0x01, 0x00, 0x10, 0x00, 0x00, 0x00,
                        0x44, 0x0C, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x48, 0xA5}));
  ASSERT_TRUE(FrameCheckCrc(payload));
  const auto recs = DecodeLinkRequests(payload);
  ASSERT_TRUE(recs);
  ASSERT_EQ(recs->size(), 2u);
  EXPECT_EQ((*recs)[0].ParamAddress, kParamSerialNo);
  EXPECT_EQ((*recs)[0].IDLength, 16);
  EXPECT_EQ((*recs)[1].ParamAddress, kParamNvmLock);
  EXPECT_TRUE((*recs)[1].Data.empty());
}

TEST(LinkRecords, ReplyRoundTripAndErrorRecord) {
  ByteString payload;
  ASSERT_TRUE(EncodeLinkReply(payload, {2, 1, 1, ByteString(18, 'x')}));
  ASSERT_TRUE(EncodeLinkReply(payload, LinkErrorReply(kLinkErrAccessDenied)));
  const auto recs = DecodeLinkReplies(payload);
  ASSERT_TRUE(recs);
  ASSERT_EQ(recs->size(), 2u);
  EXPECT_EQ((*recs)[0].Code, 2);
  EXPECT_EQ((*recs)[0].Data, ByteString(18, 'x'));
  EXPECT_EQ((*recs)[1].Code, kReplyCodeError);
  EXPECT_EQ((*recs)[1].Data, B({4, 0}));
}

TEST(LinkRecords, TruncatedRecordsAreRefused) {
  ByteString good;
  ASSERT_TRUE(EncodeLinkReply(good, {1, 0, 1, "ab"}));
  // Data cut short, header cut short.
  EXPECT_FALSE(DecodeLinkReplies(good.substr(0, good.size() - 1)));
  EXPECT_FALSE(DecodeLinkReplies(good + B({1, 0, 1})));
  // A data length pointing far past the end must not read out of bounds.
  EXPECT_FALSE(DecodeLinkRequests(B({1, 0, 1, 0, 1, 0, 0xFF, 0xFF})));
  // One stray byte is no record.
  const auto recs = DecodeLinkReplies(good + B({0x55}));
  ASSERT_TRUE(recs);
  EXPECT_EQ(recs->size(), 1u);
  // Data longer than the length field can say.
  ByteString out;
  EXPECT_FALSE(EncodeLinkRequest(out, {1, 1, 1, ByteString(0x10000, 'z')}));
  EXPECT_TRUE(out.empty());
}

TEST(StoredCodes, HaveTheirLengthsAndDiffer) {
  EXPECT_EQ(FirstAccessCode().size(), 4u);
  EXPECT_EQ(SecondAccessCode().size(), 10u);
  EXPECT_EQ(BootloaderEntryCode().size(), 2u);
  EXPECT_NE(FirstAccessCode(), SecondAccessCode().substr(0, 4));
}

TEST(StoredCodes, DescrambleRules) {
  EXPECT_EQ(DescrambleCode("12G4", 0x1234), "");
  EXPECT_EQ(DescrambleCode("", 0x1234), "");
  // Case does not matter; a lone digit at the end is ignored.
  EXPECT_EQ(DescrambleCode("c21c93c2", 0xB71D), DescrambleCode("C21C93C2", 0xB71D));
  EXPECT_EQ(DescrambleCode("C21C93C2F", 0xB71D), DescrambleCode("C21C93C2", 0xB71D));
  // The first byte is the cipher byte XOR the key's high byte.
  EXPECT_EQ(DescrambleCode("00", 0xAB00), B({0xAB}));
  EXPECT_EQ(DescrambleCode("5A", 0x0000), B({0x5A}));
  // The key runs on: the same cipher byte twice deciphers differently.
  const ByteString two = DescrambleCode("0000", 0x0000);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_NE(two[0], two[1]);
}

}  // namespace
}  // namespace tarvex
