// The message pump on a hidden window: posts from any thread run on the owner in order through the
// system's message loop, a worker's send waits for the handling or gives up at its time-out, what
// a message throws reaches the error report, and a quit ends the loop.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include "serial/Win32MessagePump.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;

TEST(Win32MessagePump, PostsAndSendsRunOnTheOwnerThroughTheSystemLoop) {
  TWin32MessagePump pump;
  ASSERT_NE(pump.Window(), 0u);
  const auto owner = std::this_thread::get_id();
  std::string order;
  bool onOwner = true;
  std::vector<std::string> reported;
  pump.SetErrorReport([&](const std::exception& e) { reported.emplace_back(e.what()); });
  std::atomic<bool> sentHandled{false};
  std::thread worker([&] {
    pump.Post([&] { order += "a"; });
    pump.Post([] { throw std::runtime_error("from a message"); });
    pump.Post([&] { order += "b"; });
    sentHandled = pump.Send(
        [&] {
          order += "s";
          onOwner = onOwner && std::this_thread::get_id() == owner;
        },
        5s);
    pump.Post([&] { pump.Quit(7); });  // after the posts before it
  });
  EXPECT_EQ(pump.Run(), 7);
  worker.join();
  EXPECT_TRUE(sentHandled);
  EXPECT_TRUE(onOwner);
  EXPECT_EQ(order.find('a') < order.find('b'), true);
  EXPECT_EQ(order.size(), 3u);
  EXPECT_EQ(reported, std::vector<std::string>{"from a message"});
}

TEST(Win32MessagePump, ASendNobodyHandlesGivesUpAtItsTimeOut) {
  TWin32MessagePump pump;
  bool ran = false;
  bool handled = true;
  std::thread worker([&] { handled = pump.Send([&] { ran = true; }, 100ms); });
  worker.join();  // the owner never pumps meanwhile
  EXPECT_FALSE(handled);
  while (pump.PumpOne() != 0) {
  }
  EXPECT_FALSE(ran);  // cancelled, never run late
  // WaitForMessage returns at once for a message that is there, and at its deadline otherwise.
  pump.Post([] {});
  const auto start = std::chrono::steady_clock::now();
  pump.WaitForMessage(start + 2s);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(pump.PumpOne(), 1);
}

}  // namespace
}  // namespace tarvex
