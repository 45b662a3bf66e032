#include "tools/panel-sim/SimLine.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "devices/LinuxPorts.h"
#include <thread>

namespace tarvex::panelsim {

namespace fs = std::filesystem;

namespace {

// How long the loop waits for input when nothing is due.
constexpr int kIdlePollMs = 100;
constexpr std::uint64_t kBatchUs = 1000;
// Longest wait for the program to take the last answer before the lead goes.
constexpr int kDrainLimitMs = 1000;
constexpr int kDrainSettleMs = 100;

bool MakeRaw(int fd) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return false;
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  ::cfsetispeed(&t, B115200);
  ::cfsetospeed(&t, B115200);
  return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

void SleepMs(std::uint32_t ms, const std::atomic<bool>& stop) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!stop.load() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        std::chrono::milliseconds(20), end - std::chrono::steady_clock::now()));
  }
}

}  // namespace

TSimLine::TSimLine(const TSimOptions& opts, TPanelSim& sim) : opts_(opts), sim_(sim) {
  startUs_ = NowUs();
  byteUs_ = opts.Baud == 0 ? 0 : (10'000'000ull + opts.Baud - 1) / opts.Baud;
}

TSimLine::~TSimLine() {
  Unregister();
  CloseLine();
}

std::uint64_t TSimLine::NowUs() const {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count()) -
         startUs_;
}

bool TSimLine::Open(std::string& error) {
  if (!opts_.Device.empty()) return OpenDevice(error);
  if (!OpenPty(error)) return false;
  return !opts_.Register || Register(error);
}

bool TSimLine::OpenPty(std::string& error) {
  fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) {
    error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    CloseLine();
    return false;
  }
  char name[128] = {};
  if (::ptsname_r(fd_, name, sizeof name) != 0) {
    error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
    CloseLine();
    return false;
  }
  device_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  // Raw from the start: an echoing terminal would hand the product its own replies.
  if (slave_ < 0 || !MakeRaw(slave_)) {
    error = "cannot set up " + device_ + ": " + std::strerror(errno);
    CloseLine();
    return false;
  }
  return true;
}

bool TSimLine::OpenDevice(std::string& error) {
  fd_ = ::open(opts_.Device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0 || !MakeRaw(fd_)) {
    error = "cannot open " + opts_.Device + ": " + std::strerror(errno);
    CloseLine();
    return false;
  }
  device_ = opts_.Device;
  return true;
}

bool TSimLine::Register(std::string& error) {
  const fs::path dir = opts_.PortsDir.empty() ? DefaultPortsDir() : opts_.PortsDir;
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    error = "cannot create " + dir.string() + ": " + ec.message();
    return false;
  }
  if (com_ == 0) {
    com_ = opts_.Com ? *opts_.Com : LowestFreeCom(dir.string());
    const fs::path taken = dir / ("COM" + std::to_string(com_));
    // An explicit number may replace a dangling link that an earlier run left behind.
    if (fs::is_symlink(fs::symlink_status(taken, ec)) && !fs::exists(taken, ec)) fs::remove(taken, ec);
    if (fs::exists(fs::symlink_status(taken, ec))) {
      error = taken.string() + " is taken";
      return false;
    }
  }
  const fs::path path = dir / ("COM" + std::to_string(com_));
  // A USB serial lead arrives as its USB device first, then its serial port, as the PC counts
  // them: the device's entry is made before the port's link.
  const fs::path usb = dir / UsbDeviceEntryName("COM" + std::to_string(com_));
  const fs::path usbTmp = dir / (".USB" + std::to_string(com_) + ".tmp" + std::to_string(::getpid()));
  std::ofstream(usbTmp) << device_ << "\n";
  fs::rename(usbTmp, usb, ec);
  if (ec) {
    fs::remove(usbTmp, ec);
    error = "cannot create the USB device entry " + usb.string() + ": " + ec.message();
    return false;
  }
  usbEntry_ = usb.string();
  // Made under a temporary name and renamed, so a watcher sees the port appear whole.
  const fs::path tmp = dir / (".COM" + std::to_string(com_) + ".tmp" + std::to_string(::getpid()));
  fs::remove(tmp, ec);
  fs::create_symlink(device_, tmp, ec);
  if (!ec) fs::rename(tmp, path, ec);
  if (ec) {
    fs::remove(tmp, ec);
    error = "cannot create the port link " + path.string() + ": " + ec.message();
    Unregister();
    return false;
  }
  link_ = path.string();
  return true;
}

void TSimLine::Unregister() {
  std::error_code ec;
  // The port goes first, then its USB device. Only a link that still names this emulator's
  // device is removed.
  if (!link_.empty() && fs::is_symlink(fs::symlink_status(link_, ec)) && fs::read_symlink(link_, ec) == device_)
    fs::remove(link_, ec);
  link_.clear();
  if (!usbEntry_.empty()) fs::remove(usbEntry_, ec);
  usbEntry_.clear();
}

void TSimLine::CloseLine() {
  if (slave_ >= 0) ::close(slave_);
  if (fd_ >= 0) ::close(fd_);
  slave_ = fd_ = -1;
}

bool TSimLine::Replug(std::uint32_t ms, const std::atomic<bool>& stop) {
  if (!opts_.Device.empty()) {
    // A real adapter cannot be pulled from here: the product just hears nothing for a while.
    SleepMs(ms, stop);
    char buf[256];
    while (::read(fd_, buf, sizeof buf) > 0) {
    }
    return true;
  }
  sim_.Annotate("line: lead out", NowUs() / 1000);
  Unregister();
  CloseLine();
  SleepMs(ms, stop);
  std::string error;
  if (!OpenPty(error) || (opts_.Register && !Register(error))) {
    std::fprintf(stderr, "tarvex-panel-sim: %s\n", error.c_str());
    return false;
  }
  const std::string where = device_ + (link_.empty() ? "" : " as " + link_);
  sim_.Annotate("line: back on " + where, NowUs() / 1000);
  std::printf("tarvex-panel-sim: back on %s\n", where.c_str());
  std::fflush(stdout);
  return true;
}

void TSimLine::DrainOutput() {
  if (slave_ < 0) {
    if (fd_ >= 0) ::tcdrain(fd_);
    return;
  }
  // Closing the pseudo-terminal throws away what the program has not read yet; the product's
  // last answer (the GO acknowledgement) reached the PC before its lead went, so wait for it.
  // The terminal hands written bytes over a moment later, so an empty queue counts only once
  // that moment has passed.
  const auto start = std::chrono::steady_clock::now();
  const auto settled = start + std::chrono::milliseconds(kDrainSettleMs);
  const auto end = start + std::chrono::milliseconds(kDrainLimitMs);
  for (;;) {
    int waiting = 0;
    const auto now = std::chrono::steady_clock::now();
    if (::ioctl(slave_, FIONREAD, &waiting) != 0 || now > end || (waiting == 0 && now > settled)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void TSimLine::Schedule(const std::vector<TSimAction>& actions, std::uint64_t nowUs) {
  std::uint64_t base = std::max(nowUs, rxDoneUs_);
  for (const TSimAction& a : actions) {
    base += std::uint64_t{a.DelayMs} * 1000;
    if (a.What != TSimAction::Kind::Send) {
      pending_.push_back({std::max(base, txFreeUs_), a.What, {}});
      continue;
    }
    if (byteUs_ == 0) {
      pending_.push_back({base, a.What, a.Bytes});
      continue;
    }
    // A byte is handed over once its ten bits have gone down the line.
    for (char c : a.Bytes) {
      txFreeUs_ = std::max(base, txFreeUs_) + byteUs_;
      pending_.push_back({txFreeUs_, a.What, ByteString(1, c)});
    }
    base = txFreeUs_;
  }
}

bool TSimLine::Flush(std::uint64_t nowUs, const std::atomic<bool>& stop) {
  while (!pending_.empty() && pending_.front().DueUs <= nowUs) {
    TPending& p = pending_.front();
    if (p.What == TSimAction::Kind::Send) {
      const ssize_t n = ::write(fd_, p.Bytes.data(), p.Bytes.size());
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) {
          blocked_ = true;  // the line is full: when it has room again
          return true;
        }
        // Nobody takes the bytes (a real device gone): they are lost, as on a dead line.
        pending_.pop_front();
        continue;
      }
      p.Bytes.erase(0, static_cast<std::size_t>(n));
      if (p.Bytes.empty()) pending_.pop_front();
      continue;
    }
    const TSimAction::Kind what = p.What;
    pending_.pop_front();
    DrainOutput();
    if (what == TSimAction::Kind::Unplug) {
      pending_.clear();
      if (!Replug(opts_.ReplugMs, stop)) return false;
    } else {
      for (std::uint32_t i = 0; i < sim_.Config().Reenumerations && !stop.load(); ++i) {
        if (!Replug(opts_.ReenumerateMs, stop)) return false;
        if (i + 1 < sim_.Config().Reenumerations) SleepMs(opts_.ReenumerateMs, stop);
      }
    }
    rxDoneUs_ = txFreeUs_ = 0;
  }
  return true;
}

int TSimLine::Run(const std::atomic<bool>& stop) {
  char buf[4096];
  // Paced bytes are due to the microsecond; the usual 50 us of timer slack on every wait would
  // count against the programmer on each exchange.
  if (byteUs_ != 0) ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  while (!stop.load()) {
    // Bytes go out in batches of about a millisecond, as a USB serial lead hands them over, but
    // the last byte waiting leaves exactly when it is due: a reply finishing up to a millisecond
    // late on every exchange would slow a long update by several percent.
    std::uint64_t timeoutUs = std::uint64_t{kIdlePollMs} * 1000;
    const std::uint64_t now = NowUs();
    if (!pending_.empty()) {
      const std::uint64_t batch = opts_.Bytewise ? 0 : kBatchUs;
      const std::uint64_t wake =
          std::min(std::max(pending_.front().DueUs, now + batch), pending_.back().DueUs);
      timeoutUs = wake <= now ? 0 : std::min<std::uint64_t>(wake - now, timeoutUs);
    }
    // Waiting on a full line rather than spinning on the due bytes.
    pollfd pfd{fd_, static_cast<short>(blocked_ ? POLLIN | POLLOUT : POLLIN), 0};
    if (blocked_) timeoutUs = std::uint64_t{kIdlePollMs} * 1000;
    blocked_ = false;
    const timespec wait{static_cast<time_t>(timeoutUs / 1000000),
                        static_cast<long>((timeoutUs % 1000000) * 1000)};
    const int r = ::ppoll(&pfd, 1, &wait, nullptr);
    if (r < 0 && errno != EINTR) {
      std::perror("tarvex-panel-sim: poll");
      return 1;
    }
    if (r > 0 && (pfd.revents & POLLIN) != 0) {
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n > 0) {
        const std::uint64_t t = NowUs();
        rxDoneUs_ = std::max(rxDoneUs_, t) + static_cast<std::uint64_t>(n) * byteUs_;
        Schedule(sim_.Feed(std::string_view(buf, static_cast<std::size_t>(n)), t / 1000), t);
      }
    } else if (r > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      // A hung-up device: wait rather than spin.
      std::this_thread::sleep_for(std::chrono::milliseconds(kIdlePollMs));
    }
    if (!Flush(NowUs(), stop)) return 1;
  }
  return 0;
}

}  // namespace tarvex::panelsim
