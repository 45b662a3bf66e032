#include "serial/Win32Dispatcher.h"

#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "serial/SerialErrors.h"
#include "serial/Win32Text.h"

namespace tarvex {

namespace {

constexpr DWORD kReadChunk = 256;
constexpr DWORD kIoSliceMs = 100;
constexpr std::chrono::milliseconds kThreadStartWait{3000};
constexpr std::chrono::milliseconds kFlushAckWait{5000};
// The events the status thread waits for: input (which wakes the read thread at once), the line's
// errors, and the modem lines where the device has them.
constexpr DWORD kModemEventMask = EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR | EV_RING;
constexpr DWORD kLineEventMask = EV_RXCHAR | EV_BREAK | EV_ERR;
constexpr DWORD kReportedEvents = 0x21F8;
// The read thread looks at the device at least this often, woken or not.
constexpr DWORD kReadWaitMs = 50;

struct TWin32Event {
  HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ~TWin32Event() {
    if (h != nullptr) CloseHandle(h);
  }
  TWin32Event() = default;
  TWin32Event(const TWin32Event&) = delete;
  TWin32Event& operator=(const TWin32Event&) = delete;
};

}  // namespace

int TranslateWin32Error(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: return -kNoSuchDevice;
    case ERROR_PATH_NOT_FOUND: return -kNoSuchPath;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY: return -kDeviceHeldElsewhere;
    default: return SystemErrorCode(static_cast<int>(error));
  }
}

std::unique_ptr<TSerBaseDispatcher> MakeDeviceDispatcher(void* owner) {
  return std::make_unique<TSerWin32Dispatcher>(owner);
}

std::string TSerWin32Dispatcher::DevicePathOf(int comNumber) {
  return "\\\\.\\COM" + std::to_string(comNumber);
}

TSerWin32Dispatcher::TSerWin32Dispatcher(void* owner) : TSerBaseDispatcher(owner) {
  serialEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (serialEvent_ == nullptr) throw std::bad_alloc();
}

TSerWin32Dispatcher::~TSerWin32Dispatcher() {
  Shutdown();
  JoinDeviceThreads();
  const HANDLE h = reinterpret_cast<HANDLE>(CidEx.exchange(-1));
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  CloseHandle(serialEvent_);
}

// ---- Opening ---------------------------------------------------------------------------------------

int TSerWin32Dispatcher::OpenCom(const std::string& comName, std::uint32_t, std::uint32_t) {
  if (comName.empty()) return -kNoSuchDevice;
  const HANDLE h = CreateFileW(WideFromUtf8(comName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return TranslateWin32Error(GetLastError());
  CidEx = reinterpret_cast<std::intptr_t>(h);
  return 0;
}

int TSerWin32Dispatcher::DeviceSetup(std::uint32_t inSize, std::uint32_t outSize) {
  if (!SetupComm(Device(), inSize, outSize)) return TranslateWin32Error(GetLastError());
  // A read returns at once with what is there.
  COMMTIMEOUTS to{};
  to.ReadIntervalTimeout = MAXDWORD;
  if (!SetCommTimeouts(Device(), &to)) return TranslateWin32Error(GetLastError());
  return 0;
}

bool TSerWin32Dispatcher::CheckPort(const std::string& comName) {
  std::string name = comName;
  if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
  const std::wstring wide = WideFromUtf8(name);
  COMMCONFIG config{};
  DWORD size = sizeof config;
  if (GetDefaultCommConfigW(wide.c_str(), &config, &size)) return true;
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
  std::vector<std::uint8_t> buffer(size);
  return GetDefaultCommConfigW(wide.c_str(), reinterpret_cast<COMMCONFIG*>(buffer.data()), &size) != FALSE;
}

// ---- Line state ------------------------------------------------------------------------------------

int TSerWin32Dispatcher::DeviceGetState(TDeviceControlBlock& dcb) {
  ::DCB d{};
  d.DCBlength = sizeof d;
  if (!GetCommState(Device(), &d)) return -1;
  dcb.BaudRate = d.BaudRate;
  dcb.fBinary = d.fBinary != 0;
  dcb.fParity = d.fParity != 0;
  dcb.fOutxCtsFlow = d.fOutxCtsFlow != 0;
  dcb.fOutxDsrFlow = d.fOutxDsrFlow != 0;
  dcb.fDtrControl = static_cast<std::uint8_t>(d.fDtrControl);
  dcb.fDsrSensitivity = d.fDsrSensitivity != 0;
  dcb.fTXContinueOnXoff = d.fTXContinueOnXoff != 0;
  dcb.fOutX = d.fOutX != 0;
  dcb.fInX = d.fInX != 0;
  dcb.fNull = d.fNull != 0;
  dcb.fRtsControl = static_cast<std::uint8_t>(d.fRtsControl);
  dcb.XonLim = d.XonLim;
  dcb.XoffLim = d.XoffLim;
  dcb.ByteSize = d.ByteSize;
  dcb.Parity = d.Parity;
  dcb.StopBits = d.StopBits;
  dcb.XonChar = d.XonChar;
  dcb.XoffChar = d.XoffChar;
  return 0;
}

int TSerWin32Dispatcher::DeviceSetState(const TDeviceControlBlock& dcb) {
  ::DCB d{};
  d.DCBlength = sizeof d;
  if (!GetCommState(Device(), &d)) return TranslateWin32Error(GetLastError());
  d.BaudRate = dcb.BaudRate;
  d.fBinary = TRUE;
  d.fParity = dcb.fParity ? 1 : 0;
  d.fOutxCtsFlow = dcb.fOutxCtsFlow ? 1 : 0;
  d.fOutxDsrFlow = dcb.fOutxDsrFlow ? 1 : 0;
  d.fDtrControl = dcb.fDtrControl & 3u;
  d.fDsrSensitivity = dcb.fDsrSensitivity ? 1 : 0;
  d.fTXContinueOnXoff = dcb.fTXContinueOnXoff ? 1 : 0;
  d.fOutX = dcb.fOutX ? 1 : 0;
  d.fInX = dcb.fInX ? 1 : 0;
  d.fErrorChar = 0;
  d.fNull = dcb.fNull ? 1 : 0;
  d.fRtsControl = dcb.fRtsControl & 3u;
  d.fAbortOnError = 0;  // a line error must not stop every later read and write
  d.XonLim = dcb.XonLim;
  d.XoffLim = dcb.XoffLim;
  d.ByteSize = dcb.ByteSize;
  d.Parity = dcb.Parity;
  d.StopBits = dcb.StopBits;
  d.XonChar = dcb.XonChar;
  d.XoffChar = dcb.XoffChar;
  if (!SetCommState(Device(), &d)) return TranslateWin32Error(GetLastError());
  return 0;
}

int TSerWin32Dispatcher::DeviceEscape(int func) {
  // A port without modem lines (an emulated one) refuses; there is nothing to raise on it.
  EscapeCommFunction(Device(), static_cast<DWORD>(func));
  return 0;
}

std::uint32_t TSerWin32Dispatcher::DeviceModemStatus() {
  if (CidEx.load() == -1) return 0;
  DWORD status = 0;
  if (!GetCommModemStatus(Device(), &status)) return 0;
  return status;
}

std::uint32_t TSerWin32Dispatcher::DeviceClearError(TComStat& stat) {
  DWORD errors = 0;
  COMSTAT cs{};
  if (CidEx.load() == -1 || !ClearCommError(Device(), &errors, &cs)) errors = 0;
  stat.cbInQue = cs.cbInQue;
  stat.cbOutQue = OutputRingUsed();
  return errors;
}

int TSerWin32Dispatcher::DevicePurge(int queue) {
  if (queue == 0) {
    ClearOutputRing();
    const int r = CidEx.load() != -1 && PurgeComm(Device(), PURGE_TXABORT | PURGE_TXCLEAR) ? 1 : 0;
    if (ThreadRunning(TSerThreadKind::tkWrite) && !KillThreads) {
      // A block the write thread is sending is dropped too; wait for it to say so, or to stop.
      GeneralEvent.Reset();
      OutFlushEvent.Set();
      OutputEvent.Set();
      const auto end = std::chrono::steady_clock::now() + kFlushAckWait;
      while (!GeneralEvent.WaitFor(std::chrono::milliseconds(10))) {
        if (!ThreadRunning(TSerThreadKind::tkWrite) || KillThreads || std::chrono::steady_clock::now() > end)
          break;
      }
    }
    return r;
  }
  const int r = CidEx.load() != -1 && PurgeComm(Device(), PURGE_RXABORT | PURGE_RXCLEAR) ? 1 : 0;
  FQueue.Clear();
  return r;
}

// ---- Threads ---------------------------------------------------------------------------------------

void TSerWin32Dispatcher::StartThreads() {
  std::lock_guard lock(DataSection);
  if (FDispActive) throw std::runtime_error("Dispatcher already started.");
  JoinDeviceThreads();
  FDispActive = true;
  KillThreads = false;
  ResetEvent(serialEvent_);
  OutFlushEvent.Reset();
  auto start = [this](std::thread& slot, TSerThreadKind kind, void (TSerWin32Dispatcher::*body)()) {
    GeneralEvent.Reset();
    MarkThreadRunning(kind);
    slot = std::thread([this, body] { (this->*body)(); });
    GeneralEvent.WaitFor(kThreadStartWait);
  };
  start(readThread_, TSerThreadKind::tkRead, &TSerWin32Dispatcher::ReadThreadMain);
  StartDispatcherThread();
  start(writeThread_, TSerThreadKind::tkWrite, &TSerWin32Dispatcher::WriteThreadMain);
  start(statusThread_, TSerThreadKind::tkStatus, &TSerWin32Dispatcher::StatusThreadMain);
}

void TSerWin32Dispatcher::StopThreads() {
  if (FDispActive) CloseCom();
}

void TSerWin32Dispatcher::JoinDeviceThreads() {
  std::lock_guard lock(joinLock_);
  for (std::thread* t : {&statusThread_, &writeThread_, &readThread_}) {
    if (!t->joinable()) continue;
    if (t->get_id() == std::this_thread::get_id()) {
      t->detach();
    } else {
      t->join();
    }
  }
}

int TSerWin32Dispatcher::CloseCom() {
  {
    std::lock_guard lock(DataSection);
    if (CloseComActive) return 0;
    CloseComActive = true;
  }
  if (FDispActive) {
    KillThreads = true;
    // Ends the status thread's pending event wait.
    if (CidEx.load() != -1) SetCommMask(Device(), 0);
    ReadyEvent.Set();
    WaitHandlingMessages([this] { return !ThreadRunning(TSerThreadKind::tkStatus); }, -1);
    OutFlushEvent.Set();
    OutputEvent.Set();
    WaitHandlingMessages([this] { return !ThreadRunning(TSerThreadKind::tkWrite); }, -1);
    SetEvent(serialEvent_);
    GeneralEvent.Reset();
    WaitHandlingMessages([this] { return !ThreadRunning(TSerThreadKind::tkRead); }, -1);
    FQueue.Wake();
    // Closed from inside one of this port's own events the dispatcher thread waits for that very
    // handler; it ends once the handler returns (see the POSIX device side).
    if (!FEventBusy) WaitForDispatcherThread();
  }
  JoinDeviceThreads();
  int r = 0;
  {
    std::lock_guard lock(OutputSection);
    const HANDLE h = reinterpret_cast<HANDLE>(CidEx.exchange(-1));
    if (h != INVALID_HANDLE_VALUE && !CloseHandle(h)) r = -1;
  }
  std::lock_guard lock(DataSection);
  CloseComActive = false;
  return r;
}

int TSerWin32Dispatcher::WaitForIo(HANDLE device, OVERLAPPED& ov, DWORD& err) {
  for (;;) {
    const DWORD w = WaitForSingleObject(ov.hEvent, kIoSliceMs);
    if (w == WAIT_OBJECT_0) break;
    if (w != WAIT_TIMEOUT) {
      err = GetLastError();
      CancelIo(device);
      DWORD ignored = 0;
      GetOverlappedResult(device, &ov, &ignored, TRUE);
      return -1;
    }
    if (KillThreads) {
      // The record lives on this thread's stack: the operation must be over before it goes.
      CancelIo(device);
      DWORD ignored = 0;
      GetOverlappedResult(device, &ov, &ignored, TRUE);
      return 0;
    }
  }
  DWORD n = 0;
  if (!GetOverlappedResult(device, &ov, &n, FALSE)) {
    err = GetLastError();
    return -1;
  }
  return static_cast<int>(n);
}

int TSerWin32Dispatcher::ReadChunk(HANDLE event, char* buffer, DWORD size, DWORD& err) {
  OVERLAPPED ov{};
  ov.hEvent = event;
  ResetEvent(event);
  DWORD got = 0;
  if (ReadFile(Device(), buffer, size, &got, &ov)) return static_cast<int>(got);
  err = GetLastError();
  if (err != ERROR_IO_PENDING) return -1;
  const int r = WaitForIo(Device(), ov, err);
  // A read cancelled by an input purge is no failure.
  if (r < 0 && err == ERROR_OPERATION_ABORTED) return 0;
  return r;
}

void TSerWin32Dispatcher::ReadThreadMain() {
  ThreadStarted(TSerThreadKind::tkRead);
  TWin32Event event;
  int result = event.h == nullptr ? ecTapiNoMem : 0;
  while (result == 0 && !KillThreads) {
    const DWORD w = WaitForSingleObject(serialEvent_, kReadWaitMs);
    if (KillThreads) break;
    if (w != WAIT_OBJECT_0 && w != WAIT_TIMEOUT) {
      result = ecDeviceRead;
      break;
    }
    if (!DrainDevice(event.h, result)) break;
  }
  if (result != 0) FailFromDeviceThread(result);
  ThreadStopped(TSerThreadKind::tkRead, 0);
}

bool TSerWin32Dispatcher::DrainDevice(HANDLE event, int& result) {
  for (;;) {
    std::unique_ptr<TDataBuffer> chunk;
    try {
      chunk = std::make_unique<TDataBuffer>(static_cast<std::int32_t>(kReadChunk));
    } catch (const std::exception&) {
      result = ecTapiNoMem;
      return false;
    }
    DWORD err = 0;
    const int n = ReadChunk(event, reinterpret_cast<char*>(chunk->FData.get()), kReadChunk, err);
    if (KillThreads) return false;
    if (n > 0) {
      chunk->FDataUsed = n;
      QueueInput(std::move(chunk));
      continue;
    }
    if (n < 0) {
      // A device closed under the thread is a stop, not a failure; anything else is the lead gone.
      if (err != ERROR_INVALID_HANDLE) result = ecDeviceRead;
      return false;
    }
    return true;  // all there was
  }
}

void TSerWin32Dispatcher::StatusThreadMain() {
  ThreadStarted(TSerThreadKind::tkStatus);
  TWin32Event event;
  int result = 0;
  DWORD mask = kModemEventMask;
  if (!SetCommMask(Device(), mask)) {
    mask = kLineEventMask;
    modemEvents_ = false;
    SetCommMask(Device(), mask);
  }
  bool waiting = event.h != nullptr;
  while (!KillThreads) {
    if (!waiting) {
      // A driver that cannot wait for events: the read thread alone watches the line.
      ReadyEvent.WaitFor(std::chrono::milliseconds(kIoSliceMs));
      continue;
    }
    OVERLAPPED ov{};
    ov.hEvent = event.h;
    ResetEvent(event.h);
    DWORD got = 0;
    DWORD err = 0;
    int r = 1;
    if (!WaitCommEvent(Device(), &got, &ov)) {
      err = GetLastError();
      if (err == ERROR_IO_PENDING) {
        r = WaitForIo(Device(), ov, err);
        if (r == 0 && KillThreads) break;
        if (r >= 0) r = 1;
      } else {
        r = -1;
      }
    }
    if (KillThreads) break;
    if (r < 0) {
      if (err == ERROR_INVALID_HANDLE || err == ERROR_OPERATION_ABORTED) break;
      if (err == ERROR_NOT_SUPPORTED || err == ERROR_INVALID_PARAMETER) {
        // The modem lines' events are not to be had here (a port without modem lines): the line's
        // own, or none at all.
        if (mask != kLineEventMask) {
          mask = kLineEventMask;
          modemEvents_ = false;
          SetCommMask(Device(), mask);
        } else {
          waiting = false;
        }
        continue;
      }
      result = ecDeviceRead;
      break;
    }
    if ((got & EV_RXCHAR) != 0) SetEvent(serialEvent_);
    if ((got & kReportedEvents) != 0) {
      try {
        FQueue.Push(std::make_unique<TStatusBuffer>(got));
      } catch (const std::exception&) {
        result = ecTapiNoMem;
        break;
      }
    }
  }
  if (result != 0) FailFromDeviceThread(result);
  ThreadStopped(TSerThreadKind::tkStatus, 0);
}

int TSerWin32Dispatcher::DrainTransmitRing(HANDLE event) {
  for (;;) {
    const std::string block = TakeOutputRing();
    if (block.empty()) return 0;
    std::size_t sent = 0;
    while (sent < block.size()) {
      if (OutFlushEvent.IsSet()) {
        GeneralEvent.Set();  // the flush is acknowledged; the rest of the block is dropped
        return 0;
      }
      if (KillThreads) return 0;
      OVERLAPPED ov{};
      ov.hEvent = event;
      ResetEvent(event);
      DWORD n = 0;
      if (!WriteFile(Device(), block.data() + sent, static_cast<DWORD>(block.size() - sent), &n, &ov)) {
        DWORD err = GetLastError();
        if (err != ERROR_IO_PENDING) {
          return err == ERROR_OPERATION_ABORTED || err == ERROR_INVALID_HANDLE ? 0 : ecDeviceWrite;
        }
        const int r = WaitForIo(Device(), ov, err);
        if (r < 0) return err == ERROR_OPERATION_ABORTED || err == ERROR_INVALID_HANDLE ? 0 : ecDeviceWrite;
        if (r == 0 && KillThreads) return 0;
        n = static_cast<DWORD>(r);
      }
      sent += n;
    }
    if (OutFlushEvent.IsSet() || KillThreads) return 0;
  }
}

void TSerWin32Dispatcher::WriteThreadMain() {
  ThreadStarted(TSerThreadKind::tkWrite);
  TWin32Event event;
  int result = event.h == nullptr ? ecTapiNoMem : 0;
  while (result == 0 && !KillThreads) {
    if (OutFlushEvent.WaitFor(std::chrono::milliseconds(0))) {
      GeneralEvent.Set();
      continue;
    }
    if (!OutputEvent.WaitFor(std::chrono::milliseconds(kIoSliceMs))) continue;
    if (KillThreads) break;
    if (OutFlushEvent.WaitFor(std::chrono::milliseconds(0))) {
      GeneralEvent.Set();
      continue;
    }
    result = DrainTransmitRing(event.h);
  }
  // A purge waiting for this thread's word is not left to its time-out.
  GeneralEvent.Set();
  if (result != 0) FailFromDeviceThread(result);
  ThreadStopped(TSerThreadKind::tkWrite, 0);
}

}  // namespace tarvex
