// The message pump over Qt's event loop: deliveries from worker threads, sends with time-outs,
// the nested loops of modal boxes, and quitting.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "GuiSupport.h"
#include "gui/QtMessagePump.h"
#include "gui/QtServices.h"
#include "serial/Ticks.h"

namespace tarvex::test {
namespace {

using namespace std::chrono_literals;

class QtPumpTest : public ::testing::Test {
 protected:
  void SetUp() override { App(); }
};

TEST_F(QtPumpTest, PostsFromWorkersRunOnTheGuiThreadInOrder) {
  TQtMessagePump pump;
  const auto gui = std::this_thread::get_id();
  std::vector<int> order;
  bool allOnGui = true;
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) {
      pump.Post([&, i] {
        order.push_back(i);
        allOnGui = allOnGui && std::this_thread::get_id() == gui;
      });
    }
  });
  worker.join();
  ASSERT_TRUE(WaitUntil([&] { return order.size() == 50; }));
  EXPECT_TRUE(allOnGui);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
  EXPECT_EQ(pump.Pending(), 0U);
}

TEST_F(QtPumpTest, SendBlocksTheWorkerUntilTheGuiThreadHasRunIt) {
  TQtMessagePump pump;
  int value = 0;
  std::thread::id ranOn;
  std::promise<std::pair<bool, int>> result;
  std::thread worker([&] {
    const bool handled = pump.Send(
        [&] {
          value = 42;
          ranOn = std::this_thread::get_id();
        },
        3000ms);
    result.set_value({handled, value});  // read after Send returned: must see the handler's write
  });
  auto future = result.get_future();
  ASSERT_TRUE(WaitUntil([&] { return future.wait_for(0s) == std::future_status::ready; }));
  worker.join();
  const auto [handled, seen] = future.get();
  EXPECT_TRUE(handled);
  EXPECT_EQ(seen, 42);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(QtPumpTest, SendGivesUpWhenTheGuiThreadDoesNotPumpAndTheMessageNeverRuns) {
  TQtMessagePump pump;
  std::atomic<bool> ran{false};
  // The GUI thread waits for the worker without handling events, as a busy handler would.
  auto handled = std::async(std::launch::async, [&] { return pump.Send([&] { ran = true; }, 100ms); });
  EXPECT_FALSE(handled.get());
  QCoreApplication::processEvents();
  EXPECT_EQ(pump.PumpOne(), 0);
  EXPECT_FALSE(ran);
}

TEST_F(QtPumpTest, SendOnTheGuiThreadRunsAtOnce) {
  TQtMessagePump pump;
  bool ran = false;
  EXPECT_TRUE(pump.Send([&] { ran = true; }, 0ms));
  EXPECT_TRUE(ran);
}

TEST_F(QtPumpTest, PumpOneTakesOneMessageAndReportsQuit) {
  TQtMessagePump pump;
  int runs = 0;
  EXPECT_EQ(pump.PumpOne(), 0);
  pump.Post([&] { ++runs; });
  pump.Post([&] { ++runs; });
  EXPECT_NE(pump.PumpOne(), 0);
  EXPECT_EQ(runs, 1);
  pump.Quit(3);
  EXPECT_EQ(pump.PumpOne(), WM_QUIT);
  EXPECT_EQ(pump.PumpOne(), WM_QUIT);  // stays pending
  EXPECT_TRUE(pump.QuitRequested());
  // The application's loop ends with the code.
  EXPECT_EQ(QApplication::exec(), 3);
}

TEST_F(QtPumpTest, PumpOneOffTheGuiThreadTakesNothing) {
  TQtMessagePump pump;
  pump.Post([] {});
  int taken = -1;
  std::thread([&] { taken = pump.PumpOne(); }).join();
  EXPECT_EQ(taken, 0);
  EXPECT_EQ(pump.Pending(), 1U);
}

TEST_F(QtPumpTest, WaitForMessageReturnsWhenAWorkerPosts) {
  TQtMessagePump pump;
  bool ran = false;
  std::thread worker([&] { pump.Post([&] { ran = true; }); });
  // A far deadline: only the message can end the wait in time for the test's own deadline.
  pump.WaitForMessage(std::chrono::steady_clock::now() + 60s);
  worker.join();
  WaitUntil([&] { return ran; });
  EXPECT_TRUE(ran);
}

TEST_F(QtPumpTest, WaitForMessageEndsAtTheDeadlineWithoutMessages) {
  TQtMessagePump pump;
  const auto deadline = std::chrono::steady_clock::now() + 50ms;
  pump.WaitForMessage(deadline);
  EXPECT_GE(std::chrono::steady_clock::now(), deadline);
}

TEST_F(QtPumpTest, WaitTicksHandlesMessagesWhileWaiting) {
  TQtMessagePump pump;
  SetUiMessagePump(&pump);
  int runs = 0;
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) pump.Post([&] { ++runs; });
  });
  WaitTicks(2, true);
  worker.join();
  SetUiMessagePump(nullptr);
  WaitUntil([&] { return runs == 3; });
  EXPECT_EQ(runs, 3);
}

TEST_F(QtPumpTest, MessagesKeepArrivingWhileAModalBoxWaits) {
  TQtMessagePump pump;
  TQtMessageBoxes boxes;
  std::atomic<bool> delivered{false};
  bool deliveredBeforeOk = false;
  std::thread worker;
  ModalAnswerer answerer;
  answerer.answer = [&](QWidget* modal) {
    if (!worker.joinable()) {
      // A serial event arrives from a worker while the box is up.
      worker = std::thread([&] { pump.Send([&] { delivered = true; }, 3000ms); });
      return false;
    }
    if (!delivered) return false;
    deliveredBeforeOk = true;
    static_cast<QMessageBox*>(modal)->button(QMessageBox::Ok)->click();
    return true;
  };
  boxes.Show(TMsgKind::mkWarning, "Waiting");
  worker.join();
  EXPECT_TRUE(deliveredBeforeOk);
  ASSERT_EQ(answerer.seen.size(), 1U);
  EXPECT_TRUE(answerer.seen[0].modal);
}

}  // namespace
}  // namespace tarvex::test
