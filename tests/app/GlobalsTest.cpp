#include <gtest/gtest.h>

#include "core/Globals.h"

namespace tarvex {
namespace {

TEST(Switches, ComparedExactlyInAnyOrder) {
  EXPECT_FALSE(ParseSwitches({}).ManualMode);
  const auto both = ParseSwitches({"foo", "/NV", "bar", "/M"});
  EXPECT_TRUE(both.ManualMode);
  EXPECT_TRUE(both.NoVerify);
  const auto wrong = ParseSwitches({"/m", "-M", "/nv", "/M ", "M", "/NV2"});
  EXPECT_FALSE(wrong.ManualMode);
  EXPECT_FALSE(wrong.NoVerify);
  EXPECT_TRUE(ParseSwitches({"/M"}).ManualMode);
  EXPECT_FALSE(ParseSwitches({"/M"}).NoVerify);
}

TEST(ProductInfo, ShortStringLimits) {
  TProductInfo p;
  p.SetSerialNo("0123456789ABCDEFXYZ");
  EXPECT_EQ(p.SerialNo, "0123456789ABCDEF");
  p.SetUniqueID(std::string(20, '\x01'));
  EXPECT_EQ(p.UniqueID.size(), 12u);
  p.Major = 4;
  p.Minor = 62;
  EXPECT_EQ(p.VersionNumber(), 462);
}

TEST(Formatting, VersionsAndLocaleDecimals) {
  EXPECT_EQ(FormatVersion(1, 5), "1.05");
  EXPECT_EQ(FormatVersion(2, 12), "2.12");
  SetDecimalSeparator('.');
  EXPECT_EQ(FormatFloat2(510 / 100.0), "5.10");
  SetDecimalSeparator(',');
  EXPECT_EQ(FormatFloat2(462 / 100.0), "4,62");
  SetDecimalSeparator('.');
  EXPECT_EQ(Format("Page %d Erased", 12), "Page 12 Erased");
  EXPECT_EQ(Format("%.4X", 0x805F800u), "805F800");
}

}  // namespace
}  // namespace tarvex
