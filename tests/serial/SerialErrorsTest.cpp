// Result codes to exceptions and messages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "serial/SerialErrors.h"

namespace tarvex {
namespace {

// What RaiseSerialError threw, when it was of class E.
struct Caught {
  int code = 0x7FFFFFFF;
  std::string text;
  int ErrorCode() const { return code; }
  const char* what() const { return text.c_str(); }
};

template <class E>
Caught Raised(int code) {
  try {
    RaiseSerialError(code);
  } catch (const E& e) {
    return Caught{e.ErrorCode(), e.what()};
  } catch (...) {
  }
  ADD_FAILURE() << "code " << code << " did not raise the expected class";
  return {};
}

TEST(RaiseSerialError, SuccessAndCountsAreReturned) {
  EXPECT_EQ(0, RaiseSerialError(0));
  EXPECT_EQ(57, RaiseSerialError(57));
  EXPECT_EQ(-2001, RaiseSerialError(-2001, /*componentLoading=*/true));
}

TEST(RaiseSerialError, OpenFailuresAreOpenCommClasses) {
  const Caught badId = Raised<EBadId>(-2001);
  EXPECT_EQ(-2001, badId.ErrorCode());
  EXPECT_STREQ("ie_BadId - Specified comport doesn't exist", badId.what());
  EXPECT_EQ(-2008, Raised<EOpenComm>(-2008).ErrorCode());
  EXPECT_STREQ("ie_Open - device already open", Raised<EAlreadyOpen>(-2008).what());
  EXPECT_STREQ("ie_NOpen - device not open", Raised<ECommNotOpen>(-2007).what());
  EXPECT_STREQ("The ComNumber property of the TSerComPort has not been set",
               Raised<ENoPortSelected>(-2011).what());
  EXPECT_STREQ("No device layer specified", Raised<ENullApi>(-3001).what());
  EXPECT_EQ(-2001, Raised<ESerialException>(-2001).ErrorCode());
}

TEST(RaiseSerialError, SystemErrorsBecomeInOutErrorsWithPositiveCodes) {
  const Caught denied = Raised<EInOutError>(-5);
  EXPECT_EQ(5, denied.ErrorCode());
  EXPECT_STREQ("File access denied", denied.what());
  const Caught read = Raised<EInOutError>(-161);
  EXPECT_EQ(161, read.ErrorCode());
  EXPECT_STREQ("Device read error", read.what());
  EXPECT_STREQ("Device write error", Raised<EInOutError>(-160).what());
  EXPECT_THROW(RaiseSerialError(-8), std::bad_alloc);
  // Not in the table: the platform's own words, on one line.
  const Caught other = Raised<EInOutError>(-31);
  EXPECT_EQ(31, other.ErrorCode());
  EXPECT_FALSE(std::string(other.what()).empty());
}

TEST(RaiseSerialError, WorkerThreadCodesAndLeafClasses) {
  const Caught noMem = Raised<ETapiNoMem>(-13868);
  EXPECT_STREQ("No memory", noMem.what());
  EXPECT_EQ(-13868, Raised<ETapi>(-13868).ErrorCode());
  EXPECT_EQ(-7003, Raised<EInternal>(-7003).ErrorCode());
  EXPECT_EQ(-7012, Raised<EInternal>(-7012).ErrorCode());
  EXPECT_EQ(-7006, Raised<EGeneral>(-7006).ErrorCode());
  EXPECT_EQ(-7001, Raised<EINI>(-7001).ErrorCode());
  EXPECT_EQ(-4008, Raised<EModem>(-4008).ErrorCode());
  EXPECT_EQ(-6008, Raised<EProtocol>(-6008).ErrorCode());
  EXPECT_EQ(-8070, Raised<EFax>(-8070).ErrorCode());
  EXPECT_EQ(-13942, Raised<ETapi>(-13942).ErrorCode());
  EXPECT_EQ(-13980, Raised<ERas>(-13980).ErrorCode());
  EXPECT_STREQ("Buffer is empty", Raised<EBufferIsEmpty>(-3007).what());
  EXPECT_STREQ("No more trigger slots", Raised<ENoMoreTriggers>(-5001).what());
  EXPECT_STREQ("Bad trigger handle", Raised<EBadTriggerHandle>(-5003).what());
}

TEST(RaiseSerialError, CodesWithoutAClassGiveTheFallback) {
  for (int code : {-1167, -1001, -3002, -4009, -5501, -6001, -7009, -7500, -8006, -13804, -13849, -13933, -1,
                   -163, -99999}) {
    const Caught e = Raised<ESerialException>(code);
    EXPECT_EQ(0, e.ErrorCode()) << code;
    EXPECT_STREQ("Vuno exception", e.what()) << code;
  }
}

TEST(SerialErrorText, TableIsSortedByAbsoluteCodeWithoutDuplicates) {
  std::size_t count = 0;
  const TSerialMessageEntry* table = SerialMessageTable(count);
  ASSERT_EQ(898u, count);
  for (std::size_t i = 1; i < count; ++i) {
    EXPECT_LT(std::abs(table[i - 1].Code), std::abs(table[i].Code)) << "row " << i;
  }
  // Every row is found by the halving search.
  for (std::size_t i = 0; i < count; ++i) {
    EXPECT_EQ(table[i].Text, SerialErrorText(table[i].Code));
    EXPECT_FALSE(std::string(table[i].Text).empty());
  }
}

TEST(SerialErrorText, LooksUpByAbsoluteValueAndFallsBackToThePlatform) {
  EXPECT_EQ("OK", SerialErrorText(0));
  EXPECT_EQ("Output buffer too small for block", SerialErrorText(3006));
  EXPECT_EQ("Output buffer too small for block", SerialErrorText(-3006));
  const std::string platform = SerialErrorText(31);
  EXPECT_FALSE(platform.empty());
  for (char c : platform) EXPECT_GE(static_cast<unsigned char>(c), 32);
  EXPECT_EQ(std::string::npos, platform.find("  "));
  EXPECT_EQ("", SerialErrorText(987654));
  EXPECT_EQ(2001, ESerialException::MapCodeToStringID(-2001));
}

}  // namespace
}  // namespace tarvex
