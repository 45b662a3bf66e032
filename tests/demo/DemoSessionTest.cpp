// The demonstration's launcher: the emulator started on a port of its own, found by the port
// list, and everything undone at the end, in bounded time, whatever became of the emulator.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "app/platform/LinuxSettingsStore.h"
#include "devices/LinuxPorts.h"
#include "support/TempDir.h"
#include "support/WaitFor.h"
#include "tools/demo/Demo.h"

namespace tarvex {
namespace {

using test::WaitFor;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Gone, or a zombie nobody has reaped yet: either way no longer running.
bool ProcessEnded(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string pidText, name, state;
  if (!(stat >> pidText >> name >> state)) return true;
  return state == "Z" || state == "X";
}

class DemoSession : public ::testing::Test {
 protected:
  void SetUp() override {
    // Each test's temporary folders go into a folder of its own, so leftovers can be counted.
    temp_ = std::make_unique<test::TempDir>("tarvex-demo-test");
    tmp_ = temp_->Path();
    const char* old = std::getenv("TMPDIR");
    if (old != nullptr) oldTmp_ = old;
    ::setenv("TMPDIR", tmp_.c_str(), 1);
    ::setenv("TARVEX_PORTS_DIR", "/before/the/demo", 1);
  }
  void TearDown() override {
    session_.reset();
    if (oldTmp_.empty()) {
      ::unsetenv("TMPDIR");
    } else {
      ::setenv("TMPDIR", oldTmp_.c_str(), 1);
    }
    ::unsetenv("TARVEX_PORTS_DIR");
    temp_.reset();
  }
  [[nodiscard]] std::size_t Leftovers() const {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(tmp_)) ++n;
    return n - (fs::exists(tmp_ / "scripts") ? 1 : 0);
  }
  // A stand-in for the emulator: a shell script in the test's folder.
  std::string Script(const std::string& name, const std::string& body) {
    fs::create_directories(tmp_ / "scripts");
    const fs::path file = tmp_ / "scripts" / name;
    std::ofstream(file) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(file, fs::perms::owner_all);
    return file.string();
  }
  TDemoConfig Emulator() {
    TDemoConfig c;
    c.SimPath = TARVEX_PANEL_SIM_EXE;
    c.SimArgs = {"--baud", "0"};
    c.SampleFolder = "/opt/samples";
    return c;
  }

  fs::path tmp_;

  std::unique_ptr<test::TempDir> temp_;
  std::string oldTmp_;
  std::unique_ptr<TDemoSession> session_;
  std::string error_;
};

TEST_F(DemoSession, TheEmulatorIsTheOnlyPortAndTheDialogStartsAtTheSamples) {
  session_ = TDemoSession::Start(Emulator(), error_);
  ASSERT_NE(session_, nullptr) << error_;
  EXPECT_EQ(session_->ComNumber(), 20);
  EXPECT_EQ(std::getenv("TARVEX_PORTS_DIR"), session_->PortsDir());
  EXPECT_EQ(fs::path(session_->PortsDir()).parent_path(), fs::path(session_->Folder()));
  EXPECT_EQ(fs::path(session_->Folder()).parent_path(), tmp_);

  // The program's port list, made as in the demonstration, offers the emulator alone.
  LinuxPorts ports(LinuxPorts::DefaultPortsDir(), "", "");
  EXPECT_EQ(ports.PortNames(), std::vector<std::string>{"COM20"});
  const auto device = ports.DevicePathFor(20);
  ASSERT_TRUE(device.has_value());
  EXPECT_EQ(device->rfind("/dev/pts/", 0), 0u) << *device;

  LinuxSettingsStore store(session_->SettingsFile());
  auto key = store.OpenKey("Software\\Tarvex Ltd\\Tarvex Flash Programer\\1.20.0.0", false);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->ReadString("Last Folder"), "/opt/samples/");
  EXPECT_EQ(key->ReadInteger("USB-Bridge Port"), 20);
  EXPECT_FALSE(key->ValueExists("Show UDL Message"));

  EXPECT_FALSE(session_->ChildExited());
  const pid_t pid = session_->ChildPid();
  const std::string folder = session_->Folder();
  const auto t0 = Clock::now();
  session_->Stop();
  EXPECT_LT(Clock::now() - t0, 2s) << "the emulator leaves at once when asked";
  EXPECT_TRUE(ProcessEnded(pid));
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_STREQ(std::getenv("TARVEX_PORTS_DIR"), "/before/the/demo");
  EXPECT_TRUE(session_->ChildExited());
  session_->Stop();  // twice is harmless
}

TEST_F(DemoSession, AnEmulatorThatCannotStartIsToldAndLeavesNothingBehind) {
  struct Case {
    const char* what;
    std::string path;
    std::vector<std::string> args;
    std::string error;
  };
  const std::vector<Case> cases{
      {"missing", (tmp_ / "no-such-emulator").string(), {}, "no-such-emulator"},
      {"bad option", TARVEX_PANEL_SIM_EXE, {"--no-such-option"}, "ended before its port was ready"},
      {"other output",
       Script("chatty", "echo hello there; exec sleep 30"),
       {},
       "registered no port: hello there"},
      {"silent", Script("silent", "exec sleep 30"), {}, "did not get ready in time"},
      {"endless line", Script("endless", "exec tr '\\0' x </dev/zero"), {}, "unexpected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TDemoConfig config = Emulator();
    config.SimPath = c.path;
    config.SimArgs = c.args;
    config.ReadyTimeout = 500ms;
    const auto t0 = Clock::now();
    auto s = TDemoSession::Start(config, error_);
    EXPECT_LT(Clock::now() - t0, 4s);
    EXPECT_EQ(s, nullptr);
    EXPECT_NE(error_.find(c.error), std::string::npos) << error_;
    EXPECT_EQ(Leftovers(), 0u);
    EXPECT_STREQ(std::getenv("TARVEX_PORTS_DIR"), "/before/the/demo");
  }
}

TEST_F(DemoSession, AnEmulatorThatCrashesIsNoticedAndStopIsStillPrompt) {
  session_ = TDemoSession::Start(Emulator(), error_);
  ASSERT_NE(session_, nullptr) << error_;
  ASSERT_EQ(::kill(session_->ChildPid(), SIGKILL), 0);
  EXPECT_TRUE(WaitFor([&] { return session_->ChildExited(); }));
  const auto t0 = Clock::now();
  const std::string folder = session_->Folder();
  session_->Stop();
  EXPECT_LT(Clock::now() - t0, 1s);
  EXPECT_FALSE(fs::exists(folder));
}

TEST_F(DemoSession, AnEmulatorDeafToTheStopRequestIsKilledAfterItsGrace) {
  const std::string stubborn =
      Script("stubborn",
             "trap '' TERM\n"
             "echo \"tarvex-panel-sim: product 120 version 1.00 on /dev/null as $2/COM33\"\n"
             "while :; do sleep 1; done");
  TDemoConfig config = Emulator();
  config.SimPath = stubborn;
  config.SimArgs = {};
  session_ = TDemoSession::Start(config, error_);
  ASSERT_NE(session_, nullptr) << error_;
  EXPECT_EQ(session_->ComNumber(), 33);
  const pid_t pid = session_->ChildPid();
  const auto t0 = Clock::now();
  session_->Stop();
  const auto took = Clock::now() - t0;
  EXPECT_GE(took, 2900ms);
  EXPECT_LT(took, 5s);
  EXPECT_TRUE(ProcessEnded(pid));
  EXPECT_EQ(Leftovers(), 0u);
}

// A program that dies without tidying up still takes its emulator with it.
TEST_F(DemoSession, TheEmulatorEndsWhenTheProgramDies) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t program = ::fork();
  ASSERT_GE(program, 0);
  if (program == 0) {
    ::close(fds[0]);
    std::string error;
    auto s = TDemoSession::Start(Emulator(), error);
    const pid_t sim = s ? s->ChildPid() : -1;
    if (::write(fds[1], &sim, sizeof sim) != sizeof sim) ::_exit(2);
    ::_exit(0);  // no destructors: as in a crash
  }
  ::close(fds[1]);
  pid_t sim = -1;
  ASSERT_EQ(::read(fds[0], &sim, sizeof sim), static_cast<ssize_t>(sizeof sim));
  ::close(fds[0]);
  ::waitpid(program, nullptr, 0);
  ASSERT_GT(sim, 0);
  EXPECT_TRUE(WaitFor([&] { return ProcessEnded(sim); }));
  // It left as it does when stopped: its port link went with it.
  for (const auto& e : fs::directory_iterator(tmp_)) {
    if (e.path().filename() != "scripts") {
      EXPECT_FALSE(fs::exists(fs::symlink_status(e.path() / "ports" / "COM20")));
    }
  }
}

}  // namespace
}  // namespace tarvex
