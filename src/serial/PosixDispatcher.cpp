#include "serial/PosixDispatcher.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <stdexcept>

#include "serial/SerialErrors.h"

namespace tarvex {

namespace {

// Modem line states as the layer reports them, and their change bits.
constexpr std::uint32_t MS_CTS_ON = 0x10;
constexpr std::uint32_t MS_DSR_ON = 0x20;
constexpr std::uint32_t MS_RING_ON = 0x40;
constexpr std::uint32_t MS_RLSD_ON = 0x80;
constexpr std::uint32_t EV_CTS = 0x08;
constexpr std::uint32_t EV_DSR = 0x10;
constexpr std::uint32_t EV_RLSD = 0x20;

struct SpeedRow {
  std::uint32_t baud;
  speed_t speed;
};
constexpr SpeedRow kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},         {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},         {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},       {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},   {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000},
};

std::uint32_t BaudOf(speed_t speed) {
  for (const auto& row : kSpeeds)
    if (row.speed == speed) return row.baud;
  return 0;
}

int NegErrno() {
  return TranslateDeviceErrno(errno);
}

bool ProcessAlive(pid_t pid) {
  return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// "LCK.." and the device's name below /dev, slashes made underscores (LCK..ttyUSB0, LCK..pts_3).
std::string LockName(const std::string& device) {
  std::error_code ec;
  std::string real = std::filesystem::canonical(device, ec).string();
  if (ec) real = device;
  std::string name =
      real.rfind("/dev/", 0) == 0 ? real.substr(5) : std::filesystem::path(real).filename().string();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return "LCK.." + name;
}

// The PID a lock file names (ASCII, as terminal programs write it; a binary int as old ones did).
pid_t LockOwner(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char buf[64] = {};
  const ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n == static_cast<ssize_t>(sizeof(int))) {
    int binary = 0;
    std::memcpy(&binary, buf, sizeof binary);
    if (binary > 0 && buf[0] != ' ' && (buf[0] < '0' || buf[0] > '9')) return binary;
  }
  if (n <= 0) return -1;
  char* end = nullptr;
  const long pid = std::strtol(buf, &end, 10);
  return pid > 0 && pid < 0x7FFFFFFF ? static_cast<pid_t>(pid) : -1;
}

// A wait on one descriptor (and the wake descriptor), retried when a signal cuts it short.
int PollFor(pollfd* fds, nfds_t count, std::chrono::milliseconds timeout) {
  for (;;) {
    const int r = ::poll(fds, count, static_cast<int>(timeout.count()));
    if (r >= 0 || errno != EINTR) return r;
  }
}

}  // namespace

int TranslateDeviceErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR: return -kNoSuchDevice;
    case EBUSY:
    case EWOULDBLOCK: return -kDeviceHeldElsewhere;
    case EACCES:
    case EPERM: return ecPermissionDenied;
    default: return SystemErrorCode(error);
  }
}

std::string DefaultLockDir() {
  for (const char* dir : {"/var/lock", "/run/lock"}) {
    std::error_code ec;
    if (std::filesystem::is_directory(dir, ec)) return dir;
  }
  return {};
}

std::unique_ptr<TSerBaseDispatcher> MakeDeviceDispatcher(void* owner) {
  return std::make_unique<TSerPosixDispatcher>(owner);
}

TSerPosixDispatcher::TSerPosixDispatcher(void* owner) : TSerBaseDispatcher(owner) {
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) throw std::bad_alloc();
}

TSerPosixDispatcher::~TSerPosixDispatcher() {
  Shutdown();
  JoinDeviceThreads();
  const int fd = static_cast<int>(CidEx.exchange(-1));
  if (fd >= 0) ReleaseDevice(fd);
  ReleaseLockFile();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

int TSerPosixDispatcher::TakeLockFile(const std::string& device) {
  if (LockDir.empty()) return 0;
  const std::string path = LockDir + "/" + LockName(device);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      char text[16];
      const int n = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
      [[maybe_unused]] const ssize_t w = ::write(fd, text, static_cast<std::size_t>(n));
      ::close(fd);
      lockFile_ = path;
      return 0;
    }
    if (errno != EEXIST) return 0;  // a lock folder we may not write: the other checks still hold
    const pid_t owner = LockOwner(path);
    if (ProcessAlive(owner) && owner != ::getpid()) return -kDeviceHeldElsewhere;
    // Left behind by a program that has gone: stale, and removed.
    ::unlink(path.c_str());
  }
  return 0;
}

void TSerPosixDispatcher::ReleaseLockFile() {
  if (lockFile_.empty()) return;
  if (LockOwner(lockFile_) == ::getpid()) ::unlink(lockFile_.c_str());
  lockFile_.clear();
}

int TSerPosixDispatcher::ReleaseDevice(int fd) {
  if (savedValid_) ::tcsetattr(fd, TCSANOW, &savedTio_);
  savedValid_ = false;
  ::ioctl(fd, TIOCNXCL);
  const int r = ::close(fd) == 0 ? 0 : -1;
  ReleaseLockFile();
  return r;
}

void TSerPosixDispatcher::RequestLowLatency(int fd) {
  // Only real serial drivers know this; a pseudo-terminal refuses it, which is fine.
  serial_struct ss{};
  if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) return;
  if ((ss.flags & ASYNC_LOW_LATENCY) != 0) return;
  ss.flags |= ASYNC_LOW_LATENCY;
  ::ioctl(fd, TIOCSSERIAL, &ss);
}

unsigned TSerPosixDispatcher::SpeedFor(std::uint32_t baud) {
  for (const auto& row : kSpeeds)
    if (row.baud == baud) return static_cast<unsigned>(row.speed);
  return 0;
}

// ---- Opening ---------------------------------------------------------------------------------------

int TSerPosixDispatcher::OpenCom(const std::string& comName, std::uint32_t, std::uint32_t) {
  if (comName.empty()) return -kNoSuchDevice;
  // A terminal program holding the lead says so with its lock file, whatever else it does.
  if (const int held = TakeLockFile(comName); held != 0) return held;
  const int fd = ::open(comName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    ReleaseLockFile();
    return TranslateDeviceErrno(e);
  }
  // Exclusive use: the terminal refuses further opens, and the advisory lock tells another
  // program of ours (or one running with the rights to ignore the first) that the port is taken.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    ::close(fd);
    ReleaseLockFile();
    return TranslateDeviceErrno(e);
  }
  savedValid_ = ::tcgetattr(fd, &savedTio_) == 0;
  ::ioctl(fd, TIOCEXCL);
  RequestLowLatency(fd);
  CidEx = fd;
  return fd;
}

int TSerPosixDispatcher::DeviceSetup(std::uint32_t, std::uint32_t) {
  termios tio{};
  if (::tcgetattr(Fd(), &tio) != 0) return NegErrno();  // not a terminal device
  // Start from a raw line with no flow control, whatever the last user left behind: every byte
  // value is data here.
  ::cfmakeraw(&tio);
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(Fd(), TCSANOW, &tio) != 0) return NegErrno();
  int lines = 0;
  modemLines_ = ::ioctl(Fd(), TIOCMGET, &lines) == 0;
  lastModem_ = DeviceModemStatus();
  return 0;
}

bool TSerPosixDispatcher::CheckPort(const std::string& comName) {
  const int fd = ::open(comName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EBUSY;  // exists, held elsewhere
  termios tio{};
  const bool terminal = ::tcgetattr(fd, &tio) == 0;
  ::close(fd);
  return terminal;
}

// ---- Line state ------------------------------------------------------------------------------------

int TSerPosixDispatcher::DeviceGetState(TDeviceControlBlock& dcb) {
  termios tio{};
  if (::tcgetattr(Fd(), &tio) != 0) return -1;
  dcb.BaudRate = BaudOf(::cfgetospeed(&tio));
  dcb.fBinary = true;
  switch (tio.c_cflag & CSIZE) {
    case CS5: dcb.ByteSize = 5; break;
    case CS6: dcb.ByteSize = 6; break;
    case CS7: dcb.ByteSize = 7; break;
    default: dcb.ByteSize = 8; break;
  }
  dcb.fParity = (tio.c_cflag & PARENB) != 0;
  if (!dcb.fParity) {
    dcb.Parity = 0;
  } else if ((tio.c_cflag & CMSPAR) != 0) {
    dcb.Parity = (tio.c_cflag & PARODD) != 0 ? 3 : 4;
  } else {
    dcb.Parity = (tio.c_cflag & PARODD) != 0 ? 1 : 2;
  }
  dcb.StopBits = (tio.c_cflag & CSTOPB) != 0 ? TWOSTOPBITS : ONESTOPBIT;
  dcb.fOutxCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
  dcb.fOutX = (tio.c_iflag & IXON) != 0;
  dcb.fInX = (tio.c_iflag & IXOFF) != 0;
  dcb.XonChar = static_cast<char>(tio.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
  // DTR and RTS control, the flow limits and the other fields have no terminal setting: they are
  // what was last given.
  return 0;
}

int TSerPosixDispatcher::DeviceSetState(const TDeviceControlBlock& dcb) {
  termios tio{};
  if (::tcgetattr(Fd(), &tio) != 0) return NegErrno();
  ::cfmakeraw(&tio);
  const unsigned speed = SpeedFor(dcb.BaudRate);
  if (speed == 0) return -EINVAL;
  ::cfsetispeed(&tio, static_cast<speed_t>(speed));
  ::cfsetospeed(&tio, static_cast<speed_t>(speed));
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  switch (dcb.ByteSize) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    case 8: tio.c_cflag |= CS8; break;
    default: return -EINVAL;
  }
  switch (dcb.Parity) {
    case 0: break;
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: return -EINVAL;
  }
  if (dcb.StopBits != ONESTOPBIT) tio.c_cflag |= CSTOPB;
  if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) tio.c_cflag |= CRTSCTS;
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  if (dcb.fOutX) tio.c_iflag |= IXON;
  if (dcb.fInX) tio.c_iflag |= IXOFF;
  tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  // A read never blocks (the descriptor is non-blocking); VMIN 1 makes "nothing there" an
  // EAGAIN, so a read of 0 bytes can only mean the line was hung up.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(Fd(), TCSANOW, &tio) != 0) return NegErrno();
  return 0;
}

int TSerPosixDispatcher::DeviceEscape(int func) {
  int bits = 0;
  unsigned long request = TIOCMBIS;
  switch (func) {
    case SETDTR: bits = TIOCM_DTR; break;
    case CLRDTR:
      bits = TIOCM_DTR;
      request = TIOCMBIC;
      break;
    case SETRTS: bits = TIOCM_RTS; break;
    case CLRRTS:
      bits = TIOCM_RTS;
      request = TIOCMBIC;
      break;
    default: return 0;
  }
  // A pseudo-terminal has no modem lines and refuses; there is nothing to raise on it.
  if (modemLines_) ::ioctl(Fd(), request, &bits);
  return 0;
}

std::uint32_t TSerPosixDispatcher::DeviceModemStatus() {
  if (!modemLines_ || Fd() < 0) return 0;
  int lines = 0;
  if (::ioctl(Fd(), TIOCMGET, &lines) != 0) return 0;
  std::uint32_t status = 0;
  if ((lines & TIOCM_CTS) != 0) status |= MS_CTS_ON;
  if ((lines & TIOCM_DSR) != 0) status |= MS_DSR_ON;
  if ((lines & TIOCM_RNG) != 0) status |= MS_RING_ON;
  if ((lines & TIOCM_CAR) != 0) status |= MS_RLSD_ON;
  return status;
}

std::uint32_t TSerPosixDispatcher::DeviceClearError(TComStat& stat) {
  int waiting = 0;
  if (Fd() >= 0 && ::ioctl(Fd(), FIONREAD, &waiting) == 0 && waiting > 0)
    stat.cbInQue = static_cast<std::uint32_t>(waiting);
  stat.cbOutQue = OutputRingUsed();
  // The terminal drops or marks bad characters itself; it keeps no error mask to hand back.
  return 0;
}

int TSerPosixDispatcher::DevicePurge(int queue) {
  if (queue == 0) {
    ClearOutputRing();
    const int r = Fd() >= 0 && ::tcflush(Fd(), TCOFLUSH) == 0 ? 1 : 0;
    if (ThreadRunning(TSerThreadKind::tkWrite) && !KillThreads) {
      // A block the write thread is sending is dropped too; wait for it to say so, or to stop
      // (after a failure it never answers, and the close must not wait its time-out).
      GeneralEvent.Reset();
      OutFlushEvent.Set();
      OutputEvent.Set();  // the write thread looks at the flush first
      const auto end = std::chrono::steady_clock::now() + kFlushAckWait;
      while (!GeneralEvent.WaitFor(std::chrono::milliseconds(10))) {
        if (!ThreadRunning(TSerThreadKind::tkWrite) || KillThreads || std::chrono::steady_clock::now() > end)
          break;
      }
    }
    return r;
  }
  const int r = Fd() >= 0 && ::tcflush(Fd(), TCIFLUSH) == 0 ? 1 : 0;
  FQueue.Clear();
  return r;
}

// ---- Threads ---------------------------------------------------------------------------------------

void TSerPosixDispatcher::StartThreads() {
  std::lock_guard lock(DataSection);
  if (FDispActive) throw std::runtime_error("Dispatcher already started.");
  JoinDeviceThreads();  // those of an earlier open that ended on a failure
  FDispActive = true;
  KillThreads = false;
  std::uint64_t drain = 0;
  while (::read(wakeFd_, &drain, sizeof drain) > 0) {
  }
  OutFlushEvent.Reset();
  auto start = [this](std::thread& slot, TSerThreadKind kind, void (TSerPosixDispatcher::*body)()) {
    GeneralEvent.Reset();
    MarkThreadRunning(kind);
    slot = std::thread([this, body] { (this->*body)(); });
    GeneralEvent.WaitFor(kThreadStartWait);
  };
  start(readThread_, TSerThreadKind::tkRead, &TSerPosixDispatcher::ReadThreadMain);
  StartDispatcherThread();
  start(writeThread_, TSerThreadKind::tkWrite, &TSerPosixDispatcher::WriteThreadMain);
  start(statusThread_, TSerThreadKind::tkStatus, &TSerPosixDispatcher::StatusThreadMain);
}

void TSerPosixDispatcher::StopThreads() {
  if (FDispActive) CloseCom();
}

void TSerPosixDispatcher::WakeDeviceThreads() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void TSerPosixDispatcher::JoinDeviceThreads() {
  std::lock_guard lock(joinLock_);
  for (std::thread* t : {&statusThread_, &writeThread_, &readThread_}) {
    if (!t->joinable()) continue;
    if (t->get_id() == std::this_thread::get_id()) {
      t->detach();  // a device thread never closes its own port, but never join oneself
    } else {
      t->join();
    }
  }
}

int TSerPosixDispatcher::CloseCom() {
  {
    std::lock_guard lock(DataSection);
    if (CloseComActive) return 0;
    CloseComActive = true;
  }
  if (FDispActive) {
    KillThreads = true;
    WakeDeviceThreads();
    ReadyEvent.Set();
    WaitHandlingMessages([this] { return !ThreadRunning(TSerThreadKind::tkStatus); }, -1);
    OutFlushEvent.Set();
    OutputEvent.Set();
    WaitHandlingMessages([this] { return !ThreadRunning(TSerThreadKind::tkWrite); }, -1);
    GeneralEvent.Reset();
    WaitHandlingMessages([this] { return !ThreadRunning(TSerThreadKind::tkRead); }, -1);
    FQueue.Wake();
    // Closed from inside one of this port's own events, the dispatcher thread is waiting for that
    // very handler: waiting for it here would only end when the delivery times out, seconds
    // later, and hold up everything the handler does next (a product that restarts quickly
    // would come back before the program noticed). The device is closed now; the dispatcher
    // thread ends once the handler returns, and the port component finishes the close then.
    if (!FEventBusy) WaitForDispatcherThread();
  }
  // The device threads have said they stopped; what is left of them is their return.
  JoinDeviceThreads();
  int r = 0;
  {
    // Under the ring's lock: a PutString writing straight to the device never meets a closed
    // (or reused) descriptor.
    std::lock_guard lock(OutputSection);
    const int fd = static_cast<int>(CidEx.exchange(-1));
    if (fd >= 0) r = ReleaseDevice(fd);
  }
  std::lock_guard lock(DataSection);
  CloseComActive = false;
  return r;
}

// Reads everything the device holds into chunks on the queue. 0, or the thread's failure code.
int TSerPosixDispatcher::ReadAvailable() {
  for (;;) {
    std::unique_ptr<TDataBuffer> chunk;
    try {
      chunk = std::make_unique<TDataBuffer>(static_cast<std::int32_t>(kReadChunk));
    } catch (const std::exception&) {
      return ecTapiNoMem;
    }
    const ssize_t n = ::read(Fd(), chunk->FData.get(), kReadChunk);
    if (n > 0) {
      chunk->FDataUsed = static_cast<std::int32_t>(n);
      QueueInput(std::move(chunk));
      // A short read took everything there was: asking again would find nothing (on a slow line,
      // once for every byte). The wait on the device reports the next byte.
      if (static_cast<std::size_t>(n) < kReadChunk) return 0;
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    if (n < 0 && errno == EBADF) return 1;  // closed under it: a stop, not a failure
    return ecDeviceRead;                    // hung up (0) or an I/O error: the lead is gone
  }
}

void TSerPosixDispatcher::ReadThreadMain() {
  ThreadStarted(TSerThreadKind::tkRead);
  int result = 0;
  while (!KillThreads) {
    // The read thread waits on the device itself: input is taken the moment it arrives, with no
    // other thread to wake in between (every hand-over costs a turn of the scheduler on each
    // exchange of a long update). A close wakes it through the wake descriptor.
    pollfd fds[2] = {{Fd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const int r = PollFor(fds, 2, kReadWait);
    if (KillThreads) break;
    if (r < 0) {
      result = ecDeviceRead;
      break;
    }
    const short ev = fds[0].revents;
    if (r == 0 || ev == 0) continue;
    if ((ev & POLLNVAL) != 0) break;  // closed under it
    int read = ReadAvailable();
    // A hang-up with nothing to read is the lead gone, not a reason to look again at once.
    if (read == 0 && (ev & (POLLHUP | POLLERR)) != 0) read = ecDeviceRead;
    if (read == 1) break;
    if (read != 0) {
      result = read;
      break;
    }
    if (const auto pause = InputPause(); pause.count() > 0) {
      // Only a close ends the pause early.
      pollfd wake{wakeFd_, POLLIN, 0};
      const timespec t{0, static_cast<long>(pause.count()) * 1000};
      ::ppoll(&wake, 1, &t, nullptr);
    }
  }
  if (result != 0) {
    FailFromDeviceThread(result);
    WakeDeviceThreads();
  }
  ThreadStopped(TSerThreadKind::tkRead, 0);
}

void TSerPosixDispatcher::StatusThreadMain() {
  ThreadStarted(TSerThreadKind::tkStatus);
  int result = 0;
  int hungUpSlices = 0;
  while (!KillThreads) {
    // Asking for no event still reports a hang-up or an error; input is the read thread's.
    pollfd fds[2] = {{Fd(), 0, 0}, {wakeFd_, POLLIN, 0}};
    const int r = hungUpSlices > 0 ? PollFor(&fds[1], 1, kDeviceSlice) : PollFor(fds, 2, kDeviceSlice);
    if (KillThreads) break;
    if (r < 0) {
      result = ecDeviceRead;
      break;
    }
    if (hungUpSlices > 0) {
      // The read thread reports the hang-up; if it never does, this thread does.
      if (++hungUpSlices > 5) {
        result = ecDeviceRead;
        break;
      }
      continue;
    }
    const short ev = fds[0].revents;
    if ((ev & POLLNVAL) != 0) break;  // closed under it
    if ((ev & (POLLHUP | POLLERR)) != 0) {
      hungUpSlices = 1;
      continue;
    }
    if (modemLines_) {
      const std::uint32_t now = DeviceModemStatus();
      const std::uint32_t was = lastModem_.exchange(now);
      std::uint32_t mask = 0;
      if (((now ^ was) & MS_CTS_ON) != 0) mask |= EV_CTS;
      if (((now ^ was) & MS_DSR_ON) != 0) mask |= EV_DSR;
      if (((now ^ was) & MS_RLSD_ON) != 0) mask |= EV_RLSD;
      if (((now ^ was) & now & MS_RING_ON) != 0) mask |= EV_RING;
      if (mask != 0) FQueue.Push(std::make_unique<TStatusBuffer>(mask));
    }
  }
  if (result != 0) {
    FailFromDeviceThread(result);
    WakeDeviceThreads();
  }
  ThreadStopped(TSerThreadKind::tkStatus, 0);
}

// Sends the transmit ring's bytes. 0, or the thread's failure code.
int TSerPosixDispatcher::DrainTransmitRing() {
  for (;;) {
    std::string block;
    {
      std::lock_guard lock(OutputSection);
      block = TakeOutputRing();
      writerBusy_ = !block.empty();
    }
    if (block.empty()) return 0;
    const int r = WriteBlock(block);
    {
      std::lock_guard lock(OutputSection);
      writerBusy_ = false;
    }
    if (r != 0) return r;
    if (OutFlushEvent.IsSet() || KillThreads) return 0;
  }
}

int TSerPosixDispatcher::WriteBlock(const std::string& block) {
  std::size_t sent = 0;
  while (sent < block.size()) {
    if (OutFlushEvent.WaitFor(std::chrono::milliseconds(0))) {
      GeneralEvent.Set();  // the flush is acknowledged; the rest of the block is dropped
      return 0;
    }
    if (KillThreads) return 0;
    const ssize_t n = ::write(Fd(), block.data() + sent, block.size() - sent);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd fds[2] = {{Fd(), POLLOUT, 0}, {wakeFd_, POLLIN, 0}};
      PollFor(fds, 2, kDeviceSlice);
      if ((fds[0].revents & (POLLHUP | POLLERR)) != 0) return ecDeviceWrite;
      continue;
    }
    if (n < 0 && errno == EBADF) return 0;
    return ecDeviceWrite;
  }
  return 0;
}

// Called by PutBlock with the transmit ring's lock held and the room checked. When nothing is
// waiting to go and the write thread is idle, the bytes are handed to the device at once (it
// never blocks: the descriptor is non-blocking) rather than through a wake of the write thread,
// which on every exchange of a long update adds a turn of the scheduler. Whatever the device does
// not take at once goes through the ring as usual, behind nothing, so the order holds.
int TSerPosixDispatcher::DeviceWrite(const std::uint8_t* buffer, std::uint32_t size) {
  std::uint32_t direct = 0;
  if (!writerBusy_ && !OBufFull && OBufHead == OBufTail && Fd() >= 0 &&
      ThreadRunning(TSerThreadKind::tkWrite) && !KillThreads) {
    const ssize_t n = ::write(Fd(), buffer, size);
    if (n > 0) direct = static_cast<std::uint32_t>(n);
    OBufFull = false;  // PutBlock judged fullness on the whole block
  }
  if (direct == size) return static_cast<int>(size);
  const int queued = TSerBaseDispatcher::DeviceWrite(buffer + direct, size - direct);
  if (queued <= 0) return queued;
  if (OBufHead == OBufTail) OBufFull = true;  // bytes went in and the positions met: full
  return static_cast<int>(size);
}

void TSerPosixDispatcher::WriteThreadMain() {
  ThreadStarted(TSerThreadKind::tkWrite);
  int result = 0;
  while (!KillThreads) {
    if (OutFlushEvent.WaitFor(std::chrono::milliseconds(0))) {
      GeneralEvent.Set();
      continue;
    }
    if (!OutputEvent.WaitFor(kDeviceSlice)) continue;
    if (KillThreads) break;
    if (OutFlushEvent.WaitFor(std::chrono::milliseconds(0))) {
      GeneralEvent.Set();
      continue;
    }
    const int r = DrainTransmitRing();
    if (r != 0) {
      result = r;
      FailFromDeviceThread(result);
      WakeDeviceThreads();
      break;
    }
  }
  // A purge waiting for this thread's word is not left to its time-out.
  GeneralEvent.Set();
  ThreadStopped(TSerThreadKind::tkWrite, 0);
}

}  // namespace tarvex
