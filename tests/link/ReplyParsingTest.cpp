// Decoding of identity, serial number and NVM lock replies.
#include <gtest/gtest.h>

#include "link/ReplyParsing.h"

namespace tarvex {
namespace {

class ReplyParsing : public ::testing::Test {
 protected:
  void SetUp() override { ProductInfo = TProductInfo{}; }
  void TearDown() override { ProductInfo = TProductInfo{}; }
};

ByteString Identity(std::size_t len, std::uint8_t code, std::size_t idOffset, const ByteString& id) {
  ByteString d(len, '\0');
  d[0] = 4;
  d[1] = 62;
  d[2] = 'G';
  d[3] = 9;
  d[4] = static_cast<char>(0xFF);
  d[5] = static_cast<char>(code);
  d.replace(idOffset, id.size(), id);
  return d;
}

const ByteString kId = "ABCDEFGHIJKL";

TEST_F(ReplyParsing, PeripheralShortLayout) {
  ProductInfo.NvmLocked = true;
  ParsePanelInfo(Identity(18, 1, 6, kId));
  EXPECT_EQ(ProductInfo.Major, 4);
  EXPECT_EQ(ProductInfo.Minor, 62);
  EXPECT_EQ(ProductInfo.Micro, 'G');
  EXPECT_EQ(ProductInfo.Spare, 9);
  EXPECT_EQ(ProductInfo.Variant, 0);  // 0xFF reads as 0
  EXPECT_EQ(ProductInfo.ProductCode, 1);
  EXPECT_EQ(ProductInfo.UniqueID, kId);
  EXPECT_EQ(ProductInfo.SerialNo, "-------");
  EXPECT_FALSE(ProductInfo.NvmLocked);
  EXPECT_EQ(FormatUniqueID(ProductInfo.UniqueID), "414243-444546-474849-4A4B4C");
}

TEST_F(ReplyParsing, PanelLongLayoutLeavesTheSerialNumber) {
  ProductInfo.SerialNo = "kept";
  ParsePanelInfo(Identity(34, 120, 14, kId));
  EXPECT_EQ(ProductInfo.ProductCode, 120);
  EXPECT_EQ(ProductInfo.UniqueID, kId);
  EXPECT_EQ(ProductInfo.SerialNo, "kept");
}

TEST_F(ReplyParsing, UniqueIdIsTrimmedAndErasedIdsAreEmpty) {
  ByteString padded = kId;
  padded[0] = '\x05';
  padded[11] = ' ';
  ParsePanelInfo(Identity(18, 2, 6, padded));
  EXPECT_EQ(ProductInfo.UniqueID, kId.substr(1, 10));
  EXPECT_EQ(FormatUniqueID(ProductInfo.UniqueID), "Not Available");

  ByteString erased(12, static_cast<char>(0xFF));
  ParsePanelInfo(Identity(18, 2, 6, erased));
  EXPECT_TRUE(ProductInfo.UniqueID.empty());

  ParsePanelInfo(Identity(18, 2, 6, ByteString(12, ' ')));
  EXPECT_TRUE(ProductInfo.UniqueID.empty());
}

TEST_F(ReplyParsing, OtherLengthsKeepTheUniqueId) {
  ProductInfo.UniqueID = "old";
  ParsePanelInfo(Identity(20, 1, 6, kId));  // peripheral, not 18 bytes
  EXPECT_EQ(ProductInfo.UniqueID, "old");
  ParsePanelInfo(Identity(18, 120, 6, kId));  // panel, not 34 bytes
  EXPECT_EQ(ProductInfo.UniqueID, "old");
}

TEST_F(ReplyParsing, ShortIdentityReadsAsUnknownProduct) {
  ParsePanelInfo(Identity(34, 120, 14, kId));
  ParsePanelInfo(ByteString(13, '\x07'));
  EXPECT_EQ(ProductInfo.Major, 0);
  EXPECT_EQ(ProductInfo.ProductCode, 0);
  EXPECT_EQ(ProductInfo.Micro, 0);
  EXPECT_EQ(ProductInfo.SerialNo, "-------");
  EXPECT_EQ(ProductInfo.UniqueID, kId);  // kept
  EXPECT_EQ(ProductInfo.Family, 0xFF);
  ParsePanelInfo(ByteString());
  EXPECT_EQ(ProductInfo.ProductCode, 0);
}

TEST_F(ReplyParsing, SerialNumber) {
  ParseSerialNo("SN0000000000123X");
  EXPECT_EQ(ProductInfo.SerialNo, "SN0000000000123X");
  ParseSerialNo(ByteString(16, static_cast<char>(0xFF)));
  EXPECT_EQ(ProductInfo.SerialNo, "--------");
  ParseSerialNo("short");
  EXPECT_EQ(ProductInfo.SerialNo, "-------");
  ParseSerialNo(ByteString(17, 'a'));
  EXPECT_EQ(ProductInfo.SerialNo, "-------");
}

TEST_F(ReplyParsing, NvmLockIsBitSixOfTheSecondByte) {
  ParseNvmLock(ByteString("\x00\x40", 2));
  EXPECT_TRUE(ProductInfo.NvmLocked);
  ParseNvmLock(ByteString("\x00\xBF", 2));
  EXPECT_FALSE(ProductInfo.NvmLocked);
  ProductInfo.NvmLocked = true;
  ParseNvmLock(ByteString("\x40", 1));
  EXPECT_FALSE(ProductInfo.NvmLocked);
  ParseNvmLock(ByteString("\x00\x40\x00", 3));
  EXPECT_FALSE(ProductInfo.NvmLocked);
}

TEST_F(ReplyParsing, FormatUniqueIdGroupsOfSixDigits) {
  EXPECT_EQ(FormatUniqueID(ByteString("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C", 12)),
            "010203-040506-070809-0A0B0C");
  EXPECT_EQ(FormatUniqueID(ByteString(12, static_cast<char>(0xAB))), "ABABAB-ABABAB-ABABAB-ABABAB");
  EXPECT_EQ(FormatUniqueID(""), "Not Available");
  EXPECT_EQ(FormatUniqueID(ByteString(11, 'a')), "Not Available");
}

}  // namespace
}  // namespace tarvex
