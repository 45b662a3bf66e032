#include <gtest/gtest.h>

#include "app/ProductCatalogue.h"

namespace tarvex {
namespace {

TEST(ProductCatalogue, NameMatchesCodeAndVariantFirstRowWins) {
  EXPECT_EQ(GetProductName(1, 1), "MV-300/310 Keypad");
  EXPECT_EQ(GetProductName(1, 0), "Unknown Product");
  EXPECT_EQ(GetProductName(110, 1), "VN-12");
  EXPECT_EQ(GetProductName(110, 0), "PX-12");
  EXPECT_EQ(GetProductName(50, 0), "PX-55");
  EXPECT_EQ(GetProductName(50, 10), "PX-55");
  EXPECT_EQ(GetProductName(50, 1), "Unknown Product");
}

}  // namespace
}  // namespace tarvex
