#include <gtest/gtest.h>

#include "core/ProductCatalogue.h"

namespace tarvex {
namespace {

TProductInfo Product(std::uint8_t code, int major, int minor) {
  TProductInfo p;
  p.ProductCode = code;
  p.Major = major;
  p.Minor = minor;
  return p;
}

TEST(ProductCatalogue, NameMatchesCodeAndVariantFirstRowWins) {
  EXPECT_EQ(GetProductName(1, 1), "MV-300/310 Keypad");
  EXPECT_EQ(GetProductName(1, 0), "Unknown Product");
  EXPECT_EQ(GetProductName(110, 1), "VN-12");
  EXPECT_EQ(GetProductName(110, 0), "PX-12");
  EXPECT_EQ(GetProductName(120, 1), "VN-22");
  EXPECT_EQ(GetProductName(120, 0), "PX-22");
  EXPECT_EQ(GetProductName(50, 0), "PX-55");
  EXPECT_EQ(GetProductName(50, 10), "PX-55");
  EXPECT_EQ(GetProductName(50, 1), "Unknown Product");
}

TEST(ProductCatalogue, OtherLookupsIgnoreTheVariant) {
  // Code 110 has two rows; family, minimum and memory size are the same whichever is meant.
  EXPECT_EQ(GetProductFamily(110), 10);
  EXPECT_EQ(GetMinVersion(110), 100);
  EXPECT_EQ(GetMemSize(110), 5);
  // Code 60 shares family 10 with the VN/PX panels although its code differs.
  EXPECT_EQ(GetProductFamily(60), 10);
  EXPECT_EQ(GetMinVersion(60), 432);
  EXPECT_EQ(GetMemSize(25), 2);
  EXPECT_EQ(GetMemSize(1), 1);
  EXPECT_EQ(GetMemSize(102), 1);
}

TEST(ProductCatalogue, UnknownCodeGetsTheFallbacks) {
  EXPECT_EQ(GetProductName(3, 0), "Unknown Product");
  EXPECT_EQ(GetProductFamily(3), -1);
  EXPECT_EQ(GetMinVersion(3), -1);
  EXPECT_EQ(GetMemSize(3), 0);
  EXPECT_FALSE(RemoteFlashSupported(Product(3, 9, 99)));
  EXPECT_EQ(GetProductFamily(0), -1);
  EXPECT_EQ(GetProductFamily(256), -1);  // wider than a product code: no row
}

TEST(ProductCatalogue, RemoteFlashMinimumVersion) {
  EXPECT_FALSE(RemoteFlashSupported(Product(105, 5, 9)));
  EXPECT_TRUE(RemoteFlashSupported(Product(105, 5, 10)));
  EXPECT_TRUE(RemoteFlashSupported(Product(105, 6, 0)));
  EXPECT_FALSE(RemoteFlashSupported(Product(2, 1, 20)));
  EXPECT_TRUE(RemoteFlashSupported(Product(2, 1, 21)));
}

TEST(ProductCatalogue, RowsInTableOrder) {
  ASSERT_EQ(ProductDefs.size(), 22u);
  EXPECT_STREQ(ProductDefs[0].Name, "MV-300/310 Keypad");
  EXPECT_STREQ(ProductDefs[9].Name, "PX-12");
  EXPECT_EQ(ProductDefs[17].Variant, 10);
  EXPECT_STREQ(ProductDefs[21].Name, "PX-222");
  for (const auto& row : ProductDefs) {
    EXPECT_NE(MemSizePages(row.MemSize), 0u) << row.Name;
  }
}

TEST(ProductCatalogue, PeripheralProducts) {
  for (int code : {1, 2, 7, 102, 105}) EXPECT_TRUE(IsPeripheralProduct(static_cast<std::uint8_t>(code)));
  for (int code : {0, 3, 25, 50, 60, 110, 200}) {
    EXPECT_FALSE(IsPeripheralProduct(static_cast<std::uint8_t>(code)));
  }
}

TEST(ProductCatalogue, MemorySizeCodes) {
  EXPECT_EQ(MemSizePages(1), 128u);
  EXPECT_EQ(MemSizePages(2), 192u);
  EXPECT_EQ(MemSizePages(3), 256u);
  EXPECT_EQ(MemSizePages(4), 384u);
  EXPECT_EQ(MemSizePages(5), 512u);
  EXPECT_EQ(MemSizePages(0), 0u);
  EXPECT_EQ(MemSizePages(6), 0u);
  EXPECT_EQ(MemSizePages(0x85), 512u);  // only the low 7 bits count
  EXPECT_EQ(VerifyLimit(1, 0), 0x0803F800u);
  EXPECT_EQ(VerifyLimit(2, 25), 0x0805F800u);
  EXPECT_EQ(VerifyLimit(5, 105), 0x0807F000u);
  EXPECT_EQ(VerifyLimit(5, 110), 0x080E0000u);
  // Codes 3 and 4 stop at their last page, like codes 1 and 2.
  EXPECT_EQ(VerifyLimit(3, 0), kFlashBase + (256 - 1) * kPageSize);
  EXPECT_EQ(VerifyLimit(4, 0), kFlashBase + (384 - 1) * kPageSize);
}

}  // namespace
}  // namespace tarvex
