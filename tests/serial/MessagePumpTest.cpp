// The plain message pump: posts from any thread, sends with a time-out, quitting.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "serial/PlainMessagePump.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;

bool PumpUntil(TPlainMessagePump& pump, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    if (pump.PumpOne() == 0) pump.WaitForMessage(std::chrono::steady_clock::now() + 1ms);
  }
  return true;
}

TEST(PlainMessagePump, PostedMessagesRunOnTheOwnerInOrderAndFreeWhatTheyCarry) {
  TPlainMessagePump pump;
  std::string got;
  std::thread::id ranOn;
  auto frame = std::make_shared<std::string>("frame");
  std::weak_ptr<std::string> watch = frame;
  std::thread worker([&, owned = std::move(frame)]() mutable {
    pump.Post([&, f = std::move(owned)] {
      got += *f;
      ranOn = std::this_thread::get_id();
    });
    pump.Post([&] { got += "!"; });
  });
  worker.join();
  EXPECT_FALSE(watch.expired());
  EXPECT_EQ(1, pump.PumpOne());
  EXPECT_TRUE(watch.expired()) << "freed once handled";
  EXPECT_EQ(1, pump.PumpOne());
  EXPECT_EQ(0, pump.PumpOne());
  EXPECT_EQ("frame!", got);
  EXPECT_EQ(std::this_thread::get_id(), ranOn);
}

// What a message throws reaches the error report (as a click's would), posted or sent, and the
// pump goes on with the next message.
TEST(PlainMessagePump, NothingAMessageThrowsLeavesThePump) {
  TPlainMessagePump pump;
  std::vector<std::string> reported;
  pump.SetErrorReport([&](const std::exception& e) { reported.emplace_back(e.what()); });
  bool after = false;
  pump.Post([] { throw std::runtime_error("posted"); });
  pump.Post([] { throw 42; });
  pump.Post([&] { after = true; });
  std::thread sender([&] { pump.Send([] { throw std::runtime_error("sent"); }, 5s); });
  EXPECT_TRUE(PumpUntil(pump, [&] { return after && reported.size() == 3; }));
  sender.join();
  std::sort(reported.begin(), reported.end());
  EXPECT_EQ(reported, (std::vector<std::string>{"An unexpected error occurred", "posted", "sent"}));
}

TEST(PlainMessagePump, UnhandledPostsAreFreedWithThePump) {
  auto frame = std::make_shared<int>(1);
  std::weak_ptr<int> watch = frame;
  {
    TPlainMessagePump pump;
    pump.Post([f = std::move(frame)] { (void)f; });
  }
  EXPECT_TRUE(watch.expired());
}

TEST(PlainMessagePump, OnlyTheOwnerPumps) {
  TPlainMessagePump pump;
  std::atomic<bool> ran{false};
  pump.Post([&] { ran = true; });
  int fromOther = -1;
  std::thread other([&] { fromOther = pump.PumpOne(); });
  other.join();
  EXPECT_EQ(0, fromOther);
  EXPECT_FALSE(ran);
  EXPECT_EQ(1, pump.PumpOne());
  EXPECT_TRUE(ran);
}

TEST(PlainMessagePump, SendWaitsForTheHandlingAndComesBeforePosts) {
  TPlainMessagePump pump;
  std::string order;
  pump.Post([&] { order += "post;"; });
  std::atomic<int> sendResult{-1};
  std::thread worker([&] { sendResult = pump.Send([&] { order += "send;"; }, 3000ms) ? 1 : 0; });
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (pump.Pending() < 2 && std::chrono::steady_clock::now() < deadline) {
    pump.WaitForMessage(std::chrono::steady_clock::now() + 1ms);
  }
  ASSERT_EQ(2u, pump.Pending());
  ASSERT_TRUE(PumpUntil(pump, [&] { return order.find("send;") != std::string::npos; }));
  worker.join();
  EXPECT_EQ(1, sendResult.load());
  EXPECT_EQ("send;", order.substr(0, 5));
}

TEST(PlainMessagePump, SendNotTakenInTimeIsDroppedAndReportsFalse) {
  TPlainMessagePump pump;
  bool ran = false;
  bool result = true;
  std::thread worker([&] { result = pump.Send([&] { ran = true; }, 50ms); });
  worker.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(0, pump.PumpOne()) << "a send given up on is not handled later";
  EXPECT_FALSE(ran);
}

TEST(PlainMessagePump, SendWhoseHandlerOverrunsReturnsButTheHandlerFinishes) {
  TPlainMessagePump pump;
  std::atomic<bool> senderBack{false};
  bool finished = false;
  bool result = true;
  std::thread worker([&] {
    result = pump.Send(
        [&] {
          // Like a modal box: keep pumping until the sender has given up.
          PumpUntil(pump, [&] { return senderBack.load(); });
          finished = true;
        },
        50ms);
    senderBack = true;
  });
  ASSERT_TRUE(PumpUntil(pump, [&] { return finished; }));
  worker.join();
  EXPECT_FALSE(result);
  EXPECT_TRUE(finished);
}

TEST(PlainMessagePump, SendFromTheOwnerRunsAtOnce) {
  TPlainMessagePump pump;
  bool ran = false;
  EXPECT_TRUE(pump.Send([&] { ran = true; }, 10ms));
  EXPECT_TRUE(ran);
}

TEST(PlainMessagePump, SendersAreReleasedWhenThePumpGoes) {
  auto pump = std::make_unique<TPlainMessagePump>();
  bool result = true;
  std::thread worker([&] { result = pump->Send([] {}, 10000ms); });
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (pump->Pending() == 0 && std::chrono::steady_clock::now() < deadline) {
    pump->WaitForMessage(std::chrono::steady_clock::now() + 1ms);
  }
  ASSERT_EQ(1u, pump->Pending());
  const auto start = std::chrono::steady_clock::now();
  pump.reset();
  worker.join();
  EXPECT_FALSE(result);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(PlainMessagePump, QuitStaysPendingAndRunReturnsItsCode) {
  TPlainMessagePump pump;
  int ran = 0;
  pump.Post([&] { ++ran; });
  pump.Post([&] { pump.Quit(3); });
  pump.Post([&] { ++ran; });
  EXPECT_EQ(3, pump.Run());
  EXPECT_EQ(1, ran) << "the loop ends at the quit request";
  EXPECT_EQ(WM_QUIT, pump.PumpOne());
  EXPECT_EQ(WM_QUIT, pump.PumpOne());
  std::thread other([&] { pump.Quit(9); });
  other.join();
  EXPECT_EQ(3, pump.ExitCode()) << "the first request decides";
}

}  // namespace
}  // namespace tarvex
