// Boot loader frames, byte for byte, and the copying of write and read-back data.
#include <gtest/gtest.h>

#include <cstring>

#include "bootloader/BootFrames.h"
#include "support/Bytes.h"

namespace tarvex {
namespace {

using test::B;

TEST(BootFrameBytes, ChecksumsAddressesAndCommands) {
  ByteString f = B({0x12, 0x34});
  AppendXorChecksum(f);
  EXPECT_EQ(f, B({0x12, 0x34, 0x26}));
  ByteString empty;
  AppendXorChecksum(empty);
  EXPECT_EQ(empty, B({0x00}));

  EXPECT_EQ(AddrToBytes(0x0803F800), B({0x08, 0x03, 0xF8, 0x00}));
  EXPECT_EQ(BuildAddressFrame(0x0803F800), B({0x08, 0x03, 0xF8, 0x00, 0xF3}));
  EXPECT_EQ(BuildAddressFrame(kFlashBase), B({0x08, 0x00, 0x00, 0x00, 0x08}));

  EXPECT_EQ(BuildCommandFrame(kCmdRead), B({0x11, 0xEE}));
  EXPECT_EQ(BuildCommandFrame(kCmdGo), B({0x21, 0xDE}));
  EXPECT_EQ(BuildCommandFrame(kCmdWrite), B({0x31, 0xCE}));
  EXPECT_EQ(BuildCommandFrame(kCmdErase), B({0x44, 0xBB}));

  EXPECT_EQ(BuildErasePageFrame(5), B({0x00, 0x01, 0x00, 0x05, 0x04}));
  EXPECT_EQ(BuildErasePageFrame(0x1234), B({0x00, 0x01, 0x12, 0x34, 0x27}));

  EXPECT_EQ(BuildReadCountFrame(256), B({0xFF, 0x00}));
  EXPECT_EQ(BuildReadCountFrame(1), B({0x00, 0xFF}));
}

class BootImages : public ::testing::Test {
 protected:
  void SetUp() override {
    FileMemory.assign(2, TMem2KPage{});
    DeviceMemory.assign(2, TMem2KPage{});
    for (std::size_t p = 0; p < 2; ++p) {
      for (std::size_t i = 0; i < kPageSize; ++i) {
        FileMemory[p].Data[i] = static_cast<std::uint8_t>(i + p * 7);
      }
      std::memset(DeviceMemory[p].Data, kErasedByte, kPageSize);
    }
  }
  void TearDown() override {
    FileMemory.clear();
    DeviceMemory.clear();
  }
};

TEST_F(BootImages, WriteOfOneByteAndOfAFullBlock) {
  ByteString f;
  BuildWriteData(kFlashBase + 0x10, 1, f);
  AppendXorChecksum(f);
  EXPECT_EQ(f, B({0x00, 0x10, 0x10}));

  BuildWriteData(kFlashBase + 0x100, 256, f);
  ASSERT_EQ(f.size(), 257u);
  EXPECT_EQ(static_cast<std::uint8_t>(f[0]), 0xFF);
  EXPECT_EQ(static_cast<std::uint8_t>(f[1]), 0x00);
  EXPECT_EQ(static_cast<std::uint8_t>(f[256]), 0xFF);
  AppendXorChecksum(f);
  EXPECT_EQ(f.size(), 258u);
}

TEST_F(BootImages, WriteCrossesIntoTheNextPageAndStopsAtTheImageEnd) {
  ByteString f;
  BuildWriteData(kFlashBase + kPageSize - 2, 4, f);
  EXPECT_EQ(f, B({0x03, 0xFE, 0xFF, 0x07, 0x08}));  // page 1 data start at 7

  BuildWriteData(kFlashBase + 2 * kPageSize - 2, 4, f);
  EXPECT_EQ(f, B({0x03, 0x05, 0x06}));  // image ends after two bytes

  BuildWriteData(kFlashBase + 2 * kPageSize, 4, f);
  EXPECT_TRUE(f.empty());
  BuildWriteData(kFlashBase, 0, f);
  EXPECT_TRUE(f.empty());
  BuildWriteData(kFlashBase, 257, f);
  EXPECT_TRUE(f.empty());
}

TEST_F(BootImages, StoreReadDataSkipsTheAckAndTheFinalByte) {
  ByteString reply(1, static_cast<char>(kBootAck));
  for (int i = 0; i < 256; ++i) reply += static_cast<char>(i == 0 ? 0xFF : i);
  reply += '\x5A';
  ASSERT_EQ(reply.size(), 258u);
  StoreReadData(kFlashBase + kPageSize + 0x200, reply);
  const TMem2KPage& p = DeviceMemory[1];
  EXPECT_EQ(p.Data[0x1FF], kErasedByte);
  EXPECT_EQ(p.Data[0x200], 0xFF);
  EXPECT_EQ(p.Data[0x201], 1);
  EXPECT_EQ(p.Data[0x2FF], 255);
  EXPECT_EQ(p.Data[0x300], kErasedByte);  // the trailing byte is not stored
  EXPECT_TRUE(p.InUse);
  EXPECT_FALSE(DeviceMemory[0].InUse);
}

TEST_F(BootImages, ErasedReadBackLeavesInUseAlone) {
  StoreReadData(kFlashBase, B({0x79, 0xFF, 0xFF, 0xFF, 0x00}));
  EXPECT_FALSE(DeviceMemory[0].InUse);
  DeviceMemory[0].InUse = true;
  StoreReadData(kFlashBase, B({0x79, 0xFF, 0x00}));
  EXPECT_TRUE(DeviceMemory[0].InUse);
}

TEST_F(BootImages, ReadBackPastTheImageOrTooShortStoresNothing) {
  StoreReadData(kFlashBase + 2 * kPageSize, B({0x79, 0x01, 0x00}));
  StoreReadData(kFlashBase, B({0x79}));
  StoreReadData(kFlashBase, ByteString());
  EXPECT_FALSE(DeviceMemory[0].InUse);
  EXPECT_EQ(DeviceMemory[0].Data[0], kErasedByte);
  // Running off the end stops at the last page's last byte.
  StoreReadData(kFlashBase + 2 * kPageSize - 1, B({0x79, 0x11, 0x22, 0x33, 0x00}));
  EXPECT_EQ(DeviceMemory[1].Data[kPageSize - 1], 0x11);
  EXPECT_TRUE(DeviceMemory[1].InUse);
}

}  // namespace
}  // namespace tarvex
