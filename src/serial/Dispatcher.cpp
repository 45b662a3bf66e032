#include "serial/Dispatcher.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "core/Globals.h"
#include "serial/SerialErrors.h"

namespace tarvex {

namespace {

std::mutex& PortListLock() {
  static std::mutex lock;
  return lock;
}
std::vector<TSerBaseDispatcher*>& PortList() {
  static std::vector<TSerBaseDispatcher*> list;
  return list;
}

constexpr std::uint32_t kMaxTriggerCounter = 4096;
constexpr std::int32_t kCloseWaitTicks = 36;

}  // namespace

TSerBaseDispatcher* PortListDispatcher(int index) {
  std::lock_guard lock(PortListLock());
  auto& list = PortList();
  if (index < 0 || static_cast<std::size_t>(index) >= list.size()) return nullptr;
  return list[static_cast<std::size_t>(index)];
}

TSerBaseDispatcher::TSerBaseDispatcher(void* owner) : fOwner(owner) {
  std::lock_guard lock(PortListLock());
  auto& list = PortList();
  auto empty = std::find(list.begin(), list.end(), nullptr);
  if (empty == list.end()) {
    list.push_back(this);
    fHandle = static_cast<int>(list.size() - 1);
  } else {
    *empty = this;
    fHandle = static_cast<int>(empty - list.begin());
  }
}

TSerBaseDispatcher::~TSerBaseDispatcher() {
  // A subclass that did not call Shutdown leaves a thread that may still call its device
  // operations; stopping it here is the best that is left.
  if (dispThread_.joinable()) {
    KillThreads = true;
    FQueue.Wake();
    if (dispThread_.get_id() == std::this_thread::get_id()) {
      dispThread_.detach();
    } else {
      dispThread_.join();
    }
  }
  std::lock_guard lock(PortListLock());
  auto& list = PortList();
  if (fHandle >= 0 && static_cast<std::size_t>(fHandle) < list.size())
    list[static_cast<std::size_t>(fHandle)] = nullptr;
  while (!list.empty() && list.back() == nullptr) list.pop_back();
}

// ---- Open and close ------------------------------------------------------------------------------

int TSerBaseDispatcher::InitPort(const std::string& comName, std::int32_t baud, std::uint8_t parity,
                                 std::uint8_t dataBits, std::uint8_t stopBits, std::uint32_t inSize,
                                 std::uint32_t outSize, std::uint32_t flowOpts) {
  RingFlag = false;
  FEventBusy = false;
  {
    std::lock_guard lock(DataSection);
    DeletePending = false;
  }
  for (TSyncEvent* e : {&ComEvent, &ReadyEvent, &GeneralEvent, &OutputEvent, &OutFlushEvent}) e->Reset();

  int code = OpenCom(comName, inSize, outSize);
  if (code >= 0) {
    code = DeviceSetup(inSize, outSize);
  }
  if (code >= 0) {
    {
      std::lock_guard lock(DispSection);
      DBuffer.assign(kDispatchBufferSize, 0);
      DispatchFull = false;
      GetCount = 0;
    }
    {
      std::lock_guard lock(OutputSection);
      OBuffer.assign(outSize, 0);
      OBufHead = OBufTail = 0;
      OBufFull = false;
    }
    InQue = inSize;
    OutQue = outSize;
    FClosePending = false;
    {
      std::lock_guard lock(DataSection);
      LastError = 0;
      RS485Mode = false;
      DeviceGetState(DCB);
      if ((flowOpts & foDtrFlow) != 0) {
        DTRAuto = true;
      } else {
        DTRAuto = false;
        SetDtr((flowOpts & foDtrRaised) != 0);
      }
      if ((flowOpts & foRtsFlow) != 0) {
        RTSAuto = true;
      } else {
        RTSAuto = false;
        SetRts((flowOpts & foRtsRaised) != 0);
      }
    }
    RemoveAllTriggers();
    {
      std::lock_guard lock(DispSection);
      LastTailData = 0;
      DBufHead = DBufTail = NotifyTail = 0;
      filledTotal_ = notifiedTotal_ = 0;
      InAvailMessage = false;
    }
    ModemStatus = DeviceModemStatus();
    LastBaud = 115200;
    code = SetLine(baud, parity, dataBits, stopBits);
  }
  if (code < 0) {
    DonePort();
    return code;
  }
  {
    TComStat stat;
    const std::uint32_t errors = DeviceClearError(stat);
    std::lock_guard lock(DataSection);
    ComStatus = stat;
    LastError |= errors & 0x1F;
  }
  TimeBase = static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now().time_since_epoch())
                                            .count());
  StartThreads();
  return 0;
}

void TSerBaseDispatcher::DonePort() {
  roomMade_.Set();
  if (CidEx.load() >= 0) {
    FlushOutBuffer();
    FlushInBuffer();
    CloseCom();
  }
  if (FEventBusy) {
    // The dispatcher thread ends after the delivery in progress and releases on its way out.
    FClosePending = true;
    FQueue.Wake();
  } else {
    ReleasePortBuffers();
  }
}

void TSerBaseDispatcher::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  if (FClosePending) {
    ReleasePortBuffers();
  } else {
    DonePort();
  }
  WaitHandlingMessages([this] { return FActiveThreads.load() <= 0; }, -1);
  if (dispThread_.joinable() && dispThread_.get_id() != std::this_thread::get_id()) dispThread_.join();
}

void TSerBaseDispatcher::ReleasePortBuffers() {
  DoDonePortPrim = false;
  if (FDispActive) StopThreads();
  // Each ring is freed under the lock that guards it, so a late GetChar or PutBlock finds it gone
  // rather than freed under it.
  {
    std::lock_guard lock(OutputSection);
    std::vector<std::uint8_t>().swap(OBuffer);
    OBufHead = OBufTail = 0;
    OBufFull = false;
  }
  {
    std::lock_guard lock(DispSection);
    std::vector<std::uint8_t>().swap(DBuffer);
    DBufHead = DBufTail = NotifyTail = 0;
    DispatchFull = false;
  }
}

bool TSerBaseDispatcher::BuffersReleased() {
  std::scoped_lock lock(DispSection);
  return DBuffer.empty();
}

// ---- Thread bookkeeping ---------------------------------------------------------------------------

void TSerBaseDispatcher::StartDispatcherThread() {
  if (dispThread_.joinable()) dispThread_.join();  // an earlier run that has ended
  MarkThreadRunning(TSerThreadKind::tkDispatch);
  GeneralEvent.Reset();
  dispThread_ = std::thread([this] { DispatcherThreadMain(); });
  GeneralEvent.WaitFor(std::chrono::milliseconds(3000));
}

bool TSerBaseDispatcher::WaitForDispatcherThread() {
  auto ended = [this] { return !ThreadRunning(TSerThreadKind::tkDispatch); };
  if (WaitHandlingMessages(ended, kCloseWaitTicks)) return true;
  ComEvent.Set();
  return WaitHandlingMessages(ended, kCloseWaitTicks);
}

void TSerBaseDispatcher::ThreadStarted(TSerThreadKind kind) {
  MarkThreadRunning(kind);
  FActiveThreads.fetch_add(1);
  GeneralEvent.Set();
}

void TSerBaseDispatcher::ThreadStopped(TSerThreadKind kind, int returnValue) {
  if (returnValue != 0) {
    try {
      RaiseSerialError(returnValue);
    } catch (const std::exception& e) {
      ReportThreadError(e.what());
    }
  }
  threadRunning_[static_cast<int>(kind)].store(false);
  if (kind == TSerThreadKind::tkDispatch && DoDonePortPrim) {
    ReleasePortBuffers();
    DoDonePortPrim = false;
  }
  if (FActiveThreads.fetch_sub(1) == 1) FDispActive = false;
}

void TSerBaseDispatcher::FailFromDeviceThread(int code) {
  int none = 0;
  deferredError_.compare_exchange_strong(none, code);
  // Stored before the stop is asked for: the dispatcher thread sees the failure once it stops.
  KillThreads = true;
  FQueue.Wake();
}

void TSerBaseDispatcher::ReportThreadError(const std::string& text) {
  if (OnThreadError) {
    OnThreadError(text);
  } else {
    LogDebug(text);
  }
}

bool TSerBaseDispatcher::WaitHandlingMessages(const std::function<bool()>& done, std::int32_t ticks) {
  TTickTimer timer;
  if (ticks >= 0) StartTickTimer(timer, ticks);
  for (;;) {
    if (done()) return true;
    if (ticks >= 0 && TickTimerExpired(timer)) return false;
    int r = 0;
    try {
      r = PumpOneMessage();
    } catch (const std::exception& e) {
      // A handler's failure must not cut a close short (it may run from a destructor); it is
      // logged and the wait goes on.
      LogDebug(e.what());
      r = 1;
    }
    // Nothing handled (or only the quit request, which stays pending): give the others a moment.
    if (r == 0 || r == WM_QUIT) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void TSerBaseDispatcher::SetThreadBoost(std::uint8_t boost) {
  // Ordinary threads get no priority steps from the scheduler here; the value is kept for the
  // property only.
  ThreadBoost = boost;
}

// ---- The dispatcher thread ------------------------------------------------------------------------

void TSerBaseDispatcher::DispatcherThreadMain() {
  ThreadStarted(TSerThreadKind::tkDispatch);
  try {
    while (!KillThreads && !FClosePending) {
      bool full = false;
      {
        std::lock_guard lock(DispSection);
        full = DispatchFull;
      }
      // With the ring full, queued chunks cannot move: rather than go round at once for them,
      // wait until room is made (or the usual 50 ms, which keeps timers and stop requests seen).
      if (full) {
        roomMade_.WaitFor(kDispatchWait);
      } else {
        WaitForWork(kDispatchWait);
      }
      if (KillThreads) break;
      PassPartA();
      PassPartB();
      passCount_.fetch_add(1);
    }
  } catch (const std::exception& e) {
    ReportThreadError(e.what());
    // Without its dispatcher the port is dead: stop the other threads too and release.
    KillThreads = true;
  }
  if (const int failed = deferredError_.exchange(0); failed != 0) {
    // What a device thread read before it failed (a product's last answer, the GO acknowledgement
    // before it restarts) still reaches the handlers, and only then is the failure told; a port
    // the program closes meanwhile (from that very handler) hears nothing more of it.
    try {
      for (int pass = 0; pass < 64 && !FClosePending && QueuedInputBytes() > 0; ++pass) PassPartA();
    } catch (const std::exception& e) {
      LogDebug(e.what());
    }
    if (!FClosePending) {
      try {
        RaiseSerialError(failed);
      } catch (const std::exception& e) {
        ReportThreadError(e.what());
      }
    }
  }
  GeneralEvent.Set();
  DoDonePortPrim = FClosePending || KillThreads;
  ThreadStopped(TSerThreadKind::tkDispatch, 0);
}

void TSerBaseDispatcher::WaitForWork(std::chrono::milliseconds timeout) {
  FQueue.WaitForBuffer(timeout);
}

void TSerBaseDispatcher::PassPartA() {
  CurrentEvent = 0;
  if (TIOBuffer* head = FQueue.Peek()) {
    if (auto* status = dynamic_cast<TStatusBuffer*>(head)) {
      CurrentEvent = status->FStatus;
      FQueue.Pop();
    } else {
      FQueue.Release(head);
    }
  }
  if ((CurrentEvent & (EV_RING | 0x2000)) != 0) RingFlag = true;
  if ((CurrentEvent & kModemEvents) != 0) ModemStatus = DeviceModemStatus();
  if ((CurrentEvent & (EV_BREAK | EV_ERR)) != 0) {
    TComStat stat;
    const std::uint32_t errors = DeviceClearError(stat);
    std::lock_guard lock(DataSection);
    ComStatus = stat;
    LastError |= errors & 0x1F;
  }
  FillDispatchBuffer();
  if (!FEventBusy) {
    ModemStatus = DeviceModemStatus();
    while (!FClosePending && EvaluateReceiveTriggers()) {
    }
  }
  ReadyEvent.Set();
}

void TSerBaseDispatcher::PassPartB() {
  if (FClosePending || FEventBusy) return;
  while (!FClosePending && EvaluateTimerTriggers()) {
  }
}

std::uint32_t TSerBaseDispatcher::RingBytes() const {
  if (DispatchFull) return kDispatchBufferSize;
  return (DBufHead + kDispatchBufferSize - DBufTail) % kDispatchBufferSize;
}

void TSerBaseDispatcher::FillDispatchBuffer() {
  std::lock_guard lock(DispSection);
  if (DBuffer.empty() || DispatchFull) return;
  const std::uint32_t n = QueuedInputBytes();
  queuedInput_ = n;
  if (n == 0) return;
  const std::uint32_t room = DBufHead == DBufTail
                                 ? kDispatchBufferSize
                                 : (DBufTail + kDispatchBufferSize - DBufHead) % kDispatchBufferSize;
  const std::uint32_t contiguous = DBufTail > DBufHead ? room : kDispatchBufferSize - DBufHead;
  const std::uint32_t wanted = std::min(room, n);
  const std::uint32_t second = wanted > contiguous ? wanted - contiguous : 0;
  const int got = DeviceRead(DBuffer.data() + DBufHead, contiguous);
  if (got <= 0) return;
  DBufHead = (DBufHead + static_cast<std::uint32_t>(got)) % kDispatchBufferSize;
  filledTotal_ += static_cast<std::uint32_t>(got);
  DispatchFull = DBufHead == DBufTail;
  if (static_cast<std::uint32_t>(got) == contiguous && second != 0) {
    const int more = DeviceRead(DBuffer.data() + DBufHead, second);
    if (more > 0) {
      DBufHead = (DBufHead + static_cast<std::uint32_t>(more)) % kDispatchBufferSize;
      filledTotal_ += static_cast<std::uint32_t>(more);
      DispatchFull = DBufHead == DBufTail;
    }
  }
}

bool TSerBaseDispatcher::EvaluateReceiveTriggers() {
  std::uint32_t length = 0;
  {
    std::lock_guard lock(DataSection);
    length = LenTrigger;
  }
  std::uint32_t available = 0;
  std::uint32_t head = 0;
  std::uint64_t filled = 0;
  {
    std::lock_guard lock(DispSection);
    if (DBuffer.empty()) return false;
    LastTailData = DBufHead;
    head = DBufHead;
    filled = filledTotal_;
    // New bytes are told by the count moved in, not by the write position: exactly a ring's
    // worth of new bytes brings the position back where it was and would never be reported.
    if (length == 0 || filled == notifiedTotal_) return false;
    available = RingBytes() - (InAvailMessage ? GetCount : 0);
    if (available < length) return false;
  }
  const bool fired = DeliverTriggerEvent(MsgTriggerAvail, available, 0);
  {
    std::lock_guard lock(DispSection);
    NotifyTail = head;
    notifiedTotal_ = filled;
  }
  return fired;
}

bool TSerBaseDispatcher::EvaluateTimerTriggers() {
  std::uint32_t handle = 0;
  {
    std::lock_guard lock(DataSection);
    for (auto& t : TimerTriggers) {
      if (t.Active && TickTimerExpired(t.Timer)) {
        t.Active = false;
        handle = t.Handle;
        break;
      }
    }
  }
  if (handle == 0) return false;
  DeliverTriggerEvent(MsgTriggerTimer, handle, 0);
  return true;
}

bool TSerBaseDispatcher::DeliverTriggerEvent(std::uint32_t msg, std::uint32_t trigger, std::uint16_t data) {
  std::vector<TWndTriggerHandler> handlers;
  {
    std::lock_guard lock(DataSection);
    if (!HandlerServiceNeeded) return true;
    FEventBusy = true;
    if (WndTriggerHandlers.size() > 1 || PortHandlerInstalled) handlers = WndTriggerHandlers;
  }
  const bool avail = msg == MsgTriggerAvail || msg == MsgTriggerData;
  {
    std::lock_guard lock(DispSection);
    MaxGetCount = 0;
    GetCount = 0;
    InAvailMessage = avail;
  }
  const auto lParam = static_cast<std::int32_t>((static_cast<std::uint32_t>(fHandle) << 16) + data);
  bool result = true;
  bool stopped = false;
  for (const auto& h : handlers) {
    {
      std::lock_guard lock(DataSection);
      auto it = std::find_if(WndTriggerHandlers.begin(), WndTriggerHandlers.end(),
                             [&](const TWndTriggerHandler& w) { return w.Window == h.Window; });
      if (it == WndTriggerHandlers.end() || it->Deleted) continue;
    }
    {
      std::lock_guard lock(DispSection);
      GetCount = 0;
    }
    // Whether it was handled in time is not examined: a late handler goes on, and what it has
    // taken by now counts as consumed.
    if (h.Pump != nullptr) {
      h.Pump->Send([proc = h.Proc, msg, trigger, lParam] { proc(msg, trigger, lParam); }, DeliveryTimeout);
    }
    if (FClosePending) {
      result = false;
      stopped = true;
      break;
    }
    std::lock_guard lock(DispSection);
    MaxGetCount = std::max(MaxGetCount, GetCount);
  }
  {
    // The count is taken and the read position moved under one lock, so a late handler's
    // GetChar is either counted here or removes its byte itself afterwards, never both or neither.
    std::lock_guard lock(DispSection);
    if (avail && !stopped) MaxGetCount = std::max(MaxGetCount, GetCount);
    const bool wasAvail = InAvailMessage;
    InAvailMessage = false;
    if (wasAvail && !stopped && !DBuffer.empty()) {
      DBufTail = (DBufTail + MaxGetCount) % kDispatchBufferSize;
      if (MaxGetCount > 0) DispatchFull = false;
      if (msg == MsgTriggerAvail && MaxGetCount != trigger) result = false;
    }
  }
  {
    std::lock_guard lock(DataSection);
    FEventBusy = false;
    if (DeletePending) {
      WndTriggerHandlers.erase(std::remove_if(WndTriggerHandlers.begin(), WndTriggerHandlers.end(),
                                              [](const TWndTriggerHandler& w) { return w.Deleted; }),
                               WndTriggerHandlers.end());
      DeletePending = false;
      UpdateHandlerFlags(TSerHandlerFlagUpdate::fuKeepPort);
    }
  }
  {
    std::lock_guard lock(DispSection);
    GetCount = 0;
  }
  return result;
}

// ---- Received bytes ------------------------------------------------------------------------------

int TSerBaseDispatcher::GetChar(std::uint8_t& c) {
  std::lock_guard lock(DispSection);
  if (DBuffer.empty()) return ecCommNotOpen;
  const std::uint32_t used = RingBytes();
  if (InAvailMessage) {
    ++GetCount;
    if (used >= GetCount) {
      c = DBuffer[(DBufTail + GetCount - 1) % kDispatchBufferSize];
      return 0;
    }
    --GetCount;
    return ecBufferIsEmpty;
  }
  if (used == 0) return ecBufferIsEmpty;
  c = DBuffer[DBufTail];
  DBufTail = (DBufTail + 1) % kDispatchBufferSize;
  if (DispatchFull) roomMade_.Set();
  DispatchFull = false;
  return 0;
}

int TSerBaseDispatcher::PeekChar(std::uint8_t& c, std::uint32_t count) {
  std::lock_guard lock(DispSection);
  if (DBuffer.empty()) return ecCommNotOpen;
  const std::uint32_t taken = InAvailMessage ? GetCount : 0;
  if (count == 0 || taken + count > RingBytes()) return ecBufferIsEmpty;
  c = DBuffer[(DBufTail + taken + count - 1) % kDispatchBufferSize];
  return 0;
}

bool TSerBaseDispatcher::CharReady() {
  return InBuffUsed() > 0;
}

std::uint32_t TSerBaseDispatcher::InBuffUsed() {
  std::lock_guard lock(DispSection);
  if (DBuffer.empty()) return 0;
  const std::uint32_t used = RingBytes();
  const std::uint32_t taken = InAvailMessage ? GetCount : 0;
  return used > taken ? used - taken : 0;
}

std::uint32_t TSerBaseDispatcher::InBuffFree() {
  return kDispatchBufferSize - InBuffUsed();
}

int TSerBaseDispatcher::FlushInBuffer() {
  std::lock_guard lock(DispSection);
  const int r = DevicePurge(1);
  if (InAvailMessage) {
    // Inside a data-available handler: everything now unread counts as taken when it returns.
    MaxGetCount = RingBytes();
  } else {
    DBufTail = DBufHead;
    GetCount = 0;
  }
  DispatchFull = false;
  roomMade_.Set();
  return r;
}

int TSerBaseDispatcher::DeviceRead(std::uint8_t* buffer, std::uint32_t size) {
  std::uint32_t copied = 0;
  while (copied < size) {
    TIOBuffer* head = FQueue.Peek();
    if (head == nullptr) break;
    auto* chunk = dynamic_cast<TDataBuffer*>(head);
    if (chunk == nullptr) {
      FQueue.Release(head);
      break;
    }
    const auto left = static_cast<std::uint32_t>(chunk->FDataUsed - chunk->FDataRead);
    const std::uint32_t n = std::min(size - copied, left);
    std::memcpy(buffer + copied, chunk->FData.get() + chunk->FDataRead, n);
    chunk->FDataRead += static_cast<std::int32_t>(n);
    copied += n;
    if (chunk->FDataRead >= chunk->FDataUsed) {
      FQueue.Pop();
    } else {
      FQueue.Release(head);
    }
  }
  return static_cast<int>(copied);
}

std::uint32_t TSerBaseDispatcher::QueuedInputBytes() {
  TIOBuffer* head = FQueue.Peek();
  if (head == nullptr) return 0;
  std::uint32_t n = 0;
  if (auto* chunk = dynamic_cast<TDataBuffer*>(head))
    n = static_cast<std::uint32_t>(chunk->FDataUsed - chunk->FDataRead);
  FQueue.Release(head);
  return n;
}

// ---- Bytes to send -------------------------------------------------------------------------------

int TSerBaseDispatcher::PutBlock(const std::uint8_t* block, std::uint32_t len) {
  if (len == 0) return 0;
  int copied = 0;
  {
    std::lock_guard lock(OutputSection);
    if (OBuffer.empty()) return ecCommNotOpen;
    const std::uint32_t room = OutQue - OutputRingUsed();
    if (room < len) return ecOutputBufferTooSmall;
    if (len == room) OBufFull = true;
    copied = DeviceWrite(block, len);
  }
  if (copied <= 0) {
    TComStat stat;
    const std::uint32_t errors = DeviceClearError(stat);
    std::lock_guard lock(DataSection);
    LastError = errors;
    return ecPutBlockFail;
  }
  return 0;
}

int TSerBaseDispatcher::PutString(const std::string& s) {
  return PutBlock(reinterpret_cast<const std::uint8_t*>(s.data()), static_cast<std::uint32_t>(s.size()));
}

int TSerBaseDispatcher::PutChar(std::uint8_t c) {
  return PutBlock(&c, 1);
}

std::uint32_t TSerBaseDispatcher::OutputRingUsed() {
  std::lock_guard lock(OutputSection);
  if (OutQue == 0 || OBuffer.empty()) return 0;
  if (OBufFull) return OutQue;
  return (OBufHead + OutQue - OBufTail) % OutQue;
}

std::uint32_t TSerBaseDispatcher::OutBuffUsed() {
  return OutputRingUsed();
}

std::uint32_t TSerBaseDispatcher::OutBuffFree() {
  std::lock_guard lock(OutputSection);
  if (OBuffer.empty()) return 0;
  return OutQue - OutputRingUsed();
}

int TSerBaseDispatcher::FlushOutBuffer() {
  return DevicePurge(0);
}

int TSerBaseDispatcher::DeviceWrite(const std::uint8_t* buffer, std::uint32_t size) {
  {
    std::lock_guard lock(OutputSection);
    if (OBuffer.empty() || size > OutQue) return 0;
    const std::uint32_t first = std::min(size, OutQue - OBufHead);
    std::memcpy(OBuffer.data() + OBufHead, buffer, first);
    std::memcpy(OBuffer.data(), buffer + first, size - first);
    OBufHead = (OBufHead + size) % OutQue;
  }
  OutputEvent.Set();
  return static_cast<int>(size);
}

std::string TSerBaseDispatcher::TakeOutputRing() {
  std::lock_guard lock(OutputSection);
  std::string block;
  if (OBuffer.empty()) return block;
  const std::uint32_t used = OutputRingUsed();
  block.resize(used);
  for (std::uint32_t i = 0; i < used; ++i) block[i] = static_cast<char>(OBuffer[(OBufTail + i) % OutQue]);
  OBufHead = OBufTail = 0;
  OBufFull = false;
  return block;
}

void TSerBaseDispatcher::ClearOutputRing() {
  std::lock_guard lock(OutputSection);
  OBufHead = OBufTail = 0;
  OBufFull = false;
}

int TSerBaseDispatcher::ProcessCommunications() {
  std::this_thread::yield();
  return 0;
}

// ---- Triggers ------------------------------------------------------------------------------------

std::uint32_t TSerBaseDispatcher::AllocateTriggerHandle() {
  if (TriggerCounter < kMaxTriggerCounter) return TriggerCounter++ * 8;
  for (std::uint32_t h = 8; h <= kMaxTriggerCounter; h += 8) {
    const bool held = std::any_of(TimerTriggers.begin(), TimerTriggers.end(),
                                  [h](const TTimerTrigger& t) { return t.Handle == h; });
    if (!held) return h;
  }
  return 0;
}

int TSerBaseDispatcher::AddTimerTrigger() {
  std::lock_guard lock(DataSection);
  const std::uint32_t handle = AllocateTriggerHandle();
  if (handle == 0) return ecNoMoreTriggers;
  TTimerTrigger t;
  t.Handle = handle;
  TimerTriggers.push_back(t);
  return static_cast<int>(handle);
}

TTimerTrigger* TSerBaseDispatcher::FindTimer(std::uint32_t handle) {
  if (handle <= AvailTriggerHandle) return nullptr;
  auto it = std::find_if(TimerTriggers.begin(), TimerTriggers.end(),
                         [handle](const TTimerTrigger& t) { return t.Handle == handle; });
  return it == TimerTriggers.end() ? nullptr : &*it;
}

int TSerBaseDispatcher::SetTimerTrigger(std::uint32_t triggerHandle, std::int32_t ticks, bool activate) {
  std::lock_guard lock(DataSection);
  TTimerTrigger* t = FindTimer(triggerHandle);
  if (t == nullptr) return ecBadTriggerHandle;
  if (activate) {
    if (ticks != 0) t->Period = ticks;
    StartTickTimer(t->Timer, t->Period);
  }
  t->Active = activate;
  return 0;
}

int TSerBaseDispatcher::RemoveTrigger(std::uint32_t triggerHandle) {
  std::lock_guard lock(DataSection);
  if (triggerHandle == AvailTriggerHandle) {
    LenTrigger = 0;
    return 0;
  }
  TTimerTrigger* t = FindTimer(triggerHandle);
  if (t == nullptr) return ecBadTriggerHandle;
  TimerTriggers.erase(TimerTriggers.begin() + (t - TimerTriggers.data()));
  return 0;
}

void TSerBaseDispatcher::ChangeLengthTrigger(std::uint32_t length) {
  {
    std::lock_guard lock(DataSection);
    LenTrigger = length;
  }
  // Bytes left waiting for a longer length may now be enough.
  FQueue.Wake();
}

std::chrono::microseconds TSerBaseDispatcher::InputPause() {
  std::uint32_t length = 0;
  std::uint32_t baud = 0;
  {
    std::lock_guard lock(DataSection);
    length = LenTrigger;
    baud = DCB.BaudRate;
  }
  // Only while bytes are held back: after a wake-up a delivery is under way, and the next reply
  // (a short one, say) must be seen at once.
  if (length <= 1 || baud == 0 || quietInput_ == 0) return std::chrono::microseconds(0);
  std::uint32_t waiting = quietInput_;
  {
    std::lock_guard lock(DispSection);
    waiting += RingBytes() - (InAvailMessage ? GetCount : 0);
  }
  if (waiting >= length) return std::chrono::microseconds(0);
  // Ten bits a byte: start, eight data bits, stop.
  const std::uint64_t us = std::uint64_t{length - waiting} * 10'000'000u / baud;
  return std::chrono::microseconds(std::min<std::uint64_t>(us, 1000));
}

void TSerBaseDispatcher::QueueInput(std::unique_ptr<TDataBuffer> chunk) {
  std::uint32_t length = 0;
  {
    std::lock_guard lock(DataSection);
    length = LenTrigger;
  }
  bool wake = length <= 1;
  if (!wake) {
    // Bytes already moved into the ring may be counted again here: that only wakes it sooner.
    quietInput_ += static_cast<std::uint32_t>(chunk->FDataUsed);
    std::uint32_t waiting = 0;
    {
      std::lock_guard lock(DispSection);
      waiting = RingBytes() - (InAvailMessage ? GetCount : 0);
    }
    wake = waiting + quietInput_ >= length;
  }
  if (wake) quietInput_ = 0;
  FQueue.Push(std::move(chunk), wake);
}

void TSerBaseDispatcher::RemoveAllTriggers() {
  std::lock_guard lock(DataSection);
  TimerTriggers.clear();
  LenTrigger = 0;
  TriggerCounter = 1;
}

void TSerBaseDispatcher::SaveTriggers(TTriggerSave& save) {
  std::lock_guard lock(DataSection);
  save.LenTrigger = LenTrigger;
  save.TimerTriggers = TimerTriggers;
}

void TSerBaseDispatcher::RestoreTriggers(const TTriggerSave& save) {
  std::lock_guard lock(DataSection);
  LenTrigger = save.LenTrigger;
  TimerTriggers = save.TimerTriggers;
}

// ---- Receivers -----------------------------------------------------------------------------------

void TSerBaseDispatcher::RegisterWndTriggerHandler(std::uintptr_t window, IMessagePump* pump,
                                                   TTriggerWindowProc proc) {
  std::lock_guard lock(DataSection);
  WndTriggerHandlers.push_back(TWndTriggerHandler{window, pump, std::move(proc), false});
  HandlerServiceNeeded = true;
}

void TSerBaseDispatcher::DeregisterWndTriggerHandler(std::uintptr_t window) {
  std::lock_guard lock(DataSection);
  auto it = std::find_if(WndTriggerHandlers.begin(), WndTriggerHandlers.end(),
                         [window](const TWndTriggerHandler& w) { return w.Window == window; });
  if (it == WndTriggerHandlers.end()) return;
  if (FEventBusy) {
    it->Deleted = true;
    DeletePending = true;
  } else {
    WndTriggerHandlers.erase(it);
  }
}

void TSerBaseDispatcher::UpdateHandlerFlags(TSerHandlerFlagUpdate update) {
  std::lock_guard lock(DataSection);
  const bool others = WndTriggerHandlers.size() > 1;
  switch (update) {
    case TSerHandlerFlagUpdate::fuKeepPort: HandlerServiceNeeded = others || PortHandlerInstalled; break;
    case TSerHandlerFlagUpdate::fuEnablePort:
      PortHandlerInstalled = true;
      HandlerServiceNeeded = true;
      break;
    case TSerHandlerFlagUpdate::fuDisablePort:
      PortHandlerInstalled = false;
      HandlerServiceNeeded = others;
      break;
  }
}

// ---- Line settings -------------------------------------------------------------------------------

TDeviceControlBlock TSerBaseDispatcher::CurrentDCB() {
  std::lock_guard lock(DataSection);
  return DCB;
}

std::uint32_t TSerBaseDispatcher::LastLineErrors() {
  std::lock_guard lock(DataSection);
  return LastError;
}

int TSerBaseDispatcher::SetLine(std::int32_t baud, std::uint8_t parity, std::uint8_t dataBits,
                                std::uint8_t stopBits) {
  TDeviceControlBlock wanted;
  {
    std::lock_guard lock(DataSection);
    DeviceGetState(DCB);
    wanted = DCB;
    wanted.fBinary = true;
    wanted.fParity = false;
    wanted.fDsrSensitivity = false;
    wanted.fNull = false;
    wanted.fTXContinueOnXoff = true;
    if (baud != 0) wanted.BaudRate = static_cast<std::uint32_t>(baud);
    if (parity != 5) wanted.Parity = parity;
    if (dataBits != 9) wanted.ByteSize = dataBits;
    if (stopBits != 3) {
      const std::uint8_t stops = stopBits == 0 ? 1 : std::min<std::uint8_t>(stopBits, 2);
      wanted.StopBits = stops == 1 ? ONESTOPBIT : TWOSTOPBITS;
    }
    if (wanted.ByteSize == 5) wanted.StopBits = ONE5STOPBITS;
    if (wanted == DCB) return 0;
  }
  WaitForDrain();
  std::lock_guard lock(DataSection);
  DeviceGetState(DCB);
  DCB.BaudRate = wanted.BaudRate;
  DCB.Parity = wanted.Parity;
  DCB.ByteSize = wanted.ByteSize;
  DCB.StopBits = wanted.StopBits;
  DCB.fBinary = wanted.fBinary;
  DCB.fParity = wanted.fParity;
  DCB.fDsrSensitivity = wanted.fDsrSensitivity;
  DCB.fNull = wanted.fNull;
  DCB.fTXContinueOnXoff = wanted.fTXContinueOnXoff;
  return ApplyDCB();
}

void TSerBaseDispatcher::WaitForDrain() {
  for (int i = 0; i < 5000 && OutBuffUsed() != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::uint32_t bitsPerChar = 0;
  std::uint32_t tenthsPerBit = 0;
  {
    std::lock_guard lock(DataSection);
    DeviceGetState(DCB);
    bitsPerChar = DCB.ByteSize + 2u + (DCB.Parity != 0 ? 1u : 0u) + (DCB.StopBits != ONESTOPBIT ? 1u : 0u);
    tenthsPerBit = LastBaud > 0 ? 10000000u / static_cast<std::uint32_t>(LastBaud) : 0;
  }
  // The time the last 18 characters take on the wire, so the line change does not cut them.
  std::uint64_t tenths = std::uint64_t{18} * bitsPerChar * tenthsPerBit;
  if (tenths < 10000) tenths *= 2;
  const std::uint64_t ms = (tenths + 9999) / 10000;
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int TSerBaseDispatcher::ApplyDCB() {
  std::lock_guard lock(DataSection);
  if (!DTRAuto) DCB.fDtrControl = DTRState ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  if (!RTSAuto) DCB.fRtsControl = RTSState ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  const int r = DeviceSetState(DCB);
  LastBaud = static_cast<std::int32_t>(DCB.BaudRate);
  SetDtr(DTRState);
  if (!RS485Mode) SetRts(RTSState);
  return r;
}

int TSerBaseDispatcher::SetDtr(bool on) {
  std::lock_guard lock(DataSection);
  if (DTRAuto) return 1;
  DeviceEscape(on ? SETDTR : CLRDTR);
  DTRState = on;
  return 0;
}

int TSerBaseDispatcher::SetRts(bool on) {
  std::lock_guard lock(DataSection);
  if (RTSAuto) return 1;
  DeviceEscape(on ? SETRTS : CLRRTS);
  RTSState = on;
  return 0;
}

int TSerBaseDispatcher::HWFlowOptions(std::uint32_t bufferFull, std::uint32_t bufferResume,
                                      std::uint32_t options) {
  if (bufferFull < bufferResume || bufferFull > InQue) return ecBadArgument;
  std::lock_guard lock(DataSection);
  DeviceGetState(DCB);
  DCB.fOutxCtsFlow = false;
  DCB.fOutxDsrFlow = false;
  DCB.fDtrControl = DTR_CONTROL_DISABLE;
  DCB.fRtsControl = RTS_CONTROL_DISABLE;
  DTRAuto = RTSAuto = false;
  if ((options & hwfUseDTR) != 0) {
    DCB.fDtrControl = DTR_CONTROL_HANDSHAKE;
    DTRAuto = true;
  } else if (DTRState) {
    DCB.fDtrControl = DTR_CONTROL_ENABLE;
  }
  if ((options & hwfUseRTS) != 0) {
    DCB.fRtsControl = RTS_CONTROL_HANDSHAKE;
    RTSAuto = true;
  } else if (RTSState) {
    DCB.fRtsControl = RTS_CONTROL_ENABLE;
  }
  DCB.XoffLim = static_cast<std::uint16_t>(InQue - bufferFull);
  DCB.XonLim = static_cast<std::uint16_t>(bufferResume);
  if ((options & hwfRequireDSR) != 0) DCB.fOutxDsrFlow = true;
  if ((options & hwfRequireCTS) != 0) DCB.fOutxCtsFlow = true;
  return ApplyDCB();
}

int TSerBaseDispatcher::SWFlowEnable(std::uint32_t bufferFull, std::uint32_t bufferResume,
                                     std::uint32_t options) {
  if (bufferFull < bufferResume || bufferFull > InQue) return ecBadArgument;
  std::lock_guard lock(DataSection);
  DeviceGetState(DCB);
  DCB.fInX = (options & swfReceive) != 0;
  DCB.fOutX = (options & swfTransmit) != 0;
  DCB.XoffLim = static_cast<std::uint16_t>(InQue - bufferFull);
  DCB.XonLim = static_cast<std::uint16_t>(bufferResume);
  return ApplyDCB();
}

int TSerBaseDispatcher::SWFlowDisable() {
  std::lock_guard lock(DataSection);
  DeviceGetState(DCB);
  DCB.fOutX = false;
  DCB.fInX = false;
  return ApplyDCB();
}

int TSerBaseDispatcher::SWFlowChars(char on, char off) {
  std::lock_guard lock(DataSection);
  DeviceGetState(DCB);
  DCB.XonChar = on;
  DCB.XoffChar = off;
  return ApplyDCB();
}

}  // namespace tarvex
