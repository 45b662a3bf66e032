// The tick clock, tick timers and the waits that keep messages flowing.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "serial/FakeDevice.h"
#include "serial/PlainMessagePump.h"
#include "serial/Ticks.h"
#include "support/FastClock.h"

namespace tarvex::test {
namespace {

using namespace std::chrono_literals;

class TicksTest : public ::testing::Test {
 protected:
  void SetUp() override { SetTickClock(&clock); }
  void TearDown() override {
    SetTickClock(nullptr);
    SetUiMessagePump(nullptr);
  }
  StepClock clock;
};

TEST_F(TicksTest, EighteenTicksEndBetween990And1045Ms) {
  for (std::uint32_t offset = 0; offset < 55; ++offset) {
    const std::uint32_t start = 55u * 100u + offset;
    clock.Set(start);
    TTickTimer t;
    StartTickTimer(t, 18);
    clock.Set(start + 990);
    EXPECT_FALSE(TickTimerExpired(t)) << offset;
    clock.Set(start + 1045);
    EXPECT_TRUE(TickTimerExpired(t)) << offset;
  }
}

TEST_F(TicksTest, TimerSpanningTheCounterWrapStillExpiresAfterItsPeriod) {
  const std::uint32_t start = 0xFFFFFFFFu - 100u;
  clock.Set(start);
  TTickTimer t;
  StartTickTimer(t, 18);
  clock.Set(start + 500u);  // wraps past zero
  EXPECT_LT(clock.Milliseconds(), start);
  EXPECT_FALSE(TickTimerExpired(t));
  EXPECT_GT(TickTimerRemaining(t), 0);
  EXPECT_LE(TickTimerRemaining(t), 18);
  clock.Set(start + 989u);
  EXPECT_FALSE(TickTimerExpired(t));
  clock.Set(start + 1045u + 55u);
  EXPECT_TRUE(TickTimerExpired(t));
  EXPECT_EQ(0, TickTimerRemaining(t));
}

TEST_F(TicksTest, RemainingCountsDownAndNeverGoesNegative) {
  clock.Set(55u * 1000u);
  TTickTimer t;
  StartTickTimer(t, 36);
  EXPECT_EQ(36, TickTimerRemaining(t));
  clock.Advance(10 * 55);
  EXPECT_EQ(26, TickTimerRemaining(t));
  clock.Advance(100 * 55);
  EXPECT_EQ(0, TickTimerRemaining(t));
  StartTickTimer(t, 0x7FFFFFFF);
  EXPECT_EQ(static_cast<std::uint32_t>(MaxTimerTicks), t.ExpireTick - t.StartTick);
}

TEST_F(TicksTest, WaitTicksOfZeroReturnsAtOnce) {
  TPlainMessagePump pump;
  SetUiMessagePump(&pump);
  bool ran = false;
  pump.Post([&] { ran = true; });
  EXPECT_EQ(0, WaitTicks(0, true));
  EXPECT_EQ(0, WaitTicks(-3, true));
  EXPECT_FALSE(ran);
}

TEST_F(TicksTest, WaitTicksHandlesMessagesAndEndsWithTheTimer) {
  FastClock fast(50);
  SetTickClock(&fast);
  TPlainMessagePump pump;
  SetUiMessagePump(&pump);
  int handled = 0;
  std::thread poster([&] {
    for (int i = 0; i < 5; ++i) pump.Post([&] { ++handled; });
  });
  poster.join();
  const std::uint32_t before = fast.Milliseconds();
  WaitTicks(36, true);
  const std::uint32_t waited = fast.Milliseconds() - before;
  EXPECT_EQ(5, handled);
  EXPECT_GE(waited, 1980u);
}

TEST_F(TicksTest, WaitTicksKeepsToItsPeriodOnTheRealClock) {
  SetTickClock(nullptr);
  TPlainMessagePump pump;
  SetUiMessagePump(&pump);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, WaitTicks(4, true));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 220ms);
  EXPECT_LT(waited, 1000ms);
  const auto start2 = std::chrono::steady_clock::now();
  WaitTicks(2, false);
  EXPECT_GE(std::chrono::steady_clock::now() - start2, 110ms);
}

TEST_F(TicksTest, AQuitRequestEndsTheWaitAndTheLoopStillEnds) {
  TPlainMessagePump pump;
  SetUiMessagePump(&pump);
  pump.Post([&] { pump.Quit(7); });
  // The step clock never moves: only the quit can end this wait.
  EXPECT_EQ(WM_QUIT, WaitTicks(36, true));
  EXPECT_EQ(WM_QUIT, PumpOneMessage());
  EXPECT_EQ(7, pump.Run());
}

}  // namespace
}  // namespace tarvex::test
