// The dispatcher against an in-memory device: data-available and timer triggers as the handlers
// on the user-interface thread (this test's thread) see them, the rings, and closing.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/Dispatcher.h"
#include "serial/FakeDevice.h"
#include "serial/PlainMessagePump.h"
#include "serial/SerialErrors.h"

namespace tarvex::test {
namespace {

using namespace std::chrono_literals;

std::string Pattern(std::size_t n, int seed = 0) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>((i * 7 + static_cast<std::size_t>(seed)) % 251);
  return s;
}

class DispatcherTest : public ::testing::Test {
 protected:
  struct Event {
    std::uint32_t msg = 0;
    std::uint32_t wParam = 0;
    std::int32_t lParam = 0;
    std::string taken;
  };

  void SetUp() override {
    SetTickClock(&clock);
    SetUiMessagePump(&pump);
  }
  void TearDown() override {
    dev.reset();
    SetUiMessagePump(nullptr);
    SetTickClock(nullptr);
  }

  // Opens the fake port with the main form's line settings and a receiver for its events.
  void Open(std::uint32_t outSize = 4096, std::chrono::milliseconds delivery = kDeliveryTimeout,
            const std::function<void(FakeDevice&)>& configure = {}) {
    dev = std::make_unique<FakeDevice>();
    dev->DeliveryTimeout = delivery;
    dev->OnThreadError = [this](const std::string& text) {
      std::lock_guard lock(errorsMutex);
      threadErrors.push_back(text);
    };
    if (configure) configure(*dev);
    ASSERT_EQ(0, dev->InitPort("/dev/ttyFAKE0", 115200, 0, 8, 1, 4096, outSize, foDtrRaised | foRtsRaised));
    dev->RegisterWndTriggerHandler(
        1, &pump, [this](std::uint32_t msg, std::uint32_t w, std::int32_t l) { OnMessage(msg, w, l); });
    dev->UpdateHandlerFlags(TSerHandlerFlagUpdate::fuEnablePort);
    dev->ChangeLengthTrigger(1);
  }

  void OnMessage(std::uint32_t msg, std::uint32_t w, std::int32_t l) {
    const std::size_t index = events.size();
    events.push_back(Event{msg, w, l, {}});
    if (msg == MsgTriggerAvail) {
      if (onAvail) {
        onAvail(index);
      } else {
        Take(index, w);
      }
    } else if (msg == MsgTriggerTimer && onTimer) {
      onTimer(index);
    }
  }

  // GetChar n times as a handler does; a failure raises the layer's exception.
  void Take(std::size_t index, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i) {
      std::uint8_t c = 0;
      RaiseSerialError(dev->GetChar(c));
      events[index].taken.push_back(static_cast<char>(c));
    }
  }

  // Handles this thread's messages until the condition holds; false at the deadline.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      if (pump.PumpOne() == 0) pump.WaitForMessage(std::chrono::steady_clock::now() + 1ms);
    }
    return true;
  }
  // Lets the dispatcher thread complete n more passes, handling its deliveries meanwhile.
  void WaitPasses(std::uint64_t n) {
    const std::uint64_t start = dev->PassCount();
    ASSERT_TRUE(PumpUntil([&] { return dev->PassCount() >= start + n; }));
  }
  std::size_t Count(std::uint32_t msg) const {
    std::size_t n = 0;
    for (const auto& e : events) n += e.msg == msg ? 1 : 0;
    return n;
  }

  StepClock clock;
  TPlainMessagePump pump;
  std::unique_ptr<FakeDevice> dev;
  std::vector<Event> events;
  std::function<void(std::size_t)> onAvail;
  std::function<void(std::size_t)> onTimer;
  std::mutex errorsMutex;
  std::vector<std::string> threadErrors;
};

// ---- Data-available events -------------------------------------------------------------------------

TEST_F(DispatcherTest, TenBytesGiveOneEventAndAnEleventhGetCharRaises) {
  Open();
  bool eleventhRaised = false;
  onAvail = [&](std::size_t i) {
    Take(i, events[i].wParam);
    std::uint8_t c = 0;
    try {
      RaiseSerialError(dev->GetChar(c));
    } catch (const EBufferIsEmpty& e) {
      eleventhRaised = std::string(e.what()) == "Buffer is empty";
    }
  };
  dev->Feed(Pattern(10));
  ASSERT_TRUE(PumpUntil([&] { return !events.empty(); }));
  WaitPasses(3);
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ(MsgTriggerAvail, events[0].msg);
  EXPECT_EQ(10u, events[0].wParam);
  EXPECT_EQ(dev->Handle(), events[0].lParam >> 16);
  EXPECT_EQ(Pattern(10), events[0].taken);
  EXPECT_TRUE(eleventhRaised);
  EXPECT_EQ(0u, dev->InBuffUsed());
}

TEST_F(DispatcherTest, BytesLeftByAHandlerWaitForNewDataAndComeFirst) {
  Open();
  onAvail = [&](std::size_t i) { Take(i, i == 0 ? 4 : events[i].wParam); };
  const std::string first = Pattern(10, 1);
  dev->Feed(first);
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 1; }));
  WaitPasses(3);
  EXPECT_EQ(1u, events.size()) << "no event for bytes left unread";
  EXPECT_EQ(6u, dev->InBuffUsed());

  dev->Feed("xyz");
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 2; }));
  EXPECT_EQ(9u, events[1].wParam);
  EXPECT_EQ(first.substr(4) + "xyz", events[1].taken);
}

TEST_F(DispatcherTest, BytesArrivingDuringAHandlerComeWithTheNextEvent) {
  Open();
  std::uint32_t usedInHandler = 0;
  bool eleventhFailed = false;
  onAvail = [&](std::size_t i) {
    if (i == 0) {
      dev->Feed("12345");
      Take(i, 10);
      std::uint8_t c = 0;
      eleventhFailed = dev->GetChar(c) == ecBufferIsEmpty;
      usedInHandler = dev->InBuffUsed();
    } else {
      Take(i, events[i].wParam);
    }
  };
  dev->Feed(Pattern(10));
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 2; }));
  EXPECT_TRUE(eleventhFailed) << "the ring does not grow while a handler runs";
  EXPECT_EQ(0u, usedInHandler);
  EXPECT_EQ(5u, events[1].wParam);
  EXPECT_EQ("12345", events[1].taken);
}

TEST_F(DispatcherTest, TenThousandQueuedBytesAreOfferedAs8192Then1808) {
  Open();
  const std::string all = Pattern(10000, 3);
  dev->BeforeNextPass([&] { dev->Feed(all); });
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 2; }));
  EXPECT_EQ(8192u, events[0].wParam);
  EXPECT_EQ(1808u, events[1].wParam);
  EXPECT_EQ(all, events[0].taken + events[1].taken);
}

TEST_F(DispatcherTest, FlushInBufferInsideAHandlerConsumesEverythingUnread) {
  Open();
  onAvail = [&](std::size_t i) {
    if (i == 0) {
      Take(i, 3);
      dev->FlushInBuffer();
    } else {
      Take(i, events[i].wParam);
    }
  };
  dev->Feed(Pattern(10));
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 1; }));
  WaitPasses(2);
  EXPECT_EQ(0u, dev->InBuffUsed());
  EXPECT_EQ(std::vector<int>{1}, dev->Purges());

  dev->Feed("ab");
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 2; }));
  EXPECT_EQ(2u, events[1].wParam);
  EXPECT_EQ("ab", events[1].taken);
}

TEST_F(DispatcherTest, GetCharOutsideAHandlerRemovesAtOnce) {
  Open();
  dev->RemoveTrigger(AvailTriggerHandle);  // no events: the bytes just wait
  dev->Feed("hi");
  ASSERT_TRUE(PumpUntil([&] { return dev->InBuffUsed() == 2; }));
  std::uint8_t c = 0;
  std::uint8_t peeked = 0;
  ASSERT_EQ(0, dev->PeekChar(peeked, 2));
  EXPECT_EQ('i', peeked);
  ASSERT_EQ(0, dev->GetChar(c));
  EXPECT_EQ('h', c);
  EXPECT_EQ(1u, dev->InBuffUsed());
  ASSERT_EQ(0, dev->GetChar(c));
  EXPECT_EQ(ecBufferIsEmpty, dev->GetChar(c));
  EXPECT_TRUE(events.empty());
}

// ---- Timer triggers ---------------------------------------------------------------------------------

TEST_F(DispatcherTest, DataIsHandledBeforeATimerThatExpiredInTheSamePass) {
  Open();
  const int h = dev->AddTimerTrigger();
  ASSERT_EQ(8, h);
  ASSERT_EQ(0, dev->SetTimerTrigger(8, 18, true));
  onAvail = [&](std::size_t i) {
    Take(i, events[i].wParam);
    dev->SetTimerTrigger(8, 18, true);  // the reply re-arms its time-out
  };
  dev->BeforeNextPass([&] {
    dev->Feed("reply");
    clock.Advance(2000);
  });
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 1; }));
  WaitPasses(3);
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ(MsgTriggerAvail, events[0].msg);

  // Without the re-arm the timer fires, after the data.
  onAvail = nullptr;
  dev->BeforeNextPass([&] {
    dev->Feed("more");
    clock.Advance(2000);
  });
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 3; }));
  EXPECT_EQ(MsgTriggerAvail, events[1].msg);
  EXPECT_EQ(MsgTriggerTimer, events[2].msg);
  EXPECT_EQ(8u, events[2].wParam);
}

TEST_F(DispatcherTest, ATimerFiresOncePerStartBetweenNAndNPlusOneTicks) {
  Open();
  ASSERT_EQ(8, dev->AddTimerTrigger());
  for (std::uint32_t offset : {0u, 54u}) {
    const std::uint32_t start = 55u * 2000u + offset;  // offset ms into a tick
    clock.Set(start);
    events.clear();
    ASSERT_EQ(0, dev->SetTimerTrigger(8, 18, true));
    // The period ends at the 19th tick boundary after the start tick.
    const std::uint32_t fires = 55u * 2000u + 19u * 55u;
    clock.Set(fires - 1);
    WaitPasses(3);
    EXPECT_TRUE(events.empty()) << "offset " << offset;
    EXPECT_GE(fires - 1 - start, 990u);
    clock.Set(fires);
    const auto stepped = std::chrono::steady_clock::now();
    ASSERT_TRUE(PumpUntil([&] { return events.size() == 1; })) << "offset " << offset;
    const auto late = std::chrono::steady_clock::now() - stepped;
    EXPECT_LE(fires - start, 1045u);
    EXPECT_LT(late, 1000ms) << "noticed within a pass or so";
    EXPECT_EQ(MsgTriggerTimer, events[0].msg);
    EXPECT_EQ(8u, events[0].wParam);
    clock.Advance(10000);
    WaitPasses(3);
    EXPECT_EQ(1u, events.size()) << "once per start";
  }
}

TEST_F(DispatcherTest, RearmingEvery500msNeverFires) {
  Open();
  ASSERT_EQ(8, dev->AddTimerTrigger());
  ASSERT_EQ(0, dev->SetTimerTrigger(8, 18, true));
  for (int i = 0; i < 12; ++i) {
    clock.Advance(500);
    ASSERT_EQ(0, dev->SetTimerTrigger(8, 18, true));
    WaitPasses(2);
  }
  EXPECT_TRUE(events.empty());
  clock.Advance(1100);
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 1; })) << "still alive once left alone";
}

TEST_F(DispatcherTest, StoppedTimerKeepsItsPeriodForARestart) {
  Open();
  ASSERT_EQ(8, dev->AddTimerTrigger());
  ASSERT_EQ(0, dev->SetTimerTrigger(8, 18, true));
  ASSERT_EQ(0, dev->SetTimerTrigger(8, 0, false));
  clock.Advance(5000);
  WaitPasses(3);
  EXPECT_TRUE(events.empty());
  ASSERT_EQ(0, dev->SetTimerTrigger(8, 0, true));
  clock.Advance(18 * 55 - 55);
  WaitPasses(3);
  EXPECT_TRUE(events.empty()) << "restarted with the 18-tick period, not 0";
  clock.Advance(2 * 55);
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 1; }));
}

TEST_F(DispatcherTest, TimerWithoutAReceiverIsSpent) {
  Open();
  dev->UpdateHandlerFlags(TSerHandlerFlagUpdate::fuDisablePort);
  dev->DeregisterWndTriggerHandler(1);
  dev->UpdateHandlerFlags(TSerHandlerFlagUpdate::fuKeepPort);
  ASSERT_EQ(8, dev->AddTimerTrigger());
  ASSERT_EQ(0, dev->SetTimerTrigger(8, 1, true));
  clock.Advance(200);
  TTriggerSave save;
  ASSERT_TRUE(PumpUntil([&] {
    dev->SaveTriggers(save);
    return !save.TimerTriggers.empty() && !save.TimerTriggers[0].Active;
  }));
  EXPECT_TRUE(events.empty());
}

// ---- Trigger handles --------------------------------------------------------------------------------

TEST_F(DispatcherTest, TriggerHandlesAreMultiplesOfEightAndRunOut) {
  Open();
  EXPECT_EQ(8, dev->AddTimerTrigger());
  EXPECT_EQ(16, dev->AddTimerTrigger());
  EXPECT_EQ(0, dev->RemoveTrigger(16));
  EXPECT_EQ(ecBadTriggerHandle, dev->SetTimerTrigger(16, 18, true));
  EXPECT_EQ(ecBadTriggerHandle, dev->RemoveTrigger(16));
  EXPECT_EQ(ecBadTriggerHandle, dev->SetTimerTrigger(0, 18, true));
  EXPECT_EQ(ecBadTriggerHandle, dev->SetTimerTrigger(1, 18, true));
  EXPECT_THROW(RaiseSerialError(dev->SetTimerTrigger(16, 18, true)), EBadTriggerHandle);

  for (int i = 3; i < 4096; ++i) ASSERT_EQ(i * 8, dev->AddTimerTrigger());
  // The counter is spent: the smallest free handle up to 4096 is used again, then none is left.
  EXPECT_EQ(16, dev->AddTimerTrigger());
  ASSERT_EQ(0, dev->RemoveTrigger(4096));
  EXPECT_EQ(4096, dev->AddTimerTrigger());
  EXPECT_EQ(ecNoMoreTriggers, dev->AddTimerTrigger());
  EXPECT_THROW(RaiseSerialError(dev->AddTimerTrigger()), ENoMoreTriggers);

  dev->RemoveAllTriggers();
  EXPECT_EQ(8, dev->AddTimerTrigger());
}

TEST_F(DispatcherTest, RemovingTheAvailTriggerSilencesDataEvents) {
  Open();
  ASSERT_EQ(0, dev->RemoveTrigger(AvailTriggerHandle));
  dev->Feed("abc");
  ASSERT_TRUE(PumpUntil([&] { return dev->InBuffUsed() == 3; }));
  WaitPasses(2);
  EXPECT_TRUE(events.empty());
}

// ---- Transmit ring ----------------------------------------------------------------------------------

TEST_F(DispatcherTest, PutBlockOfTheRingSizeFillsItAndOneMoreByteIsRefused) {
  Open(4096);
  const std::string block = Pattern(4096, 5);
  EXPECT_EQ(0, dev->PutString(block));
  EXPECT_EQ(4096u, dev->OutBuffUsed());
  EXPECT_EQ(0u, dev->OutBuffFree());
  EXPECT_EQ(ecOutputBufferTooSmall, dev->PutChar('x'));
  try {
    RaiseSerialError(dev->PutString("x"));
    FAIL() << "no exception";
  } catch (const EOutputBufferTooSmall& e) {
    EXPECT_EQ(-3006, e.ErrorCode());
    EXPECT_STREQ("Output buffer too small for block", e.what());
  }
  EXPECT_EQ(block, dev->Transmit()) << "the refused byte was not queued";
  EXPECT_EQ(0, dev->PutString("x"));
  EXPECT_EQ("x", dev->Transmit());
}

TEST_F(DispatcherTest, PutBlockWrapsAroundTheRingAndRefusesWhatDoesNotFit) {
  Open(16);
  EXPECT_EQ(0, dev->PutString(""));
  EXPECT_EQ(ecOutputBufferTooSmall, dev->PutString(Pattern(17)));
  EXPECT_EQ(0u, dev->OutBuffUsed());
  ASSERT_EQ(0, dev->PutString("0123456789"));
  ASSERT_EQ("0123456789", dev->Transmit());
  ASSERT_EQ(0, dev->PutString("abcdefghij"));
  ASSERT_EQ(0, dev->PutString("ABCDEF"));  // exactly the room left
  EXPECT_EQ(ecOutputBufferTooSmall, dev->PutChar('!'));
  EXPECT_EQ("abcdefghijABCDEF", dev->Transmit());
  dev->PutString("zz");
  dev->FlushOutBuffer();
  EXPECT_EQ(0u, dev->OutBuffUsed());
  EXPECT_EQ(std::vector<int>{0}, dev->Purges());
}

// ---- Slow handlers and closing -------------------------------------------------------------------

TEST_F(DispatcherTest, HandlerThatOverrunsTheDeliveryTimeAllowsANestedEvent) {
  Open(4096, 200ms);
  const std::string first = Pattern(6, 9);
  bool nestedSeen = false;
  onAvail = [&](std::size_t i) {
    if (i == 0) {
      Take(i, 2);
      dev->Feed("NEW");
      // A modal loop: the handler keeps the thread's messages going and does not return.
      nestedSeen = PumpUntil([&] { return events.size() >= 2; }, 5000ms);
    } else {
      Take(i, events[i].wParam);
    }
  };
  dev->Feed(first);
  ASSERT_TRUE(PumpUntil([&] { return events.size() >= 2; }));
  EXPECT_TRUE(nestedSeen);
  ASSERT_EQ(2u, events.size());
  EXPECT_EQ(7u, events[1].wParam) << "the 4 left unread and the 3 new";
  EXPECT_EQ(first.substr(0, 2), events[0].taken);
  EXPECT_EQ(first.substr(2) + "NEW", events[1].taken);
  WaitPasses(3);
  EXPECT_EQ(2u, events.size());
  EXPECT_EQ(0u, dev->InBuffUsed());
}

TEST_F(DispatcherTest, ClosingWhileIdleStopsEverything) {
  Open(4096, kDeliveryTimeout, [](FakeDevice& d) { d.withReadThread = true; });
  SetTickClock(nullptr);
  EXPECT_EQ(2, dev->ActiveThreads());
  dev->PutString("pending");
  dev->DonePort();
  EXPECT_EQ(0, dev->ActiveThreads());
  EXPECT_FALSE(dev->DispActive());
  EXPECT_TRUE(dev->BuffersReleased());
  EXPECT_EQ(1, dev->Closes());
  EXPECT_EQ((std::vector<int>{0, 1}), dev->Purges());
  std::uint8_t c = 0;
  EXPECT_THROW(RaiseSerialError(dev->GetChar(c)), ECommNotOpen);
  EXPECT_THROW(RaiseSerialError(dev->PutString("x")), ECommNotOpen);
  std::lock_guard lock(errorsMutex);
  EXPECT_TRUE(threadErrors.empty());
}

TEST_F(DispatcherTest, ClosingFromInsideAHandlerFinishesOnceTheDispatcherStopsWaiting) {
  Open(4096, 200ms);
  SetTickClock(nullptr);
  onAvail = [&](std::size_t i) {
    Take(i, events[i].wParam);
    dev->DonePort();
  };
  dev->Feed("bye");
  ASSERT_TRUE(PumpUntil([&] { return !events.empty(); }));
  ASSERT_TRUE(PumpUntil([&] { return dev->ActiveThreads() == 0; }));
  EXPECT_FALSE(dev->DispActive());
  EXPECT_TRUE(dev->BuffersReleased());
  EXPECT_EQ(1, dev->Closes());
  dev->Feed("late");
  EXPECT_EQ(1u, events.size());
}

TEST_F(DispatcherTest, CloseDuringADeliveryIsFinishedByTheDispatcherThread) {
  Open(4096, 200ms, [](FakeDevice& d) { d.closeWaitsForDispatcher = false; });
  bool pendingSeen = false;
  onAvail = [&](std::size_t i) {
    Take(i, events[i].wParam);
    dev->DonePort();
    pendingSeen = dev->ClosePending();
  };
  dev->Feed("x");
  ASSERT_TRUE(PumpUntil([&] { return !events.empty(); }));
  EXPECT_TRUE(pendingSeen);
  ASSERT_TRUE(PumpUntil([&] { return dev->ActiveThreads() == 0; }));
  EXPECT_TRUE(dev->BuffersReleased());
  EXPECT_EQ(1u, events.size());
}

TEST_F(DispatcherTest, AFailingDeviceThreadStopsThePortAndIsReportedOnce) {
  Open(4096, kDeliveryTimeout, [](FakeDevice& d) { d.withReadThread = true; });
  SetTickClock(nullptr);
  dev->FailReadThread(ecDeviceRead);
  ASSERT_TRUE(PumpUntil([&] { return dev->ActiveThreads() == 0; }));
  EXPECT_FALSE(dev->DispActive());
  EXPECT_TRUE(dev->BuffersReleased());
  EXPECT_EQ(1, dev->Closes());
  {
    std::lock_guard lock(errorsMutex);
    EXPECT_EQ(std::vector<std::string>{"Device read error"}, threadErrors);
  }
  dev->Feed("ignored");
  ASSERT_EQ(8, dev->AddTimerTrigger());
  dev->SetTimerTrigger(8, 1, true);
  clock.Advance(1000);
  EXPECT_FALSE(PumpUntil([&] { return !events.empty(); }, 200ms));
  dev->DonePort();  // nothing left to do
  EXPECT_EQ(1, dev->Closes());
}

// The product's last answer (a GO acknowledgement before it restarts) read just before the lead
// failed still reaches the handler, and before the failure is told.
TEST_F(DispatcherTest, BytesReadBeforeAFailureAreDeliveredFirst) {
  Open(4096, kDeliveryTimeout, [](FakeDevice& d) { d.withReadThread = true; });
  SetTickClock(nullptr);
  std::vector<std::string> order;
  onAvail = [&](std::size_t index) {
    Take(index, events[index].wParam);
    std::lock_guard lock(errorsMutex);
    order.push_back("data " + events[index].taken);
  };
  dev->OnThreadError = [&](const std::string& text) {
    std::lock_guard lock(errorsMutex);
    order.push_back(text);
  };
  dev->BeforeNextPass([&] { dev->FeedThenFail("\x79", ecDeviceRead); });
  ASSERT_TRUE(PumpUntil([&] { return dev->ActiveThreads() == 0; }));
  std::lock_guard lock(errorsMutex);
  EXPECT_EQ(order, (std::vector<std::string>{"data \x79", "Device read error"}));
}

// ---- Open and line settings -------------------------------------------------------------------------

TEST_F(DispatcherTest, OpenSetsTheLineAsTheMainFormAsks) {
  Open();
  const std::vector<int> escapes = dev->Escapes();
  ASSERT_GE(escapes.size(), 2u);
  EXPECT_EQ(SETDTR, escapes[0]);
  EXPECT_EQ(SETRTS, escapes[1]);
  ASSERT_EQ(1u, dev->SetStates().size());
  const TDeviceControlBlock dcb = dev->SetStates()[0];
  EXPECT_EQ(115200u, dcb.BaudRate);
  EXPECT_EQ(8, dcb.ByteSize);
  EXPECT_EQ(0, dcb.Parity);
  EXPECT_EQ(ONESTOPBIT, dcb.StopBits);
  EXPECT_TRUE(dcb.fBinary);
  EXPECT_TRUE(dcb.fTXContinueOnXoff);
  EXPECT_FALSE(dcb.fParity || dcb.fNull || dcb.fDsrSensitivity || dcb.fOutX || dcb.fInX);
  EXPECT_EQ(DTR_CONTROL_ENABLE, dcb.fDtrControl);
  EXPECT_EQ(RTS_CONTROL_ENABLE, dcb.fRtsControl);

  ASSERT_EQ(0, dev->HWFlowOptions(0, 0, 0));
  EXPECT_EQ(4096, dev->CurrentDCB().XoffLim);
  EXPECT_EQ(0, dev->CurrentDCB().XonLim);
  EXPECT_EQ(ecBadArgument, dev->HWFlowOptions(10, 20, 0));
  EXPECT_EQ(ecBadArgument, dev->HWFlowOptions(5000, 0, 0));

  const std::size_t before = dev->SetStates().size();
  EXPECT_EQ(0, dev->SetLine(115200, 0, 8, 1));
  EXPECT_EQ(before, dev->SetStates().size()) << "nothing changed, the device is not touched";
  EXPECT_EQ(0, dev->SetLine(9600, 2, 7, 2));
  ASSERT_EQ(before + 1, dev->SetStates().size());
  EXPECT_EQ(9600u, dev->SetStates().back().BaudRate);
  EXPECT_EQ(2, dev->SetStates().back().Parity);
  EXPECT_EQ(7, dev->SetStates().back().ByteSize);
  EXPECT_EQ(TWOSTOPBITS, dev->SetStates().back().StopBits);
  EXPECT_EQ(0, dev->SetLine(0, 5, 5, 3));  // keep rate and parity; 5 data bits
  EXPECT_EQ(9600u, dev->SetStates().back().BaudRate);
  EXPECT_EQ(ONE5STOPBITS, dev->SetStates().back().StopBits);
}

TEST_F(DispatcherTest, DtrAndRtsUnderFlowControlAreLeftAlone) {
  dev = std::make_unique<FakeDevice>();
  ASSERT_EQ(0, dev->InitPort("/dev/ttyFAKE0", 115200, 0, 8, 1, 4096, 4096, foDtrFlow | foRtsFlow));
  EXPECT_EQ(1, dev->SetDtr(false));
  EXPECT_EQ(1, dev->SetRts(false));
  for (int e : dev->Escapes()) EXPECT_TRUE(e != CLRDTR && e != CLRRTS);
}

TEST_F(DispatcherTest, AFailedOpenUndoesEverythingAndGivesTheFirstCode) {
  dev = std::make_unique<FakeDevice>();
  dev->openResult = -2;
  EXPECT_EQ(-2, dev->InitPort("/dev/none", 115200, 0, 8, 1, 4096, 4096, 3));
  EXPECT_TRUE(dev->BuffersReleased());
  EXPECT_FALSE(dev->DispActive());
  EXPECT_EQ(0, dev->Closes());

  dev = std::make_unique<FakeDevice>();
  dev->setStateResult = -22;
  EXPECT_EQ(-22, dev->InitPort("/dev/ttyFAKE0", 115200, 0, 8, 1, 4096, 4096, 3));
  EXPECT_TRUE(dev->BuffersReleased());
  EXPECT_EQ(1, dev->Closes());
  EXPECT_EQ(0, dev->ActiveThreads());
}

TEST_F(DispatcherTest, PortListMapsIndexesBackToDispatchers) {
  Open();
  EXPECT_EQ(dev.get(), PortListDispatcher(dev->Handle()));
  FakeDevice second;
  EXPECT_NE(dev->Handle(), second.Handle());
  EXPECT_EQ(&second, PortListDispatcher(second.Handle()));
  const int index = dev->Handle();
  dev.reset();
  EXPECT_EQ(nullptr, PortListDispatcher(index));
  EXPECT_EQ(nullptr, PortListDispatcher(-1));
  EXPECT_EQ(nullptr, PortListDispatcher(1000));
}

TEST_F(DispatcherTest, LineErrorsAreCollectedAtOpenAndOnErrorEvents) {
  Open(4096, kDeliveryTimeout, [](FakeDevice& d) { d.SetLineErrors(0x04 | 0x40); });
  EXPECT_EQ(0x04u, dev->LastLineErrors()) << "low five bits, read at open";
  dev->SetLineErrors(0x02);
  dev->FeedStatus(EV_ERR);
  dev->Feed("after");  // behind the event mask in the queue
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 1; }));
  EXPECT_EQ(0x06u, dev->LastLineErrors());
  EXPECT_EQ("after", events[0].taken);
}

TEST_F(DispatcherTest, AFullRingKeepsTheRestQueuedUntilRoomIsMade) {
  Open();
  dev->RemoveTrigger(AvailTriggerHandle);
  const std::string all = Pattern(10000, 4);
  dev->Feed(all);
  ASSERT_TRUE(PumpUntil([&] { return dev->InBuffUsed() == kDispatchBufferSize; }));
  WaitPasses(2);
  EXPECT_EQ(kDispatchBufferSize, dev->InBuffUsed());
  std::string got;
  for (std::uint32_t i = 0; i < kDispatchBufferSize; ++i) {
    std::uint8_t c = 0;
    ASSERT_EQ(0, dev->GetChar(c));
    got.push_back(static_cast<char>(c));
  }
  ASSERT_TRUE(PumpUntil([&] { return dev->InBuffUsed() == 1808; }));
  while (dev->CharReady()) {
    std::uint8_t c = 0;
    ASSERT_EQ(0, dev->GetChar(c));
    got.push_back(static_cast<char>(c));
  }
  EXPECT_EQ(all, got) << "no byte dropped or repeated";
}

TEST_F(DispatcherTest, AHandlerThatTakesNothingHearsAgainOnlyWithNewBytes) {
  Open();
  onAvail = [&](std::size_t i) {
    std::uint8_t c = 0;
    if (i == 0) {
      ASSERT_EQ(0, dev->PeekChar(c, 3));
      EXPECT_EQ('c', c);
      EXPECT_EQ(ecBufferIsEmpty, dev->PeekChar(c, 4));
      return;
    }
    Take(i, 1);
    ASSERT_EQ(0, dev->PeekChar(c, 1));  // the next unread, after the one taken
    EXPECT_EQ('b', c);
    Take(i, events[i].wParam - 1);
  };
  dev->Feed("abc");
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 1; }));
  WaitPasses(3);
  EXPECT_EQ(1u, events.size());
  dev->Feed("d");
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 2; }));
  EXPECT_EQ(4u, events[1].wParam);
  EXPECT_EQ("abcd", events[1].taken);
}

TEST_F(DispatcherTest, AReceiverRemovedDuringADeliveryGoesWhenItEnds) {
  Open();
  onAvail = [&](std::size_t i) {
    Take(i, events[i].wParam);
    dev->DeregisterWndTriggerHandler(1);
  };
  dev->Feed("one");
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 1; }));
  dev->Feed("two");
  ASSERT_TRUE(PumpUntil([&] { return dev->InBuffUsed() == 3; }));
  WaitPasses(2);
  EXPECT_EQ(1u, events.size());
}

TEST_F(DispatcherTest, SavedTriggersComeBackWithTheirHandlesAndPeriods) {
  Open();
  ASSERT_EQ(8, dev->AddTimerTrigger());
  ASSERT_EQ(16, dev->AddTimerTrigger());
  ASSERT_EQ(0, dev->SetTimerTrigger(16, 36, true));
  ASSERT_EQ(0, dev->SetTimerTrigger(16, 99, false));  // stops it; the period stays 36
  TTriggerSave save;
  dev->SaveTriggers(save);
  dev->RemoveAllTriggers();
  EXPECT_EQ(ecBadTriggerHandle, dev->SetTimerTrigger(16, 0, true));
  dev->RestoreTriggers(save);
  ASSERT_EQ(0, dev->SetTimerTrigger(16, 0, true));
  clock.Advance(35 * 55);
  WaitPasses(3);
  EXPECT_TRUE(events.empty());
  clock.Advance(2 * 55);
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 1; }));
  EXPECT_EQ(16u, events[0].wParam);
  dev->Feed("z");
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 2; })) << "the data-available length came back too";
}

}  // namespace
}  // namespace tarvex::test
