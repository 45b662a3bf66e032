// The port component over the Win32 device layer, against COM ports whose far end is an echoing
// peer (win32-com-peer.py, on pseudo-terminals that Wine shows as COM ports): open and close, a
// missing port, a second opener, 20,000 bytes in order, a pulled lead, and open/close cycles.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/Win32Names.h"
#include "serial/ComPort.h"
#include "serial/PlainMessagePump.h"
#include "serial/SerialErrors.h"
#include "serial/Win32Dispatcher.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;

// The COM numbers the peer serves, from TARVEX_TEST_COMS ("41,42").
std::vector<int> PeerPorts() {
  std::vector<int> ports;
  const char* env = std::getenv("TARVEX_TEST_COMS");
  if (env == nullptr) return ports;
  std::stringstream in(env);
  for (std::string n; std::getline(in, n, ',');) ports.push_back(std::stoi(n));
  return ports;
}

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7) % 251);
  return s;
}

class Win32Port : public ::testing::Test {
 protected:
  void SetUp() override {
    coms = PeerPorts();
    if (coms.size() < 2)
      GTEST_SKIP() << "no COM ports with a peer (TARVEX_TEST_COMS); run through scripts/test";
    SetUiMessagePump(&pump);
  }
  void TearDown() override {
    ports.clear();
    SetUiMessagePump(nullptr);
  }
  TSerComPort& MakePort(int com) {
    ports.push_back(std::make_unique<TSerComPort>());
    TSerComPort& p = *ports.back();
    p.Baud = 115200;
    p.AutoOpen = false;
    p.PromptForPort = false;
    p.SetComNumber(static_cast<std::uint16_t>(com));
    p.DevicePath = [](int n) { return std::optional<std::string>(TSerWin32Dispatcher::DevicePathOf(n)); };
    p.OnThreadError = [this](const std::string& text) { threadErrors.push_back(text); };
    p.OnTriggerAvail = [this, &p](std::uint16_t count) {
      ++availEvents;
      for (std::uint16_t i = 0; i < count; ++i) received.push_back(p.GetChar());
    };
    return p;
  }
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      if (pump.PumpOne() == 0) pump.WaitForMessage(std::chrono::steady_clock::now() + 5ms);
    }
    return true;
  }

  std::vector<int> coms;
  TPlainMessagePump pump;
  std::vector<std::unique_ptr<TSerComPort>> ports;
  std::vector<std::string> threadErrors;
  std::string received;
  int availEvents = 0;
};

TEST_F(Win32Port, OpensClosesAndTellsAMissingPort) {
  TSerComPort& p = MakePort(coms[0]);
  p.SetOpen(true);
  ASSERT_TRUE(p.Open());
  EXPECT_EQ(8, p.AddTimerTrigger());
  p.SetOpen(false);
  EXPECT_FALSE(p.Open());
  TSerComPort& missing = MakePort(250);
  EXPECT_THROW(missing.SetOpen(true), EBadId);
  EXPECT_FALSE(missing.Open());
}

TEST_F(Win32Port, ASecondOpenerIsRefusedWhereTheSystemSaysSo) {
  TSerComPort& first = MakePort(coms[0]);
  first.SetOpen(true);
  TSerComPort& second = MakePort(coms[0]);
  try {
    second.SetOpen(true);
  } catch (const EAlreadyOpen&) {
    SUCCEED();
    return;
  }
  second.SetOpen(false);
  GTEST_SKIP() << "this system lets a COM port be opened twice";
}

TEST_F(Win32Port, TwentyThousandBytesComeBackInOrder) {
  TSerComPort& p = MakePort(coms[0]);
  p.SetOpen(true);
  const std::string sent = Pattern(20000);
  for (std::size_t at = 0; at < sent.size(); at += 1000) {
    // The transmit ring takes a block whole or not at all: wait for room.
    ASSERT_TRUE(PumpUntil([&] { return p.OutBuffFree() >= 1000; }));
    p.PutString(sent.substr(at, 1000));
  }
  ASSERT_TRUE(PumpUntil([&] { return received.size() >= sent.size(); }, 30000ms)) << received.size();
  EXPECT_EQ(received, sent);
  EXPECT_TRUE(threadErrors.empty());
}

TEST_F(Win32Port, APulledLeadStopsEveryThreadAndIsToldOnce) {
  TSerComPort& p = MakePort(coms[1]);
  p.SetOpen(true);
  const std::uint16_t h = p.AddTimerTrigger();
  int timers = 0;
  p.OnTriggerTimer = [&](std::uint16_t) { ++timers; };
  p.PutString("abc");
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 3; }));
  p.SetTimerTrigger(h, 3, true);
  p.PutString(std::string("\0HANGUP\0", 8));
  TSerBaseDispatcher* d = p.Dispatcher();
  ASSERT_TRUE(PumpUntil([&] { return d->ActiveThreads() == 0 && !threadErrors.empty(); }));
  const auto until = std::chrono::steady_clock::now() + 300ms;
  PumpUntil([&] { return std::chrono::steady_clock::now() > until; });
  EXPECT_EQ(threadErrors.size(), 1u);
  EXPECT_EQ(0, timers);
  p.SetOpen(false);
  EXPECT_FALSE(p.Open());
}

TEST_F(Win32Port, HundredOpenCloseCyclesLeaveNoHandleBehind) {
  TSerComPort& p = MakePort(coms[0]);
  p.SetOpen(true);
  p.SetOpen(false);
  // The system hands out the lowest free handle: a handle made after the cycles lands where one
  // made before them did, unless the cycles left handles behind. (Wine keeps no handle count.)
  const auto probe = [] {
    const HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(h);
    return reinterpret_cast<std::uintptr_t>(h);
  };
  DWORD countBefore = 0;
  GetProcessHandleCount(GetCurrentProcess(), &countBefore);
  const std::uintptr_t before = probe();
  for (int i = 0; i < 100; ++i) {
    p.SetOpen(true);
    ASSERT_TRUE(p.Open());
    p.SetOpen(false);
  }
  const std::uintptr_t after = probe();
  EXPECT_LE(after, before + 2 * sizeof(HANDLE)) << before << " before, " << after << " after";
  DWORD countAfter = 0;
  GetProcessHandleCount(GetCurrentProcess(), &countAfter);
  EXPECT_LE(countAfter, countBefore + 2);
}

}  // namespace
}  // namespace tarvex
