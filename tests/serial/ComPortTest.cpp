// The port component over real pseudo-terminals: the device threads, the open and close
// sequences, event delivery through the message pump, and what an unplugged lead does.
#include "serial/ComPort.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <string>
#include <vector>

#include "serial/PlainMessagePump.h"
#include "serial/PosixDispatcher.h"
#include "serial/PtyPeer.h"
#include "serial/SerialErrors.h"
#include "serial/Ticks.h"
#include "support/TempDir.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;
using test::PtyPeer;

int CountEntries(const char* dir) {
  int n = 0;
  if (DIR* d = ::opendir(dir)) {
    while (::readdir(d) != nullptr) ++n;
    ::closedir(d);
  }
  return n;
}

class ComPortTest : public ::testing::Test {
 protected:
  void SetUp() override { SetUiMessagePump(&pump); }
  void TearDown() override {
    ports.clear();
    SetUiMessagePump(nullptr);
  }

  // A port set up as the main window sets it, opening the given device for any number.
  TSerComPort& MakePort(const std::string& device) {
    ports.push_back(std::make_unique<TSerComPort>());
    TSerComPort& p = *ports.back();
    p.Baud = 115200;
    p.AutoOpen = false;
    p.PromptForPort = false;
    p.SetComNumber(7);
    p.DevicePath = [device](int) { return std::optional<std::string>(device); };
    p.OnThreadError = [this](const std::string& text) { threadErrors.push_back(text); };
    return p;
  }
  // An avail handler that takes every byte it is told of.
  void TakeAll(TSerComPort& p) {
    p.OnTriggerAvail = [this, &p](std::uint16_t count) {
      ++availEvents;
      for (std::uint16_t i = 0; i < count; ++i) received.push_back(p.GetChar());
    };
  }
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      if (pump.PumpOne() == 0) pump.WaitForMessage(std::chrono::steady_clock::now() + 5ms);
    }
    return true;
  }
  void PumpPending() {
    while (pump.PumpOne() != 0) {
    }
  }

  TPlainMessagePump pump;
  PtyPeer peer;
  std::vector<std::unique_ptr<TSerComPort>> ports;
  std::vector<std::string> threadErrors;
  std::string received;
  int availEvents = 0;
};

TEST_F(ComPortTest, OpensAndClosesAndTheFirstTimerIsEightAfterEveryOpen) {
  TSerComPort& p = MakePort(peer.Path());
  p.SetOpen(true);
  ASSERT_TRUE(p.Open());
  EXPECT_EQ(TPortState::psOpen, p.PortState());
  EXPECT_EQ(8, p.AddTimerTrigger());
  EXPECT_EQ(16, p.AddTimerTrigger());
  p.SetOpen(true);  // already open: nothing
  p.SetOpen(false);
  EXPECT_FALSE(p.Open());
  EXPECT_EQ(nullptr, p.Dispatcher());
  p.SetOpen(false);  // already closed: nothing
  // Reconnecting gives a fresh trigger set.
  p.SetOpen(true);
  EXPECT_EQ(8, p.AddTimerTrigger());
  p.SetOpen(false);
}

TEST_F(ComPortTest, OpenFailuresRaiseTheLayersExceptionsAndLeaveThePortClosed) {
  TSerComPort& missing = MakePort("/nonexistent/tty-nothing");
  EXPECT_THROW(missing.SetOpen(true), EBadId);
  EXPECT_FALSE(missing.Open());
  EXPECT_EQ(TPortState::psClosed, missing.PortState());

  TSerComPort& unknown = MakePort("");
  unknown.DevicePath = [](int) { return std::optional<std::string>(); };
  EXPECT_THROW(unknown.SetOpen(true), EBadId);

  TSerComPort& unset = MakePort(peer.Path());
  unset.SetComNumber(0);
  EXPECT_THROW(unset.SetOpen(true), ENoPortSelected);
  EXPECT_FALSE(unset.Open());

  // A failure the layer has no word of its own for is told in the system's words.
  TSerComPort& notATerminal = MakePort("/dev/null");
  try {
    notATerminal.SetOpen(true);
    ADD_FAILURE() << "opened /dev/null";
  } catch (const EDeviceError& e) {
    EXPECT_EQ(std::string(e.what()), "Serial device error: Inappropriate ioctl for device");
  }
  EXPECT_FALSE(notATerminal.Open());

  // Operations on a closed port with AutoOpen off.
  EXPECT_THROW(unset.PutString("x"), ECommNotOpen);
  EXPECT_THROW(unset.GetChar(), ECommNotOpen);
  EXPECT_THROW(unset.AddTimerTrigger(), ECommNotOpen);
  unset.RemoveTrigger(8);  // only while open: nothing
}

TEST_F(ComPortTest, ASecondOpenerIsRefusedAndTheFirstKeepsWorking) {
  TSerComPort& first = MakePort(peer.Path());
  TakeAll(first);
  first.SetOpen(true);
  TSerComPort& second = MakePort(peer.Path());
  EXPECT_THROW(second.SetOpen(true), EAlreadyOpen);
  EXPECT_FALSE(second.Open());

  first.PutString("ping");
  EXPECT_EQ("ping", peer.Read(4));
  peer.Write("pong");
  ASSERT_TRUE(PumpUntil([&] { return received.size() >= 4; }));
  EXPECT_EQ("pong", received);
  first.SetOpen(false);
  // Once the first has let go, the port is free again.
  second.SetOpen(true);
  EXPECT_TRUE(second.Open());
}

TEST_F(ComPortTest, ReceivedBytesReachTheHandlerInOrderAcrossManyEvents) {
  TSerComPort& p = MakePort(peer.Path());
  TakeAll(p);
  p.SetOpen(true);
  std::string sent;
  for (int i = 0; i < 20000; ++i) sent.push_back(static_cast<char>((i * 7 + i / 256) & 0xFF));
  std::thread writer([&] {
    for (std::size_t at = 0; at < sent.size(); at += 700) peer.Write(sent.substr(at, 700));
  });
  const bool all = PumpUntil([&] { return received.size() >= sent.size(); }, 10000ms);
  writer.join();
  if (!all) {
    std::size_t i = 0;
    while (i < received.size() && received[i] == sent[i]) ++i;
    ADD_FAILURE() << received.size() << " first diff at " << i;
  }
  EXPECT_EQ(sent, received);
  EXPECT_GT(availEvents, 1);
}

TEST_F(ComPortTest, AHandlerThatLeavesBytesUnreadSeesThemWithTheNextArrival) {
  TSerComPort& p = MakePort(peer.Path());
  std::vector<std::uint16_t> counts;
  p.OnTriggerAvail = [&](std::uint16_t count) {
    counts.push_back(count);
    // The first event leaves all but one byte unread.
    const std::uint16_t take = counts.size() == 1 ? 1 : count;
    for (std::uint16_t i = 0; i < take; ++i) received.push_back(p.GetChar());
  };
  p.SetOpen(true);
  peer.Write("0123456789");
  ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }));
  const std::uint16_t first = counts[0];
  peer.Write("ab");
  ASSERT_TRUE(PumpUntil([&] { return received.size() >= 12; }));
  EXPECT_EQ("0123456789ab", received);
  // The second event counted what the first left behind.
  ASSERT_GE(counts.size(), 2u);
  EXPECT_GE(counts[1], first - 1);
}

TEST_F(ComPortTest, ARaisedTriggerLengthHandsTrickledBytesOverWholeAndLoweringItReleasesTheRest) {
  TSerComPort& p = MakePort(peer.Path());
  std::vector<std::uint16_t> counts;
  p.OnTriggerAvail = [&](std::uint16_t count) {
    counts.push_back(count);
    for (std::uint16_t i = 0; i < count; ++i) received.push_back(p.GetChar());
  };
  p.SetOpen(true);
  p.SetTriggerLength(40);
  // A byte at a time, each waiting until the line has taken it, as from a slow lead.
  for (int i = 0; i < 40; ++i) {
    peer.Write(std::string(1, static_cast<char>('A' + i % 26)));
    ::tcdrain(peer.Fd());
  }
  ASSERT_TRUE(PumpUntil([&] { return received.size() >= 40; }));
  EXPECT_EQ(counts, std::vector<std::uint16_t>{40});

  peer.Write("xyz");
  PumpPending();
  p.SetTriggerLength(1);
  ASSERT_TRUE(PumpUntil([&] { return received.size() >= 43; }));
  EXPECT_EQ(received.substr(40), "xyz");
}

TEST_F(ComPortTest, TheTransmitRingTakesAllOrNothing) {
  TSerComPort& p = MakePort(peer.Path());
  p.SetOpen(true);
  EXPECT_THROW(p.PutString(std::string(4097, 'x')), EOutputBufferTooSmall);
  p.PutString(std::string(4096, 'y'));
  EXPECT_EQ(std::string(4096, 'y'), peer.Read(4096));
  p.PutString("");  // nothing
  p.SetOpen(false);
}

TEST_F(ComPortTest, BytesLeaveInOrderWhetherTheDeviceTakesThemAtOnceOrTheRingHoldsThem) {
  TSerComPort& p = MakePort(peer.Path());
  p.SetOpen(true);
  // The peer reads nothing at first, so the device fills, and the ring behind it fills too.
  std::string sent;
  std::size_t refusals = 0;
  int chunk = 0;
  while (refusals < 3) {
    std::string block(1000, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((chunk * 31 + i) & 0xFF);
    try {
      p.PutString(block);
      sent += block;
      ++chunk;
    } catch (const EOutputBufferTooSmall&) {
      ++refusals;
      PumpUntil([] { return false; }, 20ms);
    }
  }
  EXPECT_GT(sent.size(), 4096u);
  // The peer takes a little at a time, and after each bite more is sent at once: the device has
  // room again while the ring still holds bytes, which must still go first.
  std::string got;
  for (int round = 0; round < 60; ++round) {
    got += peer.Read(std::min<std::size_t>(700, sent.size() - got.size()), 2000ms);
    std::string more(300, '\0');
    for (std::size_t i = 0; i < more.size(); ++i) more[i] = static_cast<char>((round * 7 + i * 3) & 0xFF);
    for (;;) {
      try {
        p.PutString(more);
        break;
      } catch (const EOutputBufferTooSmall&) {
        got += peer.Read(100, 200ms);
      }
    }
    sent += more;
  }
  got += peer.Read(sent.size() - got.size(), 10000ms);
  ASSERT_EQ(sent.size(), got.size());
  EXPECT_TRUE(sent == got) << "bytes left out of order";
}

TEST_F(ComPortTest, ATimerTriggerFiresOncePerStartAndARemovedOneIsUnknown) {
  TSerComPort& p = MakePort(peer.Path());
  std::vector<std::uint16_t> timers;
  p.OnTriggerTimer = [&](std::uint16_t h) { timers.push_back(h); };
  TakeAll(p);
  p.SetOpen(true);
  const std::uint16_t h = p.AddTimerTrigger();
  p.SetTimerTrigger(h, 2, true);
  ASSERT_TRUE(PumpUntil([&] { return !timers.empty(); }));
  EXPECT_EQ(h, timers[0]);
  // Fired once per start: a further wait of the period brings nothing more.
  const auto until = std::chrono::steady_clock::now() + 250ms;
  PumpUntil([&] { return std::chrono::steady_clock::now() > until; });
  EXPECT_EQ(1u, timers.size());
  // Stopped, it does not fire; a removed trigger is no longer known.
  p.SetTimerTrigger(h, 1, true);
  p.SetTimerTrigger(h, 0, false);
  p.RemoveTrigger(h);
  EXPECT_THROW(p.SetTimerTrigger(h, 1, true), EBadTriggerHandle);
  EXPECT_EQ(1u, timers.size());
}

TEST_F(ComPortTest, AnUnpluggedLeadStopsEveryThreadAndIsReportedOnce) {
  TSerComPort& p = MakePort(peer.Path());
  TakeAll(p);
  p.SetOpen(true);
  const std::uint16_t h = p.AddTimerTrigger();
  int timers = 0;
  p.OnTriggerTimer = [&](std::uint16_t) { ++timers; };
  peer.Write("abc");
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 3; }));
  p.SetTimerTrigger(h, 3, true);
  peer.Close();
  TSerBaseDispatcher* d = p.Dispatcher();
  ASSERT_TRUE(PumpUntil([&] { return d->ActiveThreads() == 0 && !threadErrors.empty(); }));
  PumpPending();
  ASSERT_EQ(1u, threadErrors.size());
  EXPECT_EQ("Device read error", threadErrors[0]);
  const int eventsAtFailure = availEvents;
  // The component still reads as open but is dead: no event, not even the armed timer.
  const auto until = std::chrono::steady_clock::now() + 300ms;
  PumpUntil([&] { return std::chrono::steady_clock::now() > until; });
  EXPECT_EQ(0, timers);
  EXPECT_EQ(eventsAtFailure, availEvents);
  EXPECT_TRUE(p.Open());
  EXPECT_THROW(p.PutString("x"), ECommNotOpen);
  EXPECT_THROW(p.FlushInBuffer(), ECommNotOpen);
  p.SetOpen(false);
  EXPECT_FALSE(p.Open());
  EXPECT_EQ(1u, threadErrors.size());
}

TEST_F(ComPortTest, ClosingFromInsideItsOwnAvailHandlerReturnsAtOnceAndFinishesAfterIt) {
  TSerComPort& p = MakePort(peer.Path());
  std::chrono::steady_clock::duration took{};
  bool closed = false;
  p.OnTriggerAvail = [&](std::uint16_t count) {
    for (std::uint16_t i = 0; i < count; ++i) p.GetChar();
    if (closed) return;
    closed = true;
    const auto start = std::chrono::steady_clock::now();
    p.SetOpen(false);
    took = std::chrono::steady_clock::now() - start;
  };
  p.SetOpen(true);
  peer.Write("y");
  ASSERT_TRUE(PumpUntil([&] { return closed && !p.Open(); }, 10000ms));
  EXPECT_LT(took, 1000ms);
  EXPECT_EQ(nullptr, p.Dispatcher());
  // The port opens again afterwards.
  p.SetOpen(true);
  EXPECT_TRUE(p.Open());
}

TEST_F(ComPortTest, AnExceptionInAHandlerIsReportedAndEventsGoOn) {
  TSerComPort& p = MakePort(peer.Path());
  std::vector<std::string> reported;
  p.OnHandlerException = [&](const std::exception& e) { reported.push_back(e.what()); };
  p.OnTriggerAvail = [&](std::uint16_t count) {
    for (std::uint16_t i = 0; i < count; ++i) received.push_back(p.GetChar());
    if (received.size() == 1) (void)p.GetChar();  // nothing unread: raises
  };
  p.SetOpen(true);
  peer.Write("a");
  ASSERT_TRUE(PumpUntil([&] { return !reported.empty(); }));
  EXPECT_EQ("Buffer is empty", reported[0]);
  peer.Write("b");
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 2; }));
  EXPECT_EQ("ab", received);
}

TEST_F(ComPortTest, ManyOpenCloseCyclesLeaveNoThreadOrDescriptorBehind) {
  TSerComPort& p = MakePort(peer.Path());
  TakeAll(p);
  p.SetOpen(true);
  p.SetOpen(false);
  const int fds = CountEntries("/proc/self/fd");
  const int threads = CountEntries("/proc/self/task");
  for (int i = 0; i < 100; ++i) {
    p.SetOpen(true);
    p.PutString("z");
    p.SetOpen(false);
  }
  EXPECT_EQ(fds, CountEntries("/proc/self/fd"));
  EXPECT_EQ(threads, CountEntries("/proc/self/task"));
  // The lock went with the descriptor: another opener can have the device now.
  const int fd = ::open(peer.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(0, ::flock(fd, LOCK_EX | LOCK_NB));
  ::close(fd);
}

TEST_F(ComPortTest, ChangingTheNumberOfAnOpenPortReopensIt) {
  PtyPeer other;
  TSerComPort& p = MakePort(peer.Path());
  p.DevicePath = [&](int n) { return std::optional<std::string>(n == 7 ? peer.Path() : other.Path()); };
  TakeAll(p);
  p.SetOpen(true);
  p.SetComNumber(9);
  EXPECT_TRUE(p.Open());
  EXPECT_EQ(9, p.ComNumber());
  other.Write("k");
  ASSERT_TRUE(PumpUntil([&] { return received == "k"; }));
}

}  // namespace
}  // namespace tarvex

namespace tarvex {
namespace {

// The device's error numbers become the layer's own codes in one place: a missing device, one
// held elsewhere, a refused permission (which names the dialout group) and the rest in the
// system's own words. An I/O error is not "being used by another program".
TEST(DeviceErrors, EachSystemErrorSaysWhatHappened) {
  for (int e : {ENOENT, ENODEV, ENXIO}) EXPECT_EQ(-kNoSuchDevice, TranslateDeviceErrno(e)) << e;
  EXPECT_EQ(-kDeviceHeldElsewhere, TranslateDeviceErrno(EBUSY));
  for (int e : {EACCES, EPERM}) {
    try {
      RaiseSerialError(TranslateDeviceErrno(e));
      ADD_FAILURE() << e;
    } catch (const EPermissionDenied& x) {
      EXPECT_NE(std::string(x.what()).find("dialout"), std::string::npos);
    }
  }
  EXPECT_NE(-kDeviceHeldElsewhere, TranslateDeviceErrno(EIO));
  try {
    RaiseSerialError(TranslateDeviceErrno(EIO));
    ADD_FAILURE() << "EIO raised nothing";
  } catch (const EDeviceError& x) {
    EXPECT_EQ(std::string(x.what()), "Serial device error: Input/output error");
  }
}

class PosixLine : public ComPortTest {
 protected:
  void SetUp() override {
    ComPortTest::SetUp();
    std::string name = peer.Path().substr(5);  // pts/N
    std::replace(name.begin(), name.end(), '/', '_');
    lockFile = lockDir + "/LCK.." + name;
  }
  TSerComPort& MakeLockedPort() {
    TSerComPort& p = MakePort(peer.Path());
    p.MakeDispatcher = [this](void* owner) {
      auto d = std::make_unique<TSerPosixDispatcher>(owner);
      d->LockDir = lockDir;
      return d;
    };
    return p;
  }
  void WriteLock(pid_t pid) const { std::ofstream(lockFile) << std::setw(10) << pid << "\n"; }
  test::TempDir lockTemp{"tarvex-lock"};
  std::string lockDir = lockTemp.Path();
  std::string lockFile;
};

// A terminal program's lock file keeps the port: it is "being used by another program"; a lock
// left by a process that has gone is removed; the port's own lock goes on every close.
TEST_F(PosixLine, TheUucpLockFileIsHonouredTakenAndReleased) {
  WriteLock(::getppid());  // a live process
  TSerComPort& p = MakeLockedPort();
  EXPECT_THROW(p.SetOpen(true), EAlreadyOpen);

  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  WriteLock(child);  // gone
  p.SetOpen(true);
  ASSERT_TRUE(p.Open());
  std::ifstream in(lockFile);
  int owner = 0;
  in >> owner;
  EXPECT_EQ(owner, ::getpid());
  p.SetOpen(false);
  EXPECT_FALSE(std::filesystem::exists(lockFile));

  // After the lead failed too.
  p.SetOpen(true);
  ASSERT_TRUE(std::filesystem::exists(lockFile));
  peer.Close();
  ASSERT_TRUE(PumpUntil([&] { return !threadErrors.empty(); }));
  p.SetOpen(false);
  EXPECT_FALSE(std::filesystem::exists(lockFile));
}

// Exclusive use ends with the port: another program (or user) may open the line afterwards, and
// it finds the settings as they were before.
TEST_F(PosixLine, ALineIsLeftAsItWasFound) {
  const int mine = ::open(peer.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(mine, 0);
  termios before{};
  ASSERT_EQ(0, ::tcgetattr(mine, &before));
  TSerComPort& p = MakeLockedPort();
  p.SetOpen(true);
  int exclusive = 0;
  ASSERT_EQ(0, ::ioctl(mine, TIOCGEXCL, &exclusive));
  EXPECT_NE(0, exclusive);
  p.SetOpen(false);
  ASSERT_EQ(0, ::ioctl(mine, TIOCGEXCL, &exclusive));
  EXPECT_EQ(0, exclusive);
  termios after{};
  ASSERT_EQ(0, ::tcgetattr(mine, &after));
  EXPECT_EQ(before.c_lflag, after.c_lflag);
  EXPECT_EQ(before.c_iflag, after.c_iflag);
  EXPECT_EQ(before.c_oflag, after.c_oflag);
  ::close(mine);
}

// Closing a port whose lead has gone does not wait for a flush that no thread will acknowledge.
TEST_F(PosixLine, ClosingAfterAFailureIsQuick) {
  TSerComPort& p = MakeLockedPort();
  p.SetOpen(true);
  p.PutString(std::string(64, 'x'));
  peer.Close();
  ASSERT_TRUE(PumpUntil([&] { return !threadErrors.empty(); }));
  const auto start = std::chrono::steady_clock::now();
  p.SetOpen(false);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

}  // namespace
}  // namespace tarvex
