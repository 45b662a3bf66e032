#include "tools/demo/Demo.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "app/platform/SystemServices.h"
#include "devices/PortNames.h"

namespace tarvex {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kPortsEnv = "TARVEX_PORTS_DIR";
constexpr const char* kSettingsKey = "Software\\Tarvex Ltd\\Tarvex Flash Programer\\1.20.0.0";
// How long the emulator gets to leave after SIGTERM before it is killed.
constexpr auto kStopGrace = std::chrono::milliseconds(3000);
// The one line the emulator prints on stdout once its port stands; anything longer is not it.
constexpr std::size_t kMaxReadyLine = 4096;

std::string ErrnoText(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

}  // namespace

std::unique_ptr<TDemoSession> TDemoSession::Start(const TDemoConfig& config, std::string& error) {
  std::unique_ptr<TDemoSession> s(new TDemoSession());
  if (!s->Launch(config, error)) {
    s->Stop();
    return nullptr;
  }
  return s;
}

bool TDemoSession::Launch(const TDemoConfig& config, std::string& error) {
  if (::access(config.SimPath.c_str(), X_OK) != 0) {
    error = ErrnoText("the panel emulator " + config.SimPath);
    return false;
  }
  std::string tmpl = (fs::temp_directory_path() / "tarvex-demo-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) {
    error = ErrnoText("temporary folder");
    return false;
  }
  folder_ = tmpl;
  portsDir_ = folder_ + "/ports";
  settingsFile_ = folder_ + "/settings.reg";
  transcript_ = folder_ + "/panel.log";
  std::error_code ec;
  fs::create_directory(portsDir_, ec);
  if (ec) {
    error = "temporary folder: " + ec.message();
    return false;
  }

  // Everything the child needs is made before the fork: after it only exec-safe calls are made.
  std::vector<std::string> args{config.SimPath, "--ports-dir", portsDir_, "--log", transcript_};
  args.insert(args.end(), config.SimArgs.begin(), config.SimArgs.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    error = ErrnoText("pipe");
    return false;
  }
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ < 0) {
    error = ErrnoText("fork");
    ::close(out[0]);
    ::close(out[1]);
    return false;
  }
  if (pid_ == 0) {
    // The emulator goes when the program goes, even when the program dies without tidying up.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    ::dup2(out[1], STDOUT_FILENO);
    // Nothing of the program's (an open port, a test runner's pipes) stays open in the emulator.
    ::close_range(3, ~0U, 0);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);

  const char* old = std::getenv(kPortsEnv);
  hadPortsEnv_ = old != nullptr;
  if (old != nullptr) oldPortsEnv_ = old;
  ::setenv(kPortsEnv, portsDir_.c_str(), 1);

  const bool ready = WaitReady(out[0], config.ReadyTimeout, error);
  ::close(out[0]);
  if (!ready) return false;

  TSystemServicesOptions options;
  options.SettingsFile = settingsFile_;
  const TSystemServices system = MakeSystemServices(options);
  if (auto key = system.Settings->OpenKey(kSettingsKey, true)) {
    // The simulated panel's port is chosen already.
    key->WriteInteger("USB-Bridge Port", com_);
    if (!config.SampleFolder.empty()) key->WriteString("Last Folder", config.SampleFolder + "/");
    key->Close();
  }
  return true;
}

// Reads the emulator's first stdout line ("... on /dev/pts/N as <folder>/COM<n>") until the
// deadline, the end of its output, or its exit.
bool TDemoSession::WaitReady(int fd, std::chrono::milliseconds timeout, std::string& error) {
  const auto deadline = Clock::now() + timeout;
  std::string line;
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      error = "the panel emulator did not get ready in time";
      return false;
    }
    pollfd p{fd, POLLIN, 0};
    const int n = ::poll(&p, 1, static_cast<int>(left.count()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) continue;
    char buf[256];
    const ssize_t got = ::read(fd, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      error = "the panel emulator ended before its port was ready";
      return false;
    }
    line.append(buf, static_cast<std::size_t>(got));
    if (line.size() > kMaxReadyLine) {
      error = "the panel emulator said something unexpected";
      return false;
    }
  }
  line.erase(line.find('\n'));
  const auto as = line.rfind(" as ");
  const std::optional<int> com =
      as == std::string::npos ? std::nullopt : ComNumberOf(fs::path(line.substr(as + 4)).filename().string());
  if (!com) {
    error = "the panel emulator registered no port: " + line;
    return false;
  }
  com_ = *com;
  return true;
}

bool TDemoSession::ChildExited() {
  if (pid_ <= 0 || exited_) return true;
  int status = 0;
  const pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r == pid_ || (r < 0 && errno == ECHILD)) exited_ = true;
  return exited_;
}

void TDemoSession::Stop() {
  if (pid_ > 0 && !ChildExited()) {
    ::kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + kStopGrace;
    while (!ChildExited() && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!ChildExited()) {
      ::kill(pid_, SIGKILL);
      while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
      exited_ = true;
    }
  }
  pid_ = -1;
  if (!folder_.empty()) {
    std::error_code ec;
    fs::remove_all(folder_, ec);
    const char* now = std::getenv(kPortsEnv);
    if (now != nullptr && portsDir_ == now) {
      if (hadPortsEnv_) {
        ::setenv(kPortsEnv, oldPortsEnv_.c_str(), 1);
      } else {
        ::unsetenv(kPortsEnv);
      }
    }
    folder_.clear();
  }
}

TDemoSession::~TDemoSession() {
  Stop();
}

std::string RunningProgramFolder() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.parent_path().string();
}

std::string DemoSimulatorPath(const std::string& programFolder) {
  return programFolder + "/tarvex-panel-sim";
}

std::string DemoSampleFolder(const std::string& programFolder) {
  return programFolder + "/demo";
}

}  // namespace tarvex
