// The emulator executable on a pseudo-terminal: port link, traffic, re-enumeration after GO,
// transcript and clean exit.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <thread>

#include "link/AccessCodes.h"
#include "link/Frame.h"
#include "support/TempDir.h"
#include "support/WaitFor.h"

extern char** environ;

namespace tarvex {
namespace {

using test::WaitFor;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kDeadline = std::chrono::seconds(10);

ByteString Request(std::uint16_t param, const ByteString& data = {}) {
  ByteString p;
  EncodeLinkRequest(p, {param, 1, 1, data});
  FrameAddCrc(p);
  return p;
}

class SimExecutable : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_ = std::make_unique<test::TempDir>("panelsim-e2e");
    dir_ = temp_->Path();
  }
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) ::close(fd_);
    if (HasFailure()) {
      std::ifstream log(dir_ / "log.txt");
      std::cerr << "transcript:\n" << log.rdbuf();
    }
    temp_.reset();
  }

  void Start(std::vector<std::string> extra, bool viaLink = true) {
    std::vector<std::string> args = {
        TARVEX_PANEL_SIM_EXE,       "--ports-dir", (dir_ / "ports").string(), "--com", "31", "--log",
        (dir_ / "log.txt").string()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    ASSERT_EQ(posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    if (!viaLink) return;
    ASSERT_TRUE(WaitFor([&] { return fs::exists(Link()); }));
    OpenLink();
  }
  std::string Transcript() const {
    std::ifstream log(dir_ / "log.txt");
    std::stringstream s;
    s << log.rdbuf();
    return s.str();
  }
  fs::path Link() const { return dir_ / "ports" / "COM31"; }
  void OpenLink() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = ::open(Link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd_, 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(fd_, &t), 0);
    ::cfmakeraw(&t);
    ASSERT_EQ(::tcsetattr(fd_, TCSANOW, &t), 0);
  }
  void Write(const ByteString& b) {
    ASSERT_EQ(::write(fd_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
  }
  // Reads until `count` bytes have come or the deadline passes.
  ByteString Read(std::size_t count) {
    ByteString got;
    const auto end = Clock::now() + kDeadline;
    while (got.size() < count && Clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) > 0 && (p.revents & POLLIN) != 0) {
        char buf[512];
        const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - got.size()));
        if (n > 0) got.append(buf, static_cast<std::size_t>(n));
      }
    }
    return got;
  }
  // One whole reply frame, its records decoded.
  std::vector<TLinkReply> Exchange(const ByteString& request) {
    Write(request);
    ByteString frame = Read(2);
    if (frame.size() < 2) return {};
    frame += Read(GetLinkWord(frame, 0) - 2u);
    EXPECT_TRUE(FrameCheckCrc(frame));
    return DecodeLinkReplies(frame).value_or(std::vector<TLinkReply>{});
  }
  int Stop() {
    ::kill(pid_, SIGTERM);
    int status = -1;
    const bool done = WaitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; });
    pid_ = -1;
    return done && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path dir_;

  std::unique_ptr<test::TempDir> temp_;
  pid_t pid_ = -1;
  int fd_ = -1;
};

TEST_F(SimExecutable, ServesTheLinkReenumeratesAfterGoAndLeavesATranscript) {
  Start({"--reenumerate", "2", "--reenumerate-ms", "50", "--product", "PX-22"});
  auto r = Exchange(Request(kParamAccess, FirstAccessCode()));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].Code, kParamAccess);
  r = Exchange(Request(kParamIdentity));
  ASSERT_EQ(r.size(), 1u);
  ASSERT_EQ(r[0].Data.size(), 34u);
  EXPECT_EQ(static_cast<std::uint8_t>(r[0].Data[5]), 120);

  ASSERT_EQ(Exchange(Request(kParamBootloader, BootloaderEntryCode())).size(), 1u);
  Write("\x7F");
  EXPECT_EQ(Read(1), "\x79");
  Write("\x21\xDE");
  EXPECT_EQ(Read(1), "\x79");
  Write(ByteString("\x08\x00\x00\x00\x08", 5));
  EXPECT_EQ(Read(1), "\x79");
  // The lead leaves and returns twice; then the product answers on the new link.
  ASSERT_TRUE(WaitFor([&] {
    const std::string t = Transcript();
    std::size_t count = 0;
    for (auto at = t.find("-- line: back on"); at != std::string::npos;
         at = t.find("-- line: back on", at + 1)) {
      ++count;
    }
    return count == 2;
  }));
  OpenLink();
  r = Exchange(Request(kParamAccess, FirstAccessCode()));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].Code, kParamAccess);

  EXPECT_EQ(Stop(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(Link())));
  const std::string t = Transcript();
  EXPECT_NE(t.find(" RX 0C 00 02 00 01 00 01 00 00 00 BE CB\n"), std::string::npos);
  EXPECT_NE(t.find(" RX 21 DE\n"), std::string::npos);
  EXPECT_NE(t.find(" TX 79\n"), std::string::npos);
}

TEST_F(SimExecutable, PacedLineIsNoFasterThanTheBaudRate) {
  Start({"--baud", "9600"});
  Exchange(Request(kParamAccess, FirstAccessCode()));
  const auto t0 = Clock::now();
  const auto r = Exchange(Request(kParamIdentity));
  const auto took = Clock::now() - t0;
  ASSERT_EQ(r.size(), 1u);
  // 12 request bytes must have arrived and 46 reply bytes left, 10 bits each at 9600 baud.
  EXPECT_GE(took, std::chrono::microseconds((12 + 46) * 10 * 1'000'000 / 9600));
  EXPECT_EQ(Stop(), 0);
}

TEST_F(SimExecutable, PlaysTheProductOnAGivenSerialDevice) {
  // A pseudo-terminal's far end stands in for a USB-serial adapter.
  fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd_, 0);
  ASSERT_EQ(::grantpt(fd_), 0);
  ASSERT_EQ(::unlockpt(fd_), 0);
  const std::string device = ::ptsname(fd_);
  Start({"--device", device, "--product", "Glass Keypad", "--version", "1.30"}, false);
  // The emulator opens the device and makes it raw; until then bytes could be echoed or lost.
  ASSERT_TRUE(WaitFor([&] { return Transcript().find("ready on " + device) != std::string::npos; }));
  auto r = Exchange(Request(kParamAccess, FirstAccessCode()));
  ASSERT_EQ(r.size(), 1u);
  r = Exchange(Request(kParamIdentity));
  ASSERT_EQ(r.size(), 1u);
  ASSERT_EQ(r[0].Data.size(), 18u);
  EXPECT_EQ(r[0].Data[0], 1);
  EXPECT_EQ(r[0].Data[1], 30);
  EXPECT_EQ(r[0].Data[5], 2);
  EXPECT_FALSE(fs::exists(dir_ / "ports" / "COM31"));
  EXPECT_EQ(Stop(), 0);
}

}  // namespace
}  // namespace tarvex
